#include "device/AtaDevice.h"

namespace kestrel {

bool TAtaDevice::Send_IRST_NVME_PASS_THROUTH(uint8_t, const wire::NVME_COMMAND&, const uint8_t*, uint32_t, bool,
                                             wire::INTEL_NVME_PASS_THROUGH*, uint32_t, uint32_t) {
    return false;
}
bool TAtaDevice::IrstDeviceGetFirmwareInfo(int32_t, uint8_t, bool, uint32_t, uint8_t*, uint8_t, uint8_t) { return false; }
uint8_t TAtaDevice::IrstFirmwareUpdate(int32_t, uint8_t, uint8_t, uint8_t, uint32_t, const uint8_t*, uint8_t, uint8_t) {
    return 0;
}

}  // namespace kestrel
