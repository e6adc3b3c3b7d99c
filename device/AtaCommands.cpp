// The ATA and vendor commands the program sends, and the transport probe.
#include <cstring>

#include "device/AtaDevice.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t kSector = 512;

ATA_TASKFILE Tf(uint8_t fr, uint8_t sc, uint8_t lo, uint8_t mid, uint8_t hi, uint8_t cmd) {
    ATA_TASKFILE t{};
    t.bFeaturesReg = fr;
    t.bSectorCountReg = sc;
    t.bSectorNumberReg = lo;
    t.bCylLowReg = mid;
    t.bCylHighReg = hi;
    t.bDriveHeadReg = 0;
    t.bCommandReg = cmd;
    t.bReserved = 0;
    return t;
}

// The signature of the maker's vendor payloads.
void PutPayloadSignature(uint8_t* p) {
    p[28] = 0x9A;
    p[29] = 0x3C;
    p[30] = 0x71;
    p[31] = 0xE5;
}

}  // namespace

uint8_t TAtaDevice::IdentifyDevice() {
    uint8_t* rb = GetReadBuffer();
    rb[4] = 0;
    ATA_TASKFILE tf = Tf(0x00, kSector / kSector, 0, 0, 0, 0xEC);
    uint32_t len = kSector;
    const uint8_t r = SendAtaCommand(tf, rb, ATA_DIR_IN, len);
    if (rb[4] == 0) return ATACMD_FAIL;
    // A drive that flags an error but delivers identify data with a specific-configuration value answered.
    if (IsSpecificConfigurationByte(rb[4])) return ATACMD_OK;
    return r;
}

bool TAtaDevice::IsEnterpriseDrive() {
    if (IdentifyDevice() != ATACMD_OK) return false;
    return IsEnterpriseFlags(GetReadBuffer()[offsetof(wire::IDENTIFY_DEVICE_DATA, VendorFlags)]);
}

uint8_t TAtaDevice::ReadPpidLog() {
    std::memset(GetReadBuffer(), 0, kSector);
    ATA_TASKFILE tf = Tf(0x00, 0x01, 0x9A, 0x00, 0x00, 0x2F);
    uint32_t len = kSector;
    return SendAtaCommand(tf, GetReadBuffer(), ATA_DIR_IN, len);
}

uint8_t TAtaDevice::ReadDefRevision() {
    SetTimeout(10.0f);
    uint8_t* wb = GetWriteBuffer();
    std::memset(wb, 0, kSector);
    wb[0] = 0x0A;
    wb[1] = 0x07;
    ATA_TASKFILE tf = Tf(0xFC, 0x01, 0, 0, 0, 0xFF);
    uint32_t len = kSector;
    const uint8_t r = SendAtaCommand(tf, wb, ATA_DIR_OUT, len);
    if (r != ATACMD_OK) return r;
    SetTimeout(10.0f);
    std::memset(GetReadBuffer(), 0, kSector);
    tf = Tf(0xFD, 0x01, 0, 0, 0, 0xFF);
    len = kSector;
    return SendAtaCommand(tf, GetReadBuffer(), ATA_DIR_IN, len);
}

uint8_t TAtaDevice::EraseAllLegacy() {
    SetTimeout(60.0f);
    uint8_t* wb = GetWriteBuffer();
    std::memset(wb, 0, kSector);
    wb[0] = 0x07;
    wb[1] = 0xBE;
    ATA_TASKFILE tf = Tf(0xFC, 0x01, 0, 0, 0, 0xFF);
    uint32_t len = kSector;
    const uint8_t r = SendAtaCommand(tf, wb, ATA_DIR_OUT, len);
    if (r != ATACMD_OK) return r;
    SetTimeout(300.0f);
    tf = Tf(0xFD, 0x00, 0, 0, 0, 0xFF);
    len = 0;
    return SendAtaCommand(tf, nullptr, ATA_DIR_NONE, len);
}

uint8_t TAtaDevice::EraseAllNew() {
    SetTimeout(60.0f);
    uint8_t* wb = GetWriteBuffer();
    std::memset(wb, 0, kSector);
    wb[0] = 0x07;
    wb[1] = 0xBE;
    PutPayloadSignature(wb);
    ATA_TASKFILE tf = Tf(0x00, 0x00, 0x4B, 0x51, 0x44, 0xE8);
    uint32_t len = kSector;
    return SendAtaCommand(tf, wb, ATA_DIR_OUT, len);
}

uint8_t TAtaDevice::QueryNewEraseSupport() {
    SetTimeout(10.0f);
    uint8_t* wb = GetWriteBuffer();
    std::memset(wb, 0, kSector);
    wb[0] = 0x51;
    PutPayloadSignature(wb);
    uint8_t r = ATACMD_FAIL;
    for (int attempt = 0; attempt < 3; ++attempt) {
        ATA_TASKFILE tf = Tf(0x00, 0x00, 0x4B, 0x51, 0x44, 0xE8);
        uint32_t len = kSector;
        r = SendAtaCommand(tf, wb, ATA_DIR_OUT, len);
        if (r == ATACMD_OK) break;
    }
    if (r != ATACMD_OK) return r;
    uint8_t* rb = GetReadBuffer();
    std::memset(rb, 0, kSector);
    ATA_TASKFILE tf = Tf(0x80, 0x00, 0x4B, 0x51, 0x44, 0xE4);
    uint32_t len = kSector;
    r = SendAtaCommand(tf, rb, ATA_DIR_IN, len);
    if (r != ATACMD_OK) return r;
    const uint32_t status = rb[0] | (rb[1] << 8) | (rb[2] << 16) | (static_cast<uint32_t>(rb[3]) << 24);
    if (status != 1) return ATACMD_FAIL;
    tf = Tf(0x00, 0x00, 0x4B, 0x51, 0x44, 0xE4);
    len = kSector;
    return SendAtaCommand(tf, rb, ATA_DIR_IN, len);
}

uint8_t TAtaDevice::ReadVendorBuffer(uint8_t feature, uint8_t count) {
    SetTimeout(20.0f);
    ATA_TASKFILE tf = Tf(feature, count, 0x51, 0x5A, 0x56, 0xE4);
    uint32_t len = kSector;
    return SendAtaCommand(tf, GetReadBuffer(), ATA_DIR_IN, len);
}

void TAtaDevice::DetectProtocol() {
    static constexpr int32_t kKinds[3] = {PRO_ATA_PASSTHROUGH, PRO_SCSI_PASSTHROUGH, PRO_SAT_PASSTHROUGH};
    bool found = false;
    if (iVisualStyle != 20) {
        for (int32_t k : kKinds) {
            iProtocol = k;
            if (ReadDefRevision() == ATACMD_OK) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        for (int32_t k : kKinds) {
            iProtocol = k;
            if (IdentifyDevice() == ATACMD_OK) {
                found = true;
                break;
            }
        }
    }
    if (!found) iProtocol = PRO_NONE;
    WriteLog(Fmt("PRO: %s\n", ProtocolName()));
}

}  // namespace kestrel
