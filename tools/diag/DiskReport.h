#pragma once
// What the device discovery sees on a machine, as text or JSON: the support engineer's view.
#include <string>

#include "platform/Platform.h"

namespace kestrel::diag {

// Creates a device manager, enumerates the physical drives and describes every record.
std::string DisksReport(const Platform& platform, bool json);

}  // namespace kestrel::diag
