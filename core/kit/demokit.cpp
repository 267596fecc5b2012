// Taking the demo kit into use on a new installation, and the copy of it that
// an installed program gives each new user.
#include "kit/demokit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace rimbal {

bool ChooseDemoKit(Settings& settings) {
    // A user who chose a package, or who started once without one, keeps it;
    // a deleted demo kit is not brought back as an empty package.
    if (!settings.FirstRun || !settings.PackName.isEmpty()) return false;
    if (!QFileInfo(settings.PackPath + kDemoPackage + QStringLiteral("/Keys.txt")).isFile()) return false;
    settings.PackName = kDemoPackage;
    return true;
}

bool CopyDemoKit(const Settings& settings, QString* error) {
    const QString source = settings.ProgramDir + QStringLiteral("Pacotes/") + kDemoPackage + u'/';
    const QString target = settings.PackPath + kDemoPackage;
    if (settings.ProgramDir == settings.AppDir || !settings.FirstRun || !QFileInfo(source + QStringLiteral("Keys.txt")).isFile() ||
        QFileInfo::exists(target))
        return true;
    // Copied whole into a hidden folder first, so a full disk leaves no half kit.
    const QString staging = settings.PackPath + u'.' + kDemoPackage + QStringLiteral(".novo");
    QDir(staging).removeRecursively();
    bool ok = QDir().mkpath(staging);
    qint64 needed = 0;
    const QFileInfoList files = QDir(source).entryInfoList(QDir::Files);
    for (const QFileInfo& file : files) needed += file.size();
    for (qsizetype i = 0; ok && i < files.size(); ++i)
        ok = QFile::copy(files[i].filePath(), staging + u'/' + files[i].fileName());
    ok = ok && QDir().rename(staging, target);
    if (!ok) {
        QDir(staging).removeRecursively();
        if (error) {
            *error = QStringLiteral("O kit de demonstração não foi copiado para %1").arg(QDir::toNativeSeparators(target));
            const qint64 free = QStorageInfo(settings.PackPath).bytesAvailable();
            if (free >= 0 && free < needed + 65536) *error += QStringLiteral(": falta espaço no disco");
            *error += QStringLiteral(". A cópia será tentada de novo no próximo início.");
        }
    }
    return ok;
}

}  // namespace rimbal
