#include "device/AtaDevice.h"

namespace kestrel {

uint8_t TAtaDevice::csmi_ioctl(uint32_t, uint8_t*, uint32_t) { return ATACMD_FAIL; }
bool TAtaDevice::get_phy_info(wire::CSMI_SAS_PHY_INFO&) { return false; }

}  // namespace kestrel
