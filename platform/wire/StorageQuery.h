#pragma once
// The storage path queries: SCSI address, device number and the storage device descriptor.
#include "platform/wire/Layout.h"

namespace kestrel::wire {

constexpr uint32_t IOCTL_SCSI_GET_ADDRESS_CODE = 0x00041018;
constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER_CODE = 0x002D1080;
constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY_CODE = 0x002D1400;

// STORAGE_PROPERTY_ID / STORAGE_QUERY_TYPE values.
constexpr uint32_t StorageDeviceProperty = 0;
constexpr uint32_t PropertyStandardQuery = 0;

struct STORAGE_PROPERTY_QUERY {
    uint32_t PropertyId;
    uint32_t QueryType;
    uint8_t AdditionalParameters[1];
};

struct STORAGE_DEVICE_DESCRIPTOR {
    uint32_t Version;
    uint32_t Size;
    uint8_t DeviceType;
    uint8_t DeviceTypeModifier;
    uint8_t RemovableMedia;
    uint8_t CommandQueueing;
    uint32_t VendorIdOffset;
    uint32_t ProductIdOffset;
    uint32_t ProductRevisionOffset;
    uint32_t SerialNumberOffset;
    uint32_t BusType;  // STORAGE_BUS_TYPE
    uint32_t RawPropertiesLength;
    uint8_t RawDeviceProperties[1];
};

struct SCSI_ADDRESS {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};

struct STORAGE_DEVICE_NUMBER {
    uint32_t DeviceType;
    uint32_t DeviceNumber;
    uint32_t PartitionNumber;
};

KESTREL_WIRE_SIZE(STORAGE_PROPERTY_QUERY, 12, 12);
KESTREL_WIRE_OFFSET(STORAGE_PROPERTY_QUERY, QueryType, 4, 4);
KESTREL_WIRE_OFFSET(STORAGE_PROPERTY_QUERY, AdditionalParameters, 8, 8);
KESTREL_WIRE_SIZE(STORAGE_DEVICE_DESCRIPTOR, 40, 40);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, DeviceType, 8, 8);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset, 12, 12);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset, 16, 16);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset, 20, 20);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset, 24, 24);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, BusType, 28, 28);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength, 32, 32);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties, 36, 36);
KESTREL_WIRE_SIZE(SCSI_ADDRESS, 8, 8);
KESTREL_WIRE_OFFSET(SCSI_ADDRESS, PortNumber, 4, 4);
KESTREL_WIRE_OFFSET(SCSI_ADDRESS, Lun, 7, 7);
KESTREL_WIRE_SIZE(STORAGE_DEVICE_NUMBER, 12, 12);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_NUMBER, DeviceNumber, 4, 4);
KESTREL_WIRE_OFFSET(STORAGE_DEVICE_NUMBER, PartitionNumber, 8, 8);

// The descriptor buffer the enumeration reads: the fixed header and the texts it points to.
constexpr uint32_t kDeviceDescriptorBufferSize = 256;

}  // namespace kestrel::wire
