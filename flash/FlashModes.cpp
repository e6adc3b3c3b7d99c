#include "flash/FlashModes.h"

#include <cstring>

#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t kBlock = 512;
constexpr uint8_t kDownloadMicrocode = 0x92;

ATA_TASKFILE Download(uint8_t sub, uint8_t count, uint16_t offset) {
    ATA_TASKFILE t{};
    t.bFeaturesReg = sub;
    t.bSectorCountReg = count;
    t.bSectorNumberReg = 0;  // block count high byte
    t.bCylLowReg = static_cast<uint8_t>(offset & 0xFF);
    t.bCylHighReg = static_cast<uint8_t>(offset >> 8);
    t.bDriveHeadReg = 0;
    t.bCommandReg = kDownloadMicrocode;
    return t;
}

// One data command: count blocks from the image copy at the given block offset.
uint8_t SendChunk(TAtaDevice& dev, uint8_t sub, uint32_t count, uint32_t offset) {
    ATA_TASKFILE tf = Download(sub, static_cast<uint8_t>(count), static_cast<uint16_t>(offset));
    const uint32_t src = (static_cast<uint32_t>(tf.bCylHighReg) * 256 + tf.bCylLowReg) * kBlock;
    uint32_t len = count * kBlock;
    std::memset(dev.GetWriteBuffer(), 0, len);
    std::memcpy(dev.GetWriteBuffer(), dev.GetReadBuffer() + src, len);
    const uint8_t r = dev.SendAtaCommand(tf, dev.GetWriteBuffer(), ATA_DIR_OUT, len);
    ++dev.iCmdCount;
    return r;
}

uint8_t SendNonData(TAtaDevice& dev, uint8_t sub, uint16_t offset) {
    dev.SetTimeout(60.0f);
    ATA_TASKFILE tf = Download(sub, 0, offset);
    uint32_t len = 0;
    return dev.SendAtaCommand(tf, nullptr, ATA_DIR_NONE, len);
}

}  // namespace

uint8_t FlashImageAta(TAtaDevice& dev, const uint8_t* image, uint32_t size, uint32_t max_sector, int32_t iFlashMode,
                      uint8_t bUpdateBoot, uint8_t bFwReboot) {
    if (size > kDeviceBufferSize || (image == nullptr && size != 0) || max_sector == 0 || max_sector > 255) {
        dev.WriteLog(Fmt("FlashImageAta: image of %u bytes or max_sector %u refused (buffer %u bytes, max_sector 1..255)\n", size,
                         max_sector, kDeviceBufferSize));
        return ATACMD_FAIL;
    }
    dev.SetTimeout(60.0f);
    uint8_t* rb = dev.GetReadBuffer();
    const bool inPlace = image == rb;
    // The identify of the enterprise test lands in the read buffer; an image already there keeps
    // its first sector.
    uint8_t firstSector[kBlock];
    if (inPlace) std::memcpy(firstSector, rb, kBlock);
    const bool enterprise = dev.IsEnterpriseDrive();
    if (inPlace) {
        std::memcpy(rb, firstSector, kBlock);
    } else {
        std::memset(rb, 0, kDeviceBufferSize);
        if (size) std::memcpy(rb, image, size);
    }
    const uint32_t blocks = (size + kBlock - 1) / kBlock;
    const uint32_t chunks = blocks / max_sector;
    const uint32_t rest = blocks % max_sector;
    dev.iCmdTotal = static_cast<int32_t>((blocks + max_sector - 1) / max_sector);
    dev.iCmdCount = 0;

    if (enterprise || iFlashMode == 2) {
        dev.WriteLog(Fmt("Enterprise flash flow (mode Eh/Fh): Reboot=%d, Bootcode=%d, iFlashMode=%d, max_sector=%d\n", bFwReboot,
                         bUpdateBoot, iFlashMode, static_cast<int>(max_sector)));
        if (bUpdateBoot != 0) {
            const uint8_t r = SendNonData(dev, 0x0E, 0x414C);
            if (r != ATACMD_OK) {
                dev.WriteLog("Enterprise UpdateBoot (mode Eh, offset 414Ch) failed !\n");
                return r;
            }
        }
        dev.WriteLog("Enterprise (mode Eh) start !\n");
        for (uint32_t k = 0; k < chunks; ++k) {
            const uint8_t r = SendChunk(dev, 0x0E, max_sector, k * max_sector);
            if (r != ATACMD_OK) {
                dev.WriteLog("Enterprise UpdateBoot (mode Eh) failed !\n");
                return r;
            }
        }
        if (rest > 0) {
            dev.WriteLog("Enterprise (mode Eh) module part \n");
            const uint8_t r = SendChunk(dev, 0x0E, rest, chunks * max_sector);
            if (r != ATACMD_OK) {
                dev.WriteLog("Enterprise UpdateBoot (mode Eh) module part failed !\n");
                return r;
            }
        }
        if (bFwReboot != 0) {
            dev.WriteLog(Fmt("Enterprise (mode Fh) activate: Reboot=%d, Bootcode=%d, iFlashMode=%d, max_sector=%d\n", bFwReboot,
                             bUpdateBoot, iFlashMode, static_cast<int>(max_sector)));
            const uint8_t r = SendNonData(dev, 0x0F, 0);
            if (r != ATACMD_OK) {
                dev.WriteLog("Enterprise UpdateBoot (mode Fh) failed !\n");
                return r;
            }
        }
        dev.WriteLog("Enterprise (mode Eh/Fh) Finished !\n");
        return ATACMD_OK;
    }

    dev.WriteLog(Fmt("Normal flash (mode3/mode7): Reboot=%d, Bootcode=%d, iFlashMode=%d, max_sector=%d\n", bFwReboot, bUpdateBoot,
                     iFlashMode, static_cast<int>(max_sector)));
    uint8_t r = ATACMD_OK;
    for (uint32_t k = 0; k < chunks; ++k) {
        r = SendChunk(dev, 0x03, max_sector, k * max_sector);
        if (r != ATACMD_OK) return r;
    }
    if (rest > 0) {
        r = SendChunk(dev, 0x03, rest, chunks * max_sector);
        if (r != ATACMD_OK) return r;
    }
    if (iFlashMode != 0) return r;
    const uint16_t offset = bUpdateBoot == 1 ? 0x414C : (bFwReboot == 0 ? 1 : 0);
    return SendNonData(dev, 0x07, offset);
}

}  // namespace kestrel
