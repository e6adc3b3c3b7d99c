#pragma once
// ATA and SCSI requests as they cross the storage driver boundary: the Windows ATA and SCSI
// pass-through structures, the SCSI/ATA translation command block and sense data, the miniport
// header and the CSMI STP pass-through, and the IDENTIFY DEVICE fields the program reads.
#include <cstdint>

#include "platform/wire/Layout.h"

namespace kestrel::wire {

// I/O control codes (FILE_DEVICE_CONTROLLER, METHOD_BUFFERED).
constexpr uint32_t kIOCTL_SCSI_PASS_THROUGH = 0x0004D004;
constexpr uint32_t kIOCTL_SCSI_MINIPORT = 0x0004D008;
constexpr uint32_t kIOCTL_SCSI_PASS_THROUGH_DIRECT = 0x0004D014;
constexpr uint32_t kIOCTL_ATA_PASS_THROUGH = 0x0004D02C;
constexpr uint32_t kIOCTL_ATA_PASS_THROUGH_DIRECT = 0x0004D030;

// The eight ATA registers in the order of IDEREGS. On output byte 0 is the error and byte 6 the status.
struct ATA_TASKFILE {
    uint8_t bFeaturesReg;
    uint8_t bSectorCountReg;
    uint8_t bSectorNumberReg;  // LBA low
    uint8_t bCylLowReg;        // LBA mid
    uint8_t bCylHighReg;       // LBA high
    uint8_t bDriveHeadReg;
    uint8_t bCommandReg;
    uint8_t bReserved;
};
KESTREL_WIRE_SIZE(ATA_TASKFILE, 8, 8);
KESTREL_WIRE_OFFSET(ATA_TASKFILE, bCommandReg, 6, 6);

constexpr uint16_t kATA_FLAGS_DRDY_REQUIRED = 0x01;
constexpr uint16_t kATA_FLAGS_DATA_IN = 0x02;
constexpr uint16_t kATA_FLAGS_DATA_OUT = 0x04;

struct ATA_PASS_THROUGH_EX {
    uint16_t Length;
    uint16_t AtaFlags;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t ReservedAsUchar;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t ReservedAsUlong;
    uintptr_t DataBufferOffset;
    uint8_t PreviousTaskFile[8];
    uint8_t CurrentTaskFile[8];
};
KESTREL_WIRE_SIZE(ATA_PASS_THROUGH_EX, 40, 48);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_EX, DataTransferLength, 8, 8);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_EX, TimeOutValue, 12, 12);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_EX, DataBufferOffset, 20, 24);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_EX, PreviousTaskFile, 24, 32);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_EX, CurrentTaskFile, 32, 40);

struct ATA_PASS_THROUGH_DIRECT {
    uint16_t Length;
    uint16_t AtaFlags;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t ReservedAsUchar;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t ReservedAsUlong;
    uintptr_t DataBuffer;  // PVOID
    uint8_t PreviousTaskFile[8];
    uint8_t CurrentTaskFile[8];
};
KESTREL_WIRE_SIZE(ATA_PASS_THROUGH_DIRECT, 40, 48);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_DIRECT, DataBuffer, 20, 24);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_DIRECT, CurrentTaskFile, 32, 40);

// The buffered ATA request as the device object lays it out: header, filler, 512 data bytes.
struct ATA_PASS_THROUGH_BUF {
    ATA_PASS_THROUGH_EX apt;
    uint32_t Filler;
    uint8_t ucDataBuf[512];
};
KESTREL_WIRE_SIZE(ATA_PASS_THROUGH_BUF, 556, 568);
KESTREL_WIRE_OFFSET(ATA_PASS_THROUGH_BUF, ucDataBuf, 44, 52);

constexpr uint8_t kSCSI_IOCTL_DATA_OUT = 0;
constexpr uint8_t kSCSI_IOCTL_DATA_IN = 1;
constexpr uint8_t kSCSI_IOCTL_DATA_UNSPECIFIED = 2;

struct SCSI_PASS_THROUGH {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uintptr_t DataBufferOffset;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};
KESTREL_WIRE_SIZE(SCSI_PASS_THROUGH, 44, 56);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, DataIn, 8, 8);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, DataTransferLength, 12, 12);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, TimeOutValue, 16, 16);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, DataBufferOffset, 20, 24);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, SenseInfoOffset, 24, 32);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH, Cdb, 28, 36);

struct SCSI_PASS_THROUGH_DIRECT {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uintptr_t DataBuffer;  // PVOID
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};
KESTREL_WIRE_SIZE(SCSI_PASS_THROUGH_DIRECT, 44, 56);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_DIRECT, DataBuffer, 20, 24);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset, 24, 32);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_DIRECT, Cdb, 28, 36);

