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

// An installed program brings the demo kit in its own folder, which no user
// may write; a new user (first run) gets a copy in their packages folder, to
// play, change or delete as their own. A user who deleted it does not get it
// back. False, with the reason in error, when a needed copy failed (nothing is
// left half copied); the first run then stays open for the next start.
bool CopyDemoKit(const Settings& settings, QString* error = nullptr);

}  // namespace rimbal
