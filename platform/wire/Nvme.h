#pragma once
// NVMe requests as they cross the driver boundary: the Windows miniport firmware request (slot
// information, image download, slot activation), the storage protocol query that carries an NVMe
// Identify, the NVMe submission and completion entries, and the Intel RST requests ("IntelNvm"
// pass-through and "IntelFw " firmware request). All little-endian; the 64-bit fields of the
// firmware records land on unaligned buffer offsets, so records are built locally and copied in.
#include <cstdint>

#include "platform/wire/Ata.h"  // SRB_IO_CONTROL
#include "platform/wire/Layout.h"

namespace kestrel::wire {

// ---------------------------------------------------------------- miniport firmware request

constexpr uint32_t IOCTL_SCSI_MINIPORT_FIRMWARE_CODE = 0x001B0780;
constexpr uint32_t FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION = 1;
constexpr uint32_t FIRMWARE_FUNCTION_GET_INFO = 1;
constexpr uint32_t FIRMWARE_FUNCTION_DOWNLOAD = 2;
constexpr uint32_t FIRMWARE_FUNCTION_ACTIVATE = 3;
constexpr uint32_t FIRMWARE_REQUEST_FLAG_CONTROLLER = 1;

// The ReturnCode of SRB_IO_CONTROL for firmware requests.
constexpr uint32_t FIRMWARE_STATUS_SUCCESS = 0x0;
constexpr uint32_t FIRMWARE_STATUS_ERROR = 0x1;
constexpr uint32_t FIRMWARE_STATUS_ILLEGAL_REQUEST = 0x2;
constexpr uint32_t FIRMWARE_STATUS_INVALID_PARAMETER = 0x3;
constexpr uint32_t FIRMWARE_STATUS_INPUT_BUFFER_TOO_BIG = 0x4;
constexpr uint32_t FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL = 0x5;
constexpr uint32_t FIRMWARE_STATUS_INVALID_SLOT = 0x6;
constexpr uint32_t FIRMWARE_STATUS_INVALID_IMAGE = 0x7;
constexpr uint32_t FIRMWARE_STATUS_CONTROLLER_ERROR = 0x10;
constexpr uint32_t FIRMWARE_STATUS_POWER_CYCLE_REQUIRED = 0x20;

constexpr uint8_t STORAGE_FIRMWARE_NO_PENDING_SLOT = 0xFF;
constexpr uint8_t STORAGE_FIRMWARE_DOWNLOAD_ANY_SLOT = 0xFF;

struct FIRMWARE_REQUEST_BLOCK {
    uint32_t Version;
    uint32_t Size;
    uint32_t Function;
    uint32_t Flags;
    uint32_t DataBufferOffset;  // from the start of SRB_IO_CONTROL
    uint32_t DataBufferLength;
};
KESTREL_WIRE_SIZE(FIRMWARE_REQUEST_BLOCK, 24, 24);
KESTREL_WIRE_OFFSET(FIRMWARE_REQUEST_BLOCK, Function, 8, 8);
KESTREL_WIRE_OFFSET(FIRMWARE_REQUEST_BLOCK, DataBufferOffset, 16, 16);
KESTREL_WIRE_OFFSET(FIRMWARE_REQUEST_BLOCK, DataBufferLength, 20, 20);

// Slot information, version 1: 16-byte header, 16-byte slot records.
struct STORAGE_FIRMWARE_SLOT_INFO {
    uint8_t SlotNumber;
    uint8_t ReadOnly;
    uint8_t Reserved[6];
    uint8_t Revision[8];  // text without terminator
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_SLOT_INFO, 16, 16);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_SLOT_INFO, Revision, 8, 8);

