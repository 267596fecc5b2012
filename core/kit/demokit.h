// The demo kit that the build puts into the packages folder, so that a new
// installation plays at the first key press.
#pragma once

#include "settings/settings.h"

#include <QString>

namespace rimbal {

inline const QString kDemoPackage = QStringLiteral("Rimbal Demo");

// A new installation (first run, no package named) takes the demo kit into
// use when it lies in the packages folder. True when it did.
bool ChooseDemoKit(Settings& settings);

}  // namespace rimbal
