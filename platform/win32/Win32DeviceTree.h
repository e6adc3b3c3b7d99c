#pragma once
// The real setup API and configuration manager, bound at run time: LoadLibraryA loads the library,
// GetProcAddress resolves an entry point and keeps it, and each call goes through what was resolved
// (a call whose entry point was never resolved fails with ERROR_PROC_NOT_FOUND).
#include <map>
#include <string>

#include "platform/DeviceTree.h"

namespace kestrel::win32 {

class Win32DeviceTree : public IDeviceTree {
public:
    ModuleHandle LoadLibraryA(const std::string& name) override;
    bool GetProcAddress(ModuleHandle module, const std::string& name) override;
    void FreeLibrary(ModuleHandle module) override;

    DevInfoSet SetupDiGetClassDevsA(const KGUID* classGuid, uint32_t flags) override;
    bool SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, wire::SP_DEVINFO_DATA& data) override;
    bool SetupDiEnumDeviceInterfaces(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const KGUID& interfaceGuid, uint32_t index,
                                     wire::SP_DEVICE_INTERFACE_DATA& data) override;
    bool SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const wire::SP_DEVICE_INTERFACE_DATA& data, void* detail, uint32_t detailSize,
                                          uint32_t* requiredSize, wire::SP_DEVINFO_DATA* device) override;
    bool SetupDiDestroyDeviceInfoList(DevInfoSet set) override;
    bool SetupDiGetDeviceRegistryPropertyA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property, uint32_t* regType,
                                           uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize) override;
    bool SetupDiGetDeviceInstanceIdA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, char* buffer, uint32_t bufferSize,
                                     uint32_t* requiredSize) override;
    bool SetupDiSetClassInstallParamsA(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const void* params,
                                       uint32_t paramsSize) override;
    bool SetupDiCallClassInstaller(uint32_t installFunction, DevInfoSet set, const wire::SP_DEVINFO_DATA* device) override;
    ConfigRet CM_Locate_DevNodeA(DevInst& node, const char* instanceId, uint32_t flags) override;
    ConfigRet CM_Get_Parent(DevInst& parent, DevInst node, uint32_t flags) override;
    ConfigRet CM_Get_Device_IDA(DevInst node, char* buffer, uint32_t length, uint32_t flags) override;
    ConfigRet CM_Get_DevNode_Registry_PropertyA(DevInst node, uint32_t property, uint32_t* regType, void* buffer, uint32_t& length,
                                                 uint32_t flags) override;
    ConfigRet CM_Reenumerate_DevNode(DevInst node, uint32_t flags) override;
    uint32_t GetLastError() override;

private:
    // The resolved entry point of a name, as an address; 0 when not resolved.
    uintptr_t Entry(const char* name) const;
    std::map<std::string, uintptr_t> entries_;
};

}  // namespace kestrel::win32
