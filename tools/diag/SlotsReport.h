#pragma once
// The firmware slots of every NVMe drive (inbox driver and Intel RST) and the driver information
// and phy table of every CSMI controller port, as text or JSON.
#include <string>

#include "platform/Platform.h"

namespace kestrel::diag {

std::string SlotsReport(const Platform& platform, bool json);
std::string CsmiReport(const Platform& platform, bool json);

}  // namespace kestrel::diag
