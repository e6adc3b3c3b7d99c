#pragma once
// The setup API (Setupapi.dll) and the configuration manager (cfgmgr32.dll), loaded at run time.
// The program loads both libraries and resolves its entry points by name through this port, so a
// library that does not load or an entry point that is missing looks the same on Windows and in the
// simulated machine. The calls keep the shape of the Windows functions; records are the wire
// structures of platform/wire/SetupApi.h, with their cbSize set by the caller.
#include <cstdint>
#include <string>

#include "platform/wire/SetupApi.h"

namespace kestrel {

using ModuleHandle = uint64_t;   // 0: the library did not load
using DevInfoSet = uint64_t;     // HDEVINFO
using DevInst = uint32_t;        // DEVINST
using ConfigRet = uint32_t;      // CONFIGRET
constexpr DevInfoSet kInvalidDevInfoSet = ~uint64_t{0};  // INVALID_HANDLE_VALUE

class IDeviceTree {
public:
    virtual ~IDeviceTree() = default;

    // LoadLibraryA / GetProcAddress / FreeLibrary for the two libraries. GetProcAddress answers
    // whether the entry point exists; the adapter keeps what it resolved and calls through it.
    virtual ModuleHandle LoadLibraryA(const std::string& name) = 0;
    virtual bool GetProcAddress(ModuleHandle module, const std::string& name) = 0;
    virtual void FreeLibrary(ModuleHandle module) = 0;

    // Setupapi.dll. classGuid null: no class; enumerator is never given by this program.
    virtual DevInfoSet SetupDiGetClassDevsA(const KGUID* classGuid, uint32_t flags) = 0;
    virtual bool SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, wire::SP_DEVINFO_DATA& data) = 0;
    virtual bool SetupDiEnumDeviceInterfaces(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const KGUID& interfaceGuid,
                                             uint32_t index, wire::SP_DEVICE_INTERFACE_DATA& data) = 0;
    // detail: a buffer of detailSize bytes that starts with SP_DEVICE_INTERFACE_DETAIL_DATA_A.
    virtual bool SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const wire::SP_DEVICE_INTERFACE_DATA& data, void* detail,
                                                  uint32_t detailSize, uint32_t* requiredSize,
                                                  wire::SP_DEVINFO_DATA* device) = 0;
    virtual bool SetupDiDestroyDeviceInfoList(DevInfoSet set) = 0;
    virtual bool SetupDiGetDeviceRegistryPropertyA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property,
                                                   uint32_t* regType, uint8_t* buffer, uint32_t bufferSize,
                                                   uint32_t* requiredSize) = 0;
    virtual bool SetupDiGetDeviceInstanceIdA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, char* buffer,
                                             uint32_t bufferSize, uint32_t* requiredSize) = 0;
    virtual bool SetupDiSetClassInstallParamsA(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const void* params,
                                               uint32_t paramsSize) = 0;
    virtual bool SetupDiCallClassInstaller(uint32_t installFunction, DevInfoSet set, const wire::SP_DEVINFO_DATA* device) = 0;

    // cfgmgr32.dll.
    virtual ConfigRet CM_Locate_DevNodeA(DevInst& node, const char* instanceId, uint32_t flags) = 0;
    virtual ConfigRet CM_Get_Parent(DevInst& parent, DevInst node, uint32_t flags) = 0;
    // length: characters of buffer, the terminating zero included.
    virtual ConfigRet CM_Get_Device_IDA(DevInst node, char* buffer, uint32_t length, uint32_t flags) = 0;
    // length: in, the buffer's size; out, the value's size.
    virtual ConfigRet CM_Get_DevNode_Registry_PropertyA(DevInst node, uint32_t property, uint32_t* regType, void* buffer,
                                                         uint32_t& length, uint32_t flags) = 0;
    virtual ConfigRet CM_Reenumerate_DevNode(DevInst node, uint32_t flags) = 0;

    // The calling thread's last Windows error after a failed setup API call.
    virtual uint32_t GetLastError() = 0;
};

}  // namespace kestrel
