#pragma once
// Writing a firmware image into an ATA drive with DOWNLOAD MICROCODE: the normal flow (subcommand
// 03h chunks, then an optional closing 07h) and the enterprise flow (optional update-boot marker,
// 0Eh chunks, optional 0Fh activation).
#include <cstdint>

#include "device/AtaDevice.h"

namespace kestrel {

// The result code of the last command sent (ATACMD_OK when all succeeded). An image larger than
// the device's read buffer, no image bytes for a non-zero size, or a max_sector outside 1..255 is
// refused with ATACMD_FAIL before any command is sent.
uint8_t FlashImageAta(TAtaDevice& device, const uint8_t* image, uint32_t size, uint32_t max_sector, int32_t iFlashMode,
                      uint8_t bUpdateBoot, uint8_t bFwReboot);

}  // namespace kestrel
