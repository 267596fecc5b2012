// The text files of a package folder (Keys.txt, Info.txt, Midi.txt, Layers.txt):
// the one bound every one of them is read under, and the rule that a package
// from elsewhere may name only samples it brought along. Qt Core only.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace rimbal {

// No text file of a package may be larger: a key list of 64 lines is a few
// KB, and a package comes from anyone.
inline constexpr qint64 kMaxPackageText = 1024 * 1024;

// The names of a package's own text files, which are never its samples.
const QStringList& PackageTextFiles();
// name is one of them, in any letter case.
bool IsPackageTextFile(const QString& name);

// Reads a text file of a package under kMaxPackageText. False, with a
// message for the user in error, when it cannot be read or is larger.
bool ReadPackageText(const QString& path, QStringList& lines, QString* error = nullptr);

// The sample a key line names: the text after its last "*".
QString KeyLineSample(const QString& line);

// The samples one line of a package's text file names (none for a line that
// names none, which is kept as it is).
using SamplesOfLine = std::function<QStringList(const QString& line)>;

// For a package arriving from elsewhere: keeps the lines of its text file
// whose samples are all among packaged (the bare names of the files it
// brought, compared as the file system compares), so nothing it names can
// lie outside its folder. The other lines are dropped from the file and
// listed in errors, the first few hundred each on its own and then their
// count. False, with the cause in errors, when the file cannot be read or
// written back; a missing file is left alone.
bool KeepPackagedSamples(const QString& file, const SamplesOfLine& samplesOf, const QStringList& packaged,
                         QStringList& errors);

}  // namespace rimbal
