#pragma once
// Decoding of what NVMe and CSMI drivers answer: firmware slot tables (both layouts), the NVMe
// completion entry, and the CSMI phy table. Every reply is outside input: counts are bounded by
// the bytes the reply can hold before a record is read.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

struct FirmwareSlot {
    uint8_t number = 0;
    uint8_t readOnly = 0;
    uint8_t revision[8]{};  // text without terminator
};

struct FirmwareSlots {
    bool valid = false;       // the reply holds at least the header
    uint8_t upgradeSupport = 0;
    uint8_t slotCount = 0;    // as the driver stated it
    uint8_t activeSlot = 0;
    uint8_t pendingSlot = 0;  // FFh: none
    bool clamped = false;     // the stated count was more than the reply holds
    std::vector<FirmwareSlot> slots;  // the records read: min(stated count, what fits)
};

// info points at the information data (version 1: 16-byte header and 16-byte records; version 2:
// 24-byte header and 24-byte records), size is what the reply buffer holds from there.
FirmwareSlots DecodeFirmwareInfoV1(const uint8_t* info, size_t size);
FirmwareSlots DecodeFirmwareInfoV2(const uint8_t* info, size_t size);

// The slot to download to and activate, or -1 when there is no writable one: with fewer slots
// than requested, the first writable record; otherwise the requested slot. Nothing without upgrade
// support.
int ChooseFirmwareSlot(const FirmwareSlots& slots, uint8_t requested);

// Activation ReturnCodes that mean the image was taken: 0, and 32 (the new firmware runs after
// the next reset). Every other code is a failed update.
bool ActivateSucceeded(uint32_t returnCode);

struct NvmeCompletion {
    uint32_t dw0 = 0, dw1 = 0;
    uint16_t sqHead = 0, sqId = 0, commandId = 0;
    uint8_t phase = 0, statusCode = 0, statusCodeType = 0, more = 0, doNotRetry = 0;
};
NvmeCompletion DecodeCompletion(const uint8_t entry[16]);

struct PhyRow {
    int index = 0;
    uint8_t portId = 0;
    uint8_t type = 0, attachedType = 0;
    uint8_t initiatorProtocol = 0, attachedInitiatorProtocol = 0;
    uint8_t targetProtocol = 0, attachedTargetProtocol = 0;
    uint8_t phyId = 0, attachedPhyId = 0;
    uint8_t sasAddress[8]{}, attachedSasAddress[8]{};
};
// The entries of a CSMI phy table (the 2052-byte CSMI_SAS_PHY_INFO) whose own device type is not
// 0, walked over all 32 entries and over no byte past size.
std::vector<PhyRow> DecodePhyTable(const uint8_t* info, size_t size);

}  // namespace kestrel
