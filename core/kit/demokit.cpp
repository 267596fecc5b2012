// Taking the demo kit into use on a new installation, and the copy of it that
// an installed program gives each new user.
#include "kit/demokit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

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
    QDirIterator files(source, QDir::Files);
    while (ok && files.hasNext()) {
        const QString file = files.next();
        ok = QFile::copy(file, staging + u'/' + QFileInfo(file).fileName());
    }
    ok = ok && QDir().rename(staging, target);
    if (!ok) {
        QDir(staging).removeRecursively();
        if (error) *error = QStringLiteral("O kit de demonstração não foi copiado para %1.").arg(QDir::toNativeSeparators(target));
    }
    return ok;
}

}  // namespace rimbal
