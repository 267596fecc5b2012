// Text files as the Windows program writes them: Windows-1252, CR LF. The
// conversion to and from Unicode happens here, at the file boundary.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace rimbal {

QString FromWindows1252(const QByteArray& bytes);
// Characters outside Windows-1252 become "?".
QByteArray ToWindows1252(const QString& text);

// Why text cannot be written to one line of these files and read back as it
// was: a line break, or characters Windows-1252 cannot hold (named in the
// reason). Empty when it can.
QString TextLineProblem(const QString& text);

// Reads the whole file into lines (CR LF, LF or CR ends). False when it
// cannot be read, or when maxBytes is not negative and the file holds more
// bytes than that (nothing past the bound is read).
bool ReadTextLines(const QString& path, QStringList& lines, qint64 maxBytes = -1);

// Writes lines, each ended by CR LF, through a temporary file renamed over the
// target, so a failure never leaves a half-written file. On failure, error
// holds a message and the old file is intact.
bool WriteTextLines(const QString& path, const QStringList& lines, QString* error = nullptr);

// Renames the written file over its target only when every byte reached the
// disk. QSaveFile::commit() alone misses a write that fails while it empties
// its buffer (a disk that filled up) and would put a short or empty file in
// place of the old one. Uncommitted, the file is discarded when destroyed.
bool CommitSaveFile(QSaveFile& file);

}  // namespace rimbal
