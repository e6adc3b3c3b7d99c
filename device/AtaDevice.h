#pragma once
// The device object: the one object through which the program talks to drives. It owns the list
// of physical disks the device manager found, the handle of the selected drive, the transport its
// commands go through, the request and data buffers, a command timer and the last error state.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/DevMgr.h"
#include "device/AtaDecode.h"
#include "device/NvmeDecode.h"
#include "discovery/RegData.h"
#include "platform/Platform.h"
#include "platform/wire/Ata.h"
#include "platform/wire/Csmi.h"
#include "platform/wire/Nvme.h"
#include "support/HiTimer.h"

namespace kestrel {

using wire::ATA_TASKFILE;

// ATA command results.
constexpr uint8_t ATACMD_OK = 0;
constexpr uint8_t ATACMD_ERR = 1;
constexpr uint8_t ATACMD_TIMEOUT = 2;
constexpr uint8_t ATACMD_FAIL = 0xFE;
constexpr uint8_t ATACMD_SYS_NOT_SUPPORT = 0xFF;

// Transport kinds; the numbers are written into the boot-time parameter file, so they are fixed.
constexpr int32_t PRO_NONE = 0;
constexpr int32_t PRO_ATA_PASSTHROUGH = 1;
constexpr int32_t PRO_SCSI_PASSTHROUGH = 3;
constexpr int32_t PRO_SAT_PASSTHROUGH = 5;
constexpr int32_t PRO_CSMI = 14;
constexpr int32_t PRO_NVME = 16;

// Data directions of an ATA command: the Windows ATA pass-through flags.
constexpr uint32_t ATA_DIR_NONE = 0;
constexpr uint32_t ATA_DIR_IN = 2;
constexpr uint32_t ATA_DIR_OUT = 4;

// SelectPort kinds.
constexpr int32_t SELECT_ATA = 0;
constexpr int32_t SELECT_CSMI = 14;
constexpr int32_t SELECT_NVME = 16;

// Data directions of an Intel RST NVMe pass-through.
constexpr uint32_t NVME_DIR_WRITE = 1;
constexpr uint32_t NVME_DIR_READ = 2;

constexpr uint32_t kDeviceBufferSize = 524288;  // read and write buffers
constexpr uint32_t kCsmiBufferSize = 524456;    // one STP pass-through with up to 512 KiB of data

class TAtaDevice {
public:
    // Creates the device manager and takes the disks it lists.
    explicit TAtaDevice(const Platform& platform);
    // Takes a record list that the caller keeps alive (tests, tools); the device manager is created
    // but does not enumerate.
    TAtaDevice(const Platform& platform, REG_DATA* records, int32_t count);
    ~TAtaDevice();
    TAtaDevice(const TAtaDevice&) = delete;
    TAtaDevice& operator=(const TAtaDevice&) = delete;

    // --- selection and handles
    bool SelectPort(int32_t index, const char* devicePath, int32_t scsiPort, int32_t kind);
    void ClosePort();
    int32_t GetDriveCount() const { return iRegCount; }
    REG_DATA* GetDriveRecord(int32_t index);
    int32_t GetProtocol() const { return iProtocol; }
    void SetProtocol(int32_t kind) { iProtocol = kind; }
    void SetTimeout(float seconds) { fTimeout = seconds; }
    float GetTimeout() const { return fTimeout; }
    uint8_t* GetReadBuffer() { return pReadBuffer; }
    uint8_t* GetWriteBuffer() { return pWriteBuffer; }
    void SetCsmiPhy(int32_t id) { iCsmiPhy = id; }
    void SetCsmiPort(int32_t id) { iCsmiPort = id; }
    void SetCsmiSasAddress(uint32_t low, uint32_t high) {
        dwCsmiSasAddress[0] = low;
        dwCsmiSasAddress[1] = high;
    }
    int32_t GetCsmiPhy() const { return iCsmiPhy; }
    int32_t GetCsmiPort() const { return iCsmiPort; }
    uint64_t GetCsmiSasAddress() const { return (static_cast<uint64_t>(dwCsmiSasAddress[1]) << 32) | dwCsmiSasAddress[0]; }
    bool IsOpen() const { return hDevice != kInvalidDevHandle; }
    TDevMgr* GetDevMgr() { return pDevMgr.get(); }