// Buffered SCSI request: header, filler, 32 sense bytes, 512 data bytes.
struct SCSI_PASS_THROUGH_BUF {
    SCSI_PASS_THROUGH spt;
    uint32_t Filler;
    uint8_t ucSenseBuf[32];
    uint8_t ucDataBuf[512];
};
KESTREL_WIRE_SIZE(SCSI_PASS_THROUGH_BUF, 592, 608);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_BUF, ucSenseBuf, 48, 60);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_BUF, ucDataBuf, 80, 92);

// Direct SCSI request: header, filler, 32 sense bytes; the data stays in the caller's buffer.
struct SCSI_PASS_THROUGH_DIRECT_BUF {
    SCSI_PASS_THROUGH_DIRECT sptd;
    uint32_t Filler;
    uint8_t ucSenseBuf[32];
};
KESTREL_WIRE_SIZE(SCSI_PASS_THROUGH_DIRECT_BUF, 80, 96);
KESTREL_WIRE_OFFSET(SCSI_PASS_THROUGH_DIRECT_BUF, ucSenseBuf, 48, 60);

constexpr uint8_t kSCSI_STATUS_CHECK_CONDITION = 0x02;

// ATA PASS-THROUGH (12) of the SCSI/ATA Translation standard.
struct SAT_ATA_PASS_THROUGH12 {
    uint8_t OperationCode;  // A1h
    uint8_t Protocol;       // multiple count (7-5), protocol (4-1), reserved (0)
    uint8_t Flags;          // off-line (7-6), CK_COND (5), T_TYPE (4), T_DIR (3), BYTE_BLOCK (2), T_LENGTH (1-0)
    uint8_t Features;
    uint8_t SectorCount;
    uint8_t LbaLow;
    uint8_t LbaMid;
    uint8_t LbaHigh;
    uint8_t Device;
    uint8_t Command;
    uint8_t Reserved;
    uint8_t Control;
};
KESTREL_WIRE_SIZE(SAT_ATA_PASS_THROUGH12, 12, 12);
KESTREL_WIRE_OFFSET(SAT_ATA_PASS_THROUGH12, Command, 9, 9);

constexpr uint8_t SAT_OPCODE_ATA_PASS_THROUGH12 = 0xA1;
constexpr uint8_t SAT_PROTOCOL_NON_DATA = 3;
constexpr uint8_t SAT_PROTOCOL_PIO_IN = 4;
constexpr uint8_t SAT_PROTOCOL_PIO_OUT = 5;
constexpr uint8_t SAT_T_DIR_IN = 0x08;
constexpr uint8_t SAT_BYTE_BLOCK = 0x04;
constexpr uint8_t SAT_T_LENGTH_SECTOR_COUNT = 0x02;

// Fixed-format sense data (response codes 70h, 71h).
struct SENSE_DATA_FIXED {
    uint8_t ResponseCode;  // valid (7), code (6-0)
    uint8_t Obsolete;
    uint8_t SenseKey;      // filemark, EOM, ILI (7-5), sense key (3-0)
    uint8_t Information[4];
    uint8_t AdditionalSenseLength;
    uint8_t CommandSpecific[4];
    uint8_t AdditionalSenseCode;
    uint8_t AdditionalSenseCodeQualifier;
    uint8_t FieldReplaceableUnitCode;
    uint8_t SenseKeySpecific[3];
};
KESTREL_WIRE_SIZE(SENSE_DATA_FIXED, 18, 18);
KESTREL_WIRE_OFFSET(SENSE_DATA_FIXED, AdditionalSenseLength, 7, 7);
KESTREL_WIRE_OFFSET(SENSE_DATA_FIXED, AdditionalSenseCode, 12, 12);

// Descriptor-format sense data header (response codes 72h, 73h); descriptors follow at byte 8.
struct SENSE_DATA_DESCRIPTOR_HEADER {
    uint8_t ResponseCode;
    uint8_t SenseKey;
    uint8_t AdditionalSenseCode;
    uint8_t AdditionalSenseCodeQualifier;
    uint8_t Reserved[3];
    uint8_t AdditionalSenseLength;
};
KESTREL_WIRE_SIZE(SENSE_DATA_DESCRIPTOR_HEADER, 8, 8);

constexpr uint8_t SENSE_DESCRIPTOR_ATA_STATUS_RETURN = 0x09;

// The ATA status return descriptor of the SCSI/ATA Translation standard.
struct ATA_STATUS_RETURN_DESCRIPTOR {
    uint8_t DescriptorCode;  // 09h
    uint8_t AdditionalLength;  // 0Ch
    uint8_t Extend;
    uint8_t Error;
    uint8_t SectorCountHigh;
    uint8_t SectorCount;
    uint8_t LbaLowHigh;
    uint8_t LbaLow;
    uint8_t LbaMidHigh;
    uint8_t LbaMid;
    uint8_t LbaHighHigh;
    uint8_t LbaHigh;
    uint8_t Device;
    uint8_t Status;
};
KESTREL_WIRE_SIZE(ATA_STATUS_RETURN_DESCRIPTOR, 14, 14);
KESTREL_WIRE_OFFSET(ATA_STATUS_RETURN_DESCRIPTOR, Status, 13, 13);