struct STORAGE_FIRMWARE_INFO {
    uint32_t Version;
    uint32_t Size;
    uint8_t UpgradeSupport;
    uint8_t SlotCount;
    uint8_t ActiveSlot;
    uint8_t PendingActivateSlot;  // FFh: none
    uint32_t Reserved;
    // SlotCount STORAGE_FIRMWARE_SLOT_INFO records follow.
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_INFO, 16, 16);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO, UpgradeSupport, 8, 8);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO, SlotCount, 9, 9);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO, ActiveSlot, 10, 10);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO, PendingActivateSlot, 11, 11);

// Slot information, version 2: 24-byte header, 24-byte slot records.
struct STORAGE_FIRMWARE_SLOT_INFO_V2 {
    uint8_t SlotNumber;
    uint8_t ReadOnly;
    uint8_t Reserved[6];
    uint8_t Revision[16];  // the first 8 bytes carry the revision
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_SLOT_INFO_V2, 24, 24);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_SLOT_INFO_V2, Revision, 8, 8);

struct STORAGE_FIRMWARE_INFO_V2 {
    uint32_t Version;
    uint32_t Size;
    uint8_t UpgradeSupport;
    uint8_t SlotCount;
    uint8_t ActiveSlot;
    uint8_t PendingActivateSlot;
    uint8_t FirmwareShared;
    uint8_t Reserved[3];
    uint32_t ImagePayloadAlignment;
    uint32_t ImagePayloadMaxSize;
    // SlotCount STORAGE_FIRMWARE_SLOT_INFO_V2 records follow.
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_INFO_V2, 24, 24);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO_V2, UpgradeSupport, 8, 8);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO_V2, SlotCount, 9, 9);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO_V2, PendingActivateSlot, 11, 11);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_INFO_V2, ImagePayloadAlignment, 16, 16);

// Download header, version 1; the chunk follows at byte 24.
struct STORAGE_FIRMWARE_DOWNLOAD {
    uint32_t Version;
    uint32_t Size;
    uint64_t Offset;
    uint64_t BufferSize;
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_DOWNLOAD, 24, 24);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_DOWNLOAD, Offset, 8, 8);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_DOWNLOAD, BufferSize, 16, 16);

// Download header, version 2; the chunk follows at byte 32.
struct STORAGE_FIRMWARE_DOWNLOAD_V2 {
    uint32_t Version;
    uint32_t Size;
    uint64_t Offset;
    uint64_t BufferSize;
    uint8_t Slot;
    uint8_t Reserved[3];
    uint32_t ImageSize;
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_DOWNLOAD_V2, 32, 32);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_DOWNLOAD_V2, Slot, 24, 24);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_DOWNLOAD_V2, ImageSize, 28, 28);

struct STORAGE_FIRMWARE_ACTIVATE {
    uint32_t Version;
    uint32_t Size;
    uint8_t SlotToActivate;
    uint8_t Reserved0[3];
};
KESTREL_WIRE_SIZE(STORAGE_FIRMWARE_ACTIVATE, 12, 12);
KESTREL_WIRE_OFFSET(STORAGE_FIRMWARE_ACTIVATE, SlotToActivate, 8, 8);

// The inbox driver's firmware request as the program sends it: one 4172-byte buffer.
constexpr uint32_t kMiniportFirmwareBufferSize = 4172;
struct MINIPORT_FIRMWARE_REQUEST {
    SRB_IO_CONTROL Header;
    FIRMWARE_REQUEST_BLOCK Request;
    uint8_t Data[kMiniportFirmwareBufferSize - 52];
};
KESTREL_WIRE_SIZE(MINIPORT_FIRMWARE_REQUEST, 4172, 4172);
KESTREL_WIRE_OFFSET(MINIPORT_FIRMWARE_REQUEST, Request, 28, 28);
KESTREL_WIRE_OFFSET(MINIPORT_FIRMWARE_REQUEST, Data, 52, 52);
// The chunk of a version-1 download starts at byte 76 of the request.
constexpr uint32_t kMiniportChunkOffset = 52 + sizeof(STORAGE_FIRMWARE_DOWNLOAD);
static_assert(kMiniportChunkOffset == 76);

