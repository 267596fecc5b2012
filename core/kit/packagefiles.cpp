// A package's text files: their size bound and the samples an imported one
// may name.
#include "kit/packagefiles.h"

#include "base/prompt.h"
#include "base/textfiles.h"
#include "base/textroutines.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace rimbal {

const QStringList& PackageTextFiles() {
    static const QStringList names{QStringLiteral("Keys.txt"), QStringLiteral("Info.txt"), QStringLiteral("Midi.txt"),
                                   QStringLiteral("Layers.txt")};
    return names;
}

bool IsPackageTextFile(const QString& name) { return PackageTextFiles().contains(name, Qt::CaseInsensitive); }

bool ReadPackageText(const QString& path, QStringList& lines, QString* error) {
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    // The declared size first, so a large file is not even opened.
    if (info.isFile() && info.size() > kMaxPackageText) {
        if (error)
            *error = QStringLiteral("O arquivo %1 passa de %2 KB e não foi lido.").arg(shown).arg(kMaxPackageText / 1024);
        return false;
    }
    QStringList read;
    if (!info.isFile() || !ReadTextLines(path, read, kMaxPackageText)) {
        if (error) *error = QStringLiteral("Não foi possível ler o arquivo %1.").arg(shown);
        return false;
    }
    lines = read;
    return true;
}

QString KeyLineSample(const QString& line) {
    const qsizetype star = line.lastIndexOf(u'*');
    return star < 0 ? line : line.mid(star + 1);
}

bool KeepPackagedSamples(const QString& file, const SamplesOfLine& samplesOf, const QStringList& packaged,
                         QStringList& errors) {
    if (!QFileInfo::exists(file)) return true;
    QStringList lines;
    QString error;
    if (!ReadPackageText(file, lines, &error)) {
        errors << error;
        return false;
    }
    QSet<QString> names;
    for (const QString& p : packaged)
        if (!IsPackageTextFile(p)) names.insert(kFileNameCase == Qt::CaseSensitive ? p : p.toLower());
    const QString fileName = QFileInfo(file).fileName();
    QStringList kept;
    qsizetype dropped = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString foreign;
        bool ok = true;
        for (const QString& sample : samplesOf(lines[i])) {
            // A bare name of a file it brought: no folder, no drive, no "..".
            if (names.contains(kFileNameCase == Qt::CaseSensitive ? sample : sample.toLower())) continue;
            foreign = sample;
            ok = false;
            break;
        }
        if (ok) {
            kept << lines[i];
            continue;
        }
        if (++dropped <= kLogShownLines)
            errors << QStringLiteral("%1, linha %2 ignorada: \"%3\" não é um arquivo do pacote.")
                          .arg(fileName)
                          .arg(i + 1)
                          .arg(foreign.left(200));
    }
    if (dropped > kLogShownLines)
        errors << QStringLiteral("%1: mais %2 linhas ignoradas.").arg(fileName).arg(dropped - kLogShownLines);
    if (dropped == 0) return true;
    if (!WriteTextLines(file, kept, &error)) {
        errors << error;
        return false;
    }
    return true;
}

}  // namespace rimbal
