#include "device/NvmeDecode.h"

#include <algorithm>
#include <cstring>

#include "platform/wire/Csmi.h"
#include "platform/wire/Nvme.h"

namespace kestrel {
namespace {

FirmwareSlots Decode(const uint8_t* info, size_t size, size_t headerSize, size_t recordSize) {
    FirmwareSlots s;
    if (info == nullptr || size < headerSize) return s;
    s.valid = true;
    s.upgradeSupport = info[8];
    s.slotCount = info[9];
    s.activeSlot = info[10];
    s.pendingSlot = info[11];
    const size_t fits = (size - headerSize) / recordSize;
    const size_t n = std::min<size_t>(s.slotCount, fits);
    s.clamped = n < s.slotCount;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* r = info + headerSize + i * recordSize;
        FirmwareSlot slot;
        slot.number = r[0];
        slot.readOnly = r[1];
        std::memcpy(slot.revision, r + 8, sizeof slot.revision);
        s.slots.push_back(slot);
    }
    return s;
}

}  // namespace

FirmwareSlots DecodeFirmwareInfoV1(const uint8_t* info, size_t size) {
    return Decode(info, size, sizeof(wire::STORAGE_FIRMWARE_INFO), sizeof(wire::STORAGE_FIRMWARE_SLOT_INFO));
}

FirmwareSlots DecodeFirmwareInfoV2(const uint8_t* info, size_t size) {
    return Decode(info, size, sizeof(wire::STORAGE_FIRMWARE_INFO_V2), sizeof(wire::STORAGE_FIRMWARE_SLOT_INFO_V2));
}

int ChooseFirmwareSlot(const FirmwareSlots& s, uint8_t requested) {
    if (!s.valid || !s.upgradeSupport) return -1;
    if (s.slotCount >= requested) return requested;
    for (const auto& slot : s.slots)
        if (slot.readOnly == 0) return slot.number;
    return -1;
}

bool ActivateSucceeded(uint32_t rc) {
    return rc == wire::FIRMWARE_STATUS_SUCCESS || rc == wire::FIRMWARE_STATUS_POWER_CYCLE_REQUIRED;
}

NvmeCompletion DecodeCompletion(const uint8_t e[16]) {
    NvmeCompletion c;
    auto rd32 = [&](int o) { return static_cast<uint32_t>(e[o] | (e[o + 1] << 8) | (e[o + 2] << 16) | (uint32_t{e[o + 3]} << 24)); };
    auto rd16 = [&](int o) { return static_cast<uint16_t>(e[o] | (e[o + 1] << 8)); };
    c.dw0 = rd32(0);
    c.dw1 = rd32(4);
    c.sqHead = rd16(8);
    c.sqId = rd16(10);
    c.commandId = rd16(12);
    const uint16_t status = rd16(14);
    c.phase = status & 1;
    c.statusCode = static_cast<uint8_t>((status >> 1) & 0xFF);
    c.statusCodeType = static_cast<uint8_t>((status >> 9) & 7);
    c.more = static_cast<uint8_t>((status >> 14) & 1);
    c.doNotRetry = static_cast<uint8_t>((status >> 15) & 1);
    return c;
}

std::vector<PhyRow> DecodePhyTable(const uint8_t* info, size_t size) {
    std::vector<PhyRow> rows;
    if (info == nullptr) return rows;
    constexpr size_t kEntry = sizeof(wire::CSMI_SAS_PHY_ENTITY);
    constexpr size_t kFirst = offsetof(wire::CSMI_SAS_PHY_INFO, Phy);
    constexpr size_t kAttached = offsetof(wire::CSMI_SAS_PHY_ENTITY, Attached);
    for (size_t i = 0; i < wire::CSMI_SAS_MAX_PHYS; ++i) {
        const size_t at = kFirst + i * kEntry;
        if (at + kEntry > size) break;
        const uint8_t* e = info + at;
        const uint8_t* a = e + kAttached;
        if (e[0] == 0) continue;
        PhyRow r;
        r.index = static_cast<int>(i);
        r.portId = e[offsetof(wire::CSMI_SAS_PHY_ENTITY, bPortIdentifier)];
        r.type = e[0];
        r.attachedType = a[0];
        r.initiatorProtocol = e[2];
        r.attachedInitiatorProtocol = a[2];
        r.targetProtocol = e[3];
        r.attachedTargetProtocol = a[3];
        r.phyId = e[20];
        r.attachedPhyId = a[20];
        std::memcpy(r.sasAddress, e + 12, 8);
        std::memcpy(r.attachedSasAddress, a + 12, 8);
        rows.push_back(r);
    }
    return rows;
}

}  // namespace kestrel
