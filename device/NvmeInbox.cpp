#include "device/AtaDevice.h"

namespace kestrel {

bool TAtaDevice::DeviceGetFirmwareInfo(uint8_t*, uint32_t, bool) { return false; }
uint8_t TAtaDevice::NvmeFirmwareUpdate(const uint8_t*, uint32_t, uint8_t, uint8_t) { return 0; }
bool TAtaDevice::DoIdentifyDeviceNVMeStorageQuery(int32_t) { return false; }

}  // namespace kestrel
