// Taking the demo kit into use on a new installation.
#include "kit/demokit.h"

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

}  // namespace rimbal
