#pragma once
// CSMI requests of RAID drivers (the published CSMI SAS definitions): driver information and the
// phy table. The STP pass-through lives in Ata.h with the other ATA transports.
#include <cstdint>

#include "platform/wire/Ata.h"  // SRB_IO_CONTROL
#include "platform/wire/Layout.h"

namespace kestrel::wire {

constexpr uint32_t CC_CSMI_SAS_GET_DRIVER_INFO = 1;
constexpr uint32_t CC_CSMI_SAS_GET_PHY_INFO = 20;
constexpr uint32_t CSMI_SAS_STATUS_SUCCESS = 0;
constexpr uint32_t CSMI_SAS_MAX_PHYS = 32;

// Device types and protocols of an identify record.
constexpr uint8_t CSMI_SAS_NO_DEVICE_ATTACHED = 0x00;
constexpr uint8_t CSMI_SAS_END_DEVICE = 0x10;
constexpr uint8_t CSMI_SAS_PROTOCOL_SATA = 0x01;
constexpr uint8_t CSMI_SAS_PROTOCOL_SMP = 0x02;
constexpr uint8_t CSMI_SAS_PROTOCOL_STP = 0x04;
constexpr uint8_t CSMI_SAS_PROTOCOL_SSP = 0x08;

struct CSMI_SAS_DRIVER_INFO {
    uint8_t szName[81];
    uint8_t szDescription[81];
    uint16_t usMajorRevision;
    uint16_t usMinorRevision;
    uint16_t usBuildRevision;
    uint16_t usReleaseRevision;
    uint16_t usCSMIMajorRevision;
    uint16_t usCSMIMinorRevision;
};
KESTREL_WIRE_SIZE(CSMI_SAS_DRIVER_INFO, 174, 174);
KESTREL_WIRE_OFFSET(CSMI_SAS_DRIVER_INFO, szDescription, 81, 81);
KESTREL_WIRE_OFFSET(CSMI_SAS_DRIVER_INFO, usMajorRevision, 162, 162);
KESTREL_WIRE_OFFSET(CSMI_SAS_DRIVER_INFO, usMinorRevision, 164, 164);

struct CSMI_SAS_DRIVER_INFO_BUFFER {
    SRB_IO_CONTROL IoctlHeader;
    CSMI_SAS_DRIVER_INFO Information;
};
KESTREL_WIRE_SIZE(CSMI_SAS_DRIVER_INFO_BUFFER, 204, 204);
KESTREL_WIRE_OFFSET(CSMI_SAS_DRIVER_INFO_BUFFER, Information, 28, 28);

struct CSMI_SAS_IDENTIFY {
    uint8_t bDeviceType;
    uint8_t bRestricted;
    uint8_t bInitiatorPortProtocol;
    uint8_t bTargetPortProtocol;
    uint8_t bRestricted2[8];
    uint8_t bSASAddress[8];
    uint8_t bPhyIdentifier;
    uint8_t bSignalClass;
    uint8_t bReserved[6];
};
KESTREL_WIRE_SIZE(CSMI_SAS_IDENTIFY, 28, 28);
KESTREL_WIRE_OFFSET(CSMI_SAS_IDENTIFY, bInitiatorPortProtocol, 2, 2);
KESTREL_WIRE_OFFSET(CSMI_SAS_IDENTIFY, bTargetPortProtocol, 3, 3);
KESTREL_WIRE_OFFSET(CSMI_SAS_IDENTIFY, bSASAddress, 12, 12);
KESTREL_WIRE_OFFSET(CSMI_SAS_IDENTIFY, bPhyIdentifier, 20, 20);

struct CSMI_SAS_PHY_ENTITY {
    CSMI_SAS_IDENTIFY Identify;
    uint8_t bPortIdentifier;
    uint8_t bNegotiatedLinkRate;
    uint8_t bMinimumLinkRate;
    uint8_t bMaximumLinkRate;
    uint8_t bPhyChangeCount;
    uint8_t bAutoDiscover;
    uint8_t bPhyFeatures;
    uint8_t bReserved;
    CSMI_SAS_IDENTIFY Attached;
};
KESTREL_WIRE_SIZE(CSMI_SAS_PHY_ENTITY, 64, 64);
KESTREL_WIRE_OFFSET(CSMI_SAS_PHY_ENTITY, bPortIdentifier, 28, 28);
KESTREL_WIRE_OFFSET(CSMI_SAS_PHY_ENTITY, bPhyChangeCount, 32, 32);
KESTREL_WIRE_OFFSET(CSMI_SAS_PHY_ENTITY, Attached, 36, 36);

struct CSMI_SAS_PHY_INFO {
    uint8_t bNumberOfPhys;
    uint8_t bReserved[3];
    CSMI_SAS_PHY_ENTITY Phy[CSMI_SAS_MAX_PHYS];
};
KESTREL_WIRE_SIZE(CSMI_SAS_PHY_INFO, 2052, 2052);
KESTREL_WIRE_OFFSET(CSMI_SAS_PHY_INFO, Phy, 4, 4);

struct CSMI_SAS_PHY_INFO_BUFFER {
    SRB_IO_CONTROL IoctlHeader;
    CSMI_SAS_PHY_INFO Information;
};
KESTREL_WIRE_SIZE(CSMI_SAS_PHY_INFO_BUFFER, 2080, 2080);
KESTREL_WIRE_OFFSET(CSMI_SAS_PHY_INFO_BUFFER, Information, 28, 28);

}  // namespace kestrel::wire