// The image travels in chunks of 4096 bytes: what is left of the buffer after the headers,
// rounded down to a multiple of 4.
constexpr uint32_t kFirmwareChunkSize = 4096;
static_assert(((kMiniportFirmwareBufferSize - kMiniportChunkOffset) & ~3u) == kFirmwareChunkSize);

// ---------------------------------------------------------------- storage protocol query

constexpr uint32_t StorageAdapterProtocolSpecificProperty = 49;
constexpr uint32_t ProtocolTypeNvme = 3;
constexpr uint32_t NVMeDataTypeIdentify = 1;
constexpr uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;

struct STORAGE_PROTOCOL_SPECIFIC_DATA {
    uint32_t ProtocolType;
    uint32_t DataType;
    uint32_t ProtocolDataRequestValue;
    uint32_t ProtocolDataRequestSubValue;
    uint32_t ProtocolDataOffset;  // from the start of this record
    uint32_t ProtocolDataLength;
    uint32_t FixedProtocolReturnData;
    uint32_t ProtocolDataRequestSubValue2;
    uint32_t ProtocolDataRequestSubValue3;
    uint32_t ProtocolDataRequestSubValue4;
};
KESTREL_WIRE_SIZE(STORAGE_PROTOCOL_SPECIFIC_DATA, 40, 40);
KESTREL_WIRE_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue, 8, 8);
KESTREL_WIRE_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset, 16, 16);
KESTREL_WIRE_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength, 20, 20);
KESTREL_WIRE_OFFSET(STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData, 24, 24);

struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
    uint32_t Version;
    uint32_t Size;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
};
KESTREL_WIRE_SIZE(STORAGE_PROTOCOL_DATA_DESCRIPTOR, 48, 48);
KESTREL_WIRE_OFFSET(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData, 8, 8);

// The Identify query as sent: STORAGE_PROPERTY_QUERY with the protocol record in its additional
// parameters, then room for the 4096 identify bytes. The reply overlays it with the descriptor.
constexpr uint32_t kNvmeIdentifyDataSize = 4096;
struct NVME_STORAGE_QUERY_BUFFER {
    uint32_t PropertyId;
    uint32_t QueryType;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecific;
    uint8_t Data[kNvmeIdentifyDataSize];
};
KESTREL_WIRE_SIZE(NVME_STORAGE_QUERY_BUFFER, 4144, 4144);
KESTREL_WIRE_OFFSET(NVME_STORAGE_QUERY_BUFFER, ProtocolSpecific, 8, 8);
KESTREL_WIRE_OFFSET(NVME_STORAGE_QUERY_BUFFER, Data, 48, 48);

// ---------------------------------------------------------------- NVMe entries

constexpr uint8_t NVME_ADMIN_GET_LOG_PAGE = 0x02;
constexpr uint8_t NVME_ADMIN_IDENTIFY = 0x06;
constexpr uint8_t NVME_LOG_PAGE_FIRMWARE_SLOT_INFO = 0x03;

// Submission queue entry.
struct NVME_COMMAND {
    uint32_t CDW0;  // opcode (7-0), fused (9-8), PSDT (15-14), command identifier (31-16)
    uint32_t NSID;
    uint32_t CDW2;
    uint32_t CDW3;
    uint32_t MPTR[2];
    uint32_t PRP1[2];
    uint32_t PRP2[2];
    uint32_t CDW10;
    uint32_t CDW11;
    uint32_t CDW12;
    uint32_t CDW13;
    uint32_t CDW14;
    uint32_t CDW15;
};
KESTREL_WIRE_SIZE(NVME_COMMAND, 64, 64);
KESTREL_WIRE_OFFSET(NVME_COMMAND, NSID, 4, 4);
KESTREL_WIRE_OFFSET(NVME_COMMAND, CDW10, 40, 40);
KESTREL_WIRE_OFFSET(NVME_COMMAND, CDW15, 60, 60);