// The miniport request header.
struct SRB_IO_CONTROL {
    uint32_t HeaderLength;
    uint8_t Signature[8];
    uint32_t Timeout;
    uint32_t ControlCode;
    uint32_t ReturnCode;
    uint32_t Length;
};
KESTREL_WIRE_SIZE(SRB_IO_CONTROL, 28, 28);
KESTREL_WIRE_OFFSET(SRB_IO_CONTROL, ControlCode, 16, 16);
KESTREL_WIRE_OFFSET(SRB_IO_CONTROL, ReturnCode, 20, 20);
KESTREL_WIRE_OFFSET(SRB_IO_CONTROL, Length, 24, 24);

constexpr uint32_t CC_CSMI_SAS_STP_PASSTHRU = 25;
constexpr uint32_t CSMI_SAS_STP_READ = 0x01;
constexpr uint32_t CSMI_SAS_STP_WRITE = 0x02;
constexpr uint32_t CSMI_SAS_STP_UNSPECIFIED = 0x04;
constexpr uint32_t CSMI_SAS_STP_PIO = 0x10;

struct CSMI_SAS_STP_PASSTHRU {
    uint8_t bPhyIdentifier;
    uint8_t bPortIdentifier;
    uint8_t bConnectionRate;
    uint8_t bReserved;
    uint8_t bDestinationSASAddress[8];
    uint8_t bReserved2[4];
    uint8_t bCommandFIS[20];
    uint32_t uFlags;
    uint32_t uDataLength;
};
KESTREL_WIRE_SIZE(CSMI_SAS_STP_PASSTHRU, 44, 44);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU, bCommandFIS, 16, 16);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU, uFlags, 36, 36);

struct CSMI_SAS_STP_PASSTHRU_STATUS {
    uint8_t bConnectionStatus;
    uint8_t bReserved[3];
    uint8_t bStatusFIS[20];
    uint32_t uSCR[16];
    uint32_t uDataBytes;
};
KESTREL_WIRE_SIZE(CSMI_SAS_STP_PASSTHRU_STATUS, 92, 92);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU_STATUS, bStatusFIS, 4, 4);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU_STATUS, uDataBytes, 88, 88);

// The STP pass-through buffer; the data follows the status (the declared 4 bytes are the start of it).
struct CSMI_SAS_STP_PASSTHRU_BUFFER {
    SRB_IO_CONTROL IoctlHeader;
    CSMI_SAS_STP_PASSTHRU Parameters;
    CSMI_SAS_STP_PASSTHRU_STATUS Status;
    uint8_t bDataBuffer[4];
};
KESTREL_WIRE_SIZE(CSMI_SAS_STP_PASSTHRU_BUFFER, 168, 168);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU_BUFFER, Parameters, 28, 28);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU_BUFFER, Status, 72, 72);
KESTREL_WIRE_OFFSET(CSMI_SAS_STP_PASSTHRU_BUFFER, bDataBuffer, 164, 164);

// Register host-to-device FIS type; the status comes back in a device-to-host FIS (34h).
constexpr uint8_t FIS_TYPE_REG_H2D = 0x27;

// IDENTIFY DEVICE data: 256 little-endian words; strings carry their two bytes per word swapped.
struct IDENTIFY_DEVICE_DATA {
    uint16_t GeneralConfiguration;     // word 0
    uint16_t NumCylinders;             // word 1
    uint16_t SpecificConfiguration;    // word 2
    uint16_t Words3to9[7];
    uint8_t SerialNumber[20];          // words 10-19
    uint16_t Words20to22[3];
    uint8_t FirmwareRevision[8];       // words 23-26
    uint8_t ModelNumber[40];           // words 27-46
    uint16_t Words47to127[81];
    uint16_t SecurityStatus;           // word 128
    uint16_t Words129to158[30];
    uint8_t VendorFlags;               // byte 318: low byte of word 159
    uint8_t VendorByte319;
    uint16_t Words160to255[96];
};
KESTREL_WIRE_SIZE(IDENTIFY_DEVICE_DATA, 512, 512);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, SpecificConfiguration, 4, 4);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, SerialNumber, 20, 20);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, FirmwareRevision, 46, 46);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, ModelNumber, 54, 54);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, SecurityStatus, 256, 256);
KESTREL_WIRE_OFFSET(IDENTIFY_DEVICE_DATA, VendorFlags, 318, 318);

}  // namespace kestrel::wire
