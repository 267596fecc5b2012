// Unpacking a Hydrogen kit archive (.h2drumkit, a gzip-compressed tar) into a
// staging folder. The archive is untrusted: entries with "..", absolute
// names, links and devices are refused, nothing is written outside the
// staging folder, and the unpacked size and entry count are bounded.
#pragma once

#include "archives/ziparchive.h"

#include <QString>

#include <functional>

namespace rimbal {

struct ArchiveLimits {
    qint64 maxBytes = qint64(2) << 30;  // all unpacked files together
    int maxEntries = kMaxArchiveEntries;
};

// Unpacks archive into stagingFolder, which must exist. On failure error
// holds a message for the user; what was unpacked so far stays in the
// staging folder for the caller to remove with it. progress gets the share
// of the archive read, 0 to 1, as the work goes on.
bool ExtractKitArchive(const QString& archive, const QString& stagingFolder, QString* error = nullptr,
                       const ArchiveLimits& limits = {}, const std::function<void(double)>& progress = {});

// The drumkit.xml of an unpacked kit: in the folder itself or one folder
// down (the first in name order). Empty when there is none.
QString FindDrumkitXml(const QString& folder);

}  // namespace rimbal