    // --- diagnostics
    void WriteLog(const std::string& text);
    std::string LastErrorText(uint32_t code);
    void HexDump(const uint8_t* data, uint32_t size, uint32_t group, uint32_t bytesPerLine);
    static const char* ProtocolName(int32_t kind);
    const char* ProtocolName() const { return ProtocolName(iProtocol); }

    // --- transports
    uint8_t SendAtaCommand(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length);
    uint8_t SendAtaPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length);
    uint8_t SendScsiPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length);
    uint8_t SendSatPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length);
    uint8_t SendCsmiPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length);
    uint8_t SendScsiCdb(const uint8_t* cdb, uint8_t cdbLength, uint32_t direction, uint32_t& length, uint8_t* buffer);
    // The result of a failed DeviceIoControl (also stores the error).
    uint8_t MapWindowsError(uint32_t error);

    // --- ATA and vendor commands
    uint8_t IdentifyDevice();
    bool IsEnterpriseDrive();
    uint8_t ReadPpidLog();
    uint8_t ReadDefRevision();
    uint8_t EraseAllLegacy();
    uint8_t EraseAllNew();
    uint8_t QueryNewEraseSupport();
    uint8_t ReadVendorBuffer(uint8_t feature, uint8_t count);
    void DetectProtocol();

    // --- CSMI port discovery (device/CsmiPorts.cpp)
    // One CSMI request on the open port; an ATA result code. Codes other than driver information,
    // phy information and STP pass-through give 1 without sending anything.
    uint8_t csmi_ioctl(uint32_t controlCode, uint8_t* request, uint32_t requestSize);
    // Driver information and phy table of the selected controller port.
    bool get_phy_info(wire::CSMI_SAS_PHY_INFO& info);
    // The driver information of the last get_phy_info (zero when none was read).
    wire::CSMI_SAS_DRIVER_INFO CsmiDriverInfo{};

    // --- NVMe firmware through the inbox driver (device/NvmeInbox.cpp)
    // The caller passes a zeroed buffer of wire::kMiniportFirmwareBufferSize bytes; the slot
    // information comes back in it from byte 52. True when DeviceIoControl succeeded.
    bool DeviceGetFirmwareInfo(uint8_t* buffer, uint32_t bufferSize, bool log);
    // 1 when the image was downloaded and activated (ReturnCode 0, or 32: active after a reset).
    uint8_t NvmeFirmwareUpdate(const uint8_t* image, uint32_t imageSize, uint8_t commitAction, uint8_t requestedSlot);
    // Identify Controller of the record's drive into the read buffer (4096 bytes); closes hDevice.
    bool DoIdentifyDeviceNVMeStorageQuery(int32_t index);

    // --- NVMe through Intel RST (device/NvmeIrst.cpp)
    // One NVMe command on the open RST port. header, when given, receives the first 168 bytes of
    // the request (command and completion entry). data null with NVME_DIR_WRITE sends the write
    // buffer; NVME_DIR_READ receives into the read buffer. True when DeviceIoControl succeeded.
    bool Send_IRST_NVME_PASS_THROUTH(uint8_t pathId, const wire::NVME_COMMAND& command, const uint8_t* data,
                                     uint32_t dataLength, bool ioCommand, wire::INTEL_NVME_PASS_THROUGH* header,
                                     uint32_t timeoutSeconds, uint32_t direction);
    // The caller passes a zeroed buffer of wire::kIrstFirmwareBufferSize bytes; the version-2 slot
    // information comes back in it from byte 56. True when DeviceIoControl succeeded.
    bool IrstDeviceGetFirmwareInfo(int32_t ha, uint8_t target, bool log, uint32_t bufferSize, uint8_t* buffer, uint8_t lun,
                                   uint8_t pathId);
    uint8_t IrstFirmwareUpdate(int32_t ha, uint8_t target, uint8_t commitAction, uint8_t requestedSlot, uint32_t imageSize,
                               const uint8_t* image, uint8_t lun, uint8_t pathId);

    // The ReturnCode of the last firmware request (information, download or activate), inbox or
    // RST; after a successful update 32 says the new firmware runs only after a reset.
    uint32_t dwFwReturnCode = 0;

    // --- state the callers read and set
    int32_t iVisualStyle = 0;
    int32_t iCmdTotal = 0;
    int32_t iCmdCount = 0;
    ATA_TASKFILE RetTaskFile{};
    uint8_t bStatusReg = 0;
    uint32_t dwLastError = 0;
    int32_t iCurIndex = -1;
    uint16_t ParentVid = 0;
    uint16_t ParentDid = 0;
    // The last CDB request's outcome.
    uint8_t bScsiStatus = 0;
    uint8_t bSenseValid = 0;
    uint8_t DecodedSense[8]{};  // response code, sense key, ASC, ASCQ
    const uint8_t* pAtaReturnDescriptor = nullptr;
    int32_t iDescriptorLength = 0;