// Completion queue entry.
struct NVME_COMPLETION_ENTRY {
    uint32_t DW0;  // command specific
    uint32_t DW1;
    uint16_t SQHD;
    uint16_t SQID;
    uint16_t CID;
    uint16_t Status;  // P (0), SC (8-1), SCT (11-9), CRD (13-12), M (14), DNR (15)
};
KESTREL_WIRE_SIZE(NVME_COMPLETION_ENTRY, 16, 16);
KESTREL_WIRE_OFFSET(NVME_COMPLETION_ENTRY, SQHD, 8, 8);
KESTREL_WIRE_OFFSET(NVME_COMPLETION_ENTRY, CID, 12, 12);
KESTREL_WIRE_OFFSET(NVME_COMPLETION_ENTRY, Status, 14, 14);

// ---------------------------------------------------------------- Intel RST requests

constexpr uint32_t IRST_NVME_PASS_THROUGH_CONTROL_CODE = 0xF0002808;
constexpr uint32_t IRST_FIRMWARE_CONTROL_CODE = 0xF0000040;
constexpr uint32_t IRST_NVME_PASS_THROUGH_VERSION = 1;

// "IntelNvm": one NVMe command and its completion; the data follows the 168-byte request.
struct INTEL_NVME_PASS_THROUGH {
    SRB_IO_CONTROL Header;
    uint8_t Version;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    NVME_COMMAND Command;
    uint8_t IsIoCommandSet;
    uint8_t Reserved0[3];
    NVME_COMPLETION_ENTRY Completion;
    uint32_t DataBufferOffset;
    uint32_t DataBufferLength;
    uint8_t Reserved1[44];
};
KESTREL_WIRE_SIZE(INTEL_NVME_PASS_THROUGH, 168, 168);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, Version, 28, 28);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, PathId, 29, 29);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, Command, 32, 32);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, IsIoCommandSet, 96, 96);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, Completion, 100, 100);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, DataBufferOffset, 116, 116);
KESTREL_WIRE_OFFSET(INTEL_NVME_PASS_THROUGH, DataBufferLength, 120, 120);

// "IntelFw ": the miniport firmware request with the drive's address in front; 4184 bytes.
constexpr uint32_t kIrstFirmwareBufferSize = 4184;
struct IRST_FIRMWARE_REQUEST {
    SRB_IO_CONTROL Header;
    uint8_t Version;  // of the address block, 1
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    FIRMWARE_REQUEST_BLOCK Request;
    uint8_t Data[kIrstFirmwareBufferSize - 56];
};
KESTREL_WIRE_SIZE(IRST_FIRMWARE_REQUEST, 4184, 4184);
KESTREL_WIRE_OFFSET(IRST_FIRMWARE_REQUEST, PathId, 29, 29);
KESTREL_WIRE_OFFSET(IRST_FIRMWARE_REQUEST, Request, 32, 32);
KESTREL_WIRE_OFFSET(IRST_FIRMWARE_REQUEST, Data, 56, 56);
// The chunk of a version-2 download starts at byte 88 of the request.
constexpr uint32_t kIrstChunkOffset = 56 + sizeof(STORAGE_FIRMWARE_DOWNLOAD_V2);
static_assert(kIrstChunkOffset == 88);
static_assert(((kIrstFirmwareBufferSize - kIrstChunkOffset) & ~3u) == kFirmwareChunkSize);

// How many slot records each reply can hold at most.
constexpr uint32_t kMaxSlotsV1 = (kMiniportFirmwareBufferSize - 52 - sizeof(STORAGE_FIRMWARE_INFO)) /
                                 sizeof(STORAGE_FIRMWARE_SLOT_INFO);
constexpr uint32_t kMaxSlotsV2 = (kIrstFirmwareBufferSize - 56 - sizeof(STORAGE_FIRMWARE_INFO_V2)) /
                                 sizeof(STORAGE_FIRMWARE_SLOT_INFO_V2);

}  // namespace kestrel::wire
