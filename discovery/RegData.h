#pragma once
// One physical disk as the device manager found it, and the ancestor nodes above it.
#include <cstdint>

#include "platform/wire/Guid.h"

namespace kestrel {

struct DEVICE_NODE {
    KGUID classGuid;
    char instanceId[260];
    char service[260];
    uint16_t vendorId;
    uint16_t deviceId;
    DEVICE_NODE* parent;  // owned; null at the top of the tree or when the parent was not located
};

// SCSI_ADDRESS as IOCTL_SCSI_GET_ADDRESS returns it.
struct SCSI_ADDRESS_DATA {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};
static_assert(sizeof(SCSI_ADDRESS_DATA) == 8);

// The most disks the discovery and the drive table handle.
constexpr int32_t kMaxDisks = 16;

struct REG_DATA {
    DEVICE_NODE* ancestors;  // owned: the disk's parent node; null when not found
    char DevicePath[512];
    char instanceId[260];
    char location[260];
    char friendlyName[260];
    char service[260];
    uint8_t addressObtained;
    SCSI_ADDRESS_DATA scsiAddress;
    uint8_t BusType;
    uint8_t taken;
    uint16_t ParentVid;
    uint16_t ParentDid;
    char productRevision[8];  // not terminated
    char serialNumber[20];    // not terminated
};

constexpr uint8_t BUS_TYPE_RAID = 0x08;
constexpr uint8_t BUS_TYPE_SATA = 0x0B;
constexpr uint8_t BUS_TYPE_NVME = 0x11;

}  // namespace kestrel