private:
    void Init();
    bool Call(uint32_t code, void* buf, uint32_t size, uint32_t& returned);
    bool ReopenIfClosed();
    uint32_t TimeoutSeconds() const;
    // Firmware requests shared by the inbox and the Intel RST paths (device/NvmeInbox.cpp). The
    // RST request carries the drive's address and the version-2 records.
    struct FirmwareRoute {
        bool irst = false;
        uint8_t pathId = 0, target = 0, lun = 0;
    };
    void FillFirmwareRequest(const FirmwareRoute& route, uint8_t* buffer, uint32_t size, uint32_t function);
    uint8_t RunFirmwareUpdate(const FirmwareRoute& route, const uint8_t* image, uint32_t imageSize, uint8_t activateVersion,
                              uint8_t requestedSlot, int32_t ha);
    bool FirmwareCall(uint8_t* buffer, uint32_t size, uint32_t& error, std::string& raised);
    void LogFirmwareSlots(const FirmwareSlots& slots);
    void LogActivateResult(uint32_t returnCode);
    void CommandLine(uint8_t cmd, uint8_t fr, uint8_t sc, uint8_t sn, uint8_t cl, uint8_t ch);

    Platform p_;
    HiTimer cmdTimer;
    std::vector<uint8_t> readStream;
    std::vector<uint8_t> writeStream;
    std::vector<uint8_t> csmiStream;
    uint8_t* pReadBuffer = nullptr;
    uint8_t* pWriteBuffer = nullptr;
    uint8_t* pCsmiBuffer = nullptr;
    int32_t iCsmiPhy = 0;
    int32_t iCsmiPort = 0;
    uint32_t dwCsmiSasAddress[2]{};
    float fTimeout = 20.0f;
    int32_t iProtocol = PRO_ATA_PASSTHROUGH;
    DevHandle hDevice = kInvalidDevHandle;
    wire::ATA_PASS_THROUGH_DIRECT ataDirect{};
    wire::ATA_PASS_THROUGH_BUF ataBuffered{};
    wire::SCSI_PASS_THROUGH_BUF scsiBuffered{};
    wire::SCSI_PASS_THROUGH_DIRECT_BUF scsiDirect{};
    REG_DATA* pRegData = nullptr;
    int32_t iRegCount = 0;
    std::string sLogFile;
    std::unique_ptr<TDevMgr> pDevMgr;
    bool bNoReopen = false;  // set while a selection's probe runs: its commands never reopen
};

}  // namespace kestrel
