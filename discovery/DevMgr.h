#pragma once
// The device manager: the program's window onto the Windows device tree. It binds the setup API and
// the configuration manager, records the Windows version, owns the list of physical-disk records
// that the device object borrows, and makes Windows detect disks again after a firmware update.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/RegData.h"
#include "platform/Platform.h"
#include "platform/wire/StorageQuery.h"

namespace kestrel {

class TDevMgr {
public:
    // Never fails: a library or entry point that is missing leaves the bindings incomplete, and
    // every operation that needs them fails at once.
    explicit TDevMgr(const Platform& platform);
    ~TDevMgr();
    TDevMgr(const TDevMgr&) = delete;
    TDevMgr& operator=(const TDevMgr&) = delete;

    // Lists the physical disks into pRegData / iRegCount, ordered by SCSI address, each with its
    // ancestor chain. At most kMaxDisks records.
    bool EnumPhysicalDrives();
    REG_DATA* GetDiskList() { return pRegData; }
    int32_t GetDiskCount() const { return iRegCount; }
    // True when a required entry point of the setup API or the configuration manager is missing.
    bool BindingsMissing() const;
    // Removes the disk device node whose instance ID matches exactly (case-sensitive).
    bool RemoveDiskDevice(const std::string& instanceId);
    // Re-enumerates the IDE ATA/ATAPI controllers and then, when they all succeeded, the storage
    // controllers.
    bool RescanStorageControllers();
    bool ReenumerateClass(const KGUID& classGuid);
    bool ReenumerateDevice(const std::string& instanceId);
    // Instance IDs of the present devices of a setup class, appended to list; the number appended.
    int32_t EnumClassDevices(const KGUID& classGuid, std::vector<std::string>& list);

    // The enumeration steps, one disk interface set per call.
    int32_t CollectDisks(REG_DATA* records, int32_t capacity);
    int32_t EnumDiskInterfaces(REG_DATA* records, int32_t capacity);
    // The path queries; each opens the path, sends one request and closes it.
    bool GetScsiAddress(const char* path, SCSI_ADDRESS_DATA& dest);
    int32_t GetDeviceNumber(const char* path);
    uint8_t GetBusType(const char* path);
    bool GetDeviceDescriptor(const char* path, uint8_t (&dest)[wire::kDeviceDescriptorBufferSize]);

    // The chain of ancestors above the device: a new node for its parent, linked upward; null when
    // the device or its parent cannot be located. The caller owns it (ReleaseChain).
    DEVICE_NODE* BuildParentChain(const char* instanceId);
    static void ReleaseChain(DEVICE_NODE* node);
    // Hexadecimal digits, with an optional leading "0x".
    static bool IsHexText(const std::string& text);
    // Vendor and device ID of a PCI (VEN_/DEV_) or USB (VID_/PID_) instance ID; both 0 otherwise.
    static void ParseVendorDevice(const char* instanceId, uint16_t& vendorId, uint16_t& deviceId);

    // The number of disks to expect: WMI's Win32_DiskDrive count, else the present disk interfaces.
    int16_t CountDisks();
    bool WmiQuery(const std::string& wmiClass, uint32_t& count);
    bool IsServiceRunning(const std::string& name);
    bool StartServiceAndWait(const std::string& name, uint32_t timeoutSeconds);
    bool IsWinPE();

    // Enumeration runs the last EnumPhysicalDrives took (1 to 11).
    int32_t EnumerationRuns() const { return iRuns; }

    REG_DATA* pRegData = nullptr;
    int32_t iRegCount = 0;
    int16_t iExpectedCount = 0;
    uint8_t bIsNT = 0;
    uint32_t iMajorVersion = 0;
    uint32_t iMinorVersion = 0;
    uint32_t iPlatformId = 0;
    uint16_t iProductType = 0;

    static constexpr int kBindingCount = 21;
    static const char* const kSetupApiNames[13];
    static const char* const kCfgMgrNames[8];

private:
    struct ChainCache;
    void ReadOsVersion();
    void ReleaseList();
    void ReleaseRecords(REG_DATA* records, int32_t count);
    int32_t CollectDisksShared(REG_DATA* records, int32_t capacity, ChainCache* cache);
    DEVICE_NODE* BuildChain(const char* instanceId, ChainCache* cache);
    bool ReadParentNode(const char* childId, DEVICE_NODE& node, ChainCache* cache);
    void FindNodeService(DEVICE_NODE& node, ChainCache* cache);
    bool ReadDiskProperty(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property, char (&field)[260]);
    DevHandle OpenPath(const char* path);

    Platform p_;
    ModuleHandle hSetupApi = 0;
    ModuleHandle hCfgMgr = 0;
    std::array<bool, kBindingCount> bound_{};
    int32_t iRuns = 0;
    int32_t iAllocated = 0;  // records in pRegData
};

}  // namespace kestrel
