#pragma once
// The drive table as the updater's scan fills it, as text or JSON.
#include <string>

#include "platform/Platform.h"

namespace kestrel::diag {

// kind -1: the start-up's scan step (the disk list, then CSMI controllers when it holds no drive);
// 0 or 1: that scan kind only. Each NVMe drive's slot list is read again after the scan.
std::string ScanReport(const Platform& platform, bool json, int kind);

}  // namespace kestrel::diag
