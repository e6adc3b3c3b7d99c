#pragma once
// The device manager: the program's window onto the Windows device tree. It owns the list of
// physical-disk records that the device object borrows.
#include <cstdint>
#include <string>

#include "discovery/RegData.h"
#include "platform/Platform.h"

namespace kestrel {

class TDevMgr {
public:
    explicit TDevMgr(const Platform& platform);
    ~TDevMgr();
    TDevMgr(const TDevMgr&) = delete;
    TDevMgr& operator=(const TDevMgr&) = delete;

    // Lists the physical disks into pRegData / iRegCount.
    bool EnumPhysicalDrives();
    REG_DATA* GetDiskList() { return pRegData; }
    int32_t GetDiskCount() const { return iRegCount; }
    // True when a required entry point of the setup API or the configuration manager is missing.
    bool BindingsMissing() const;
    bool RemoveDiskDevice(const std::string& instanceId);
    bool RescanStorageControllers();

    REG_DATA* pRegData = nullptr;
    int32_t iRegCount = 0;
    int16_t iExpectedCount = 0;

private:
    Platform p_;
};

}  // namespace kestrel
