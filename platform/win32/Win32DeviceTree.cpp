#include "platform/win32/Win32DeviceTree.h"

// Our headers first: they name constants after the SDK's macros.
#include <windows.h>
// The setup API after windows.h.
#include <cfgmgr32.h>
#include <setupapi.h>

namespace kestrel::win32 {
namespace {

// The records' layouts equal the SDK's (platform/wire/sdkcheck), so they are passed as they are.
::SP_DEVINFO_DATA* Sdk(wire::SP_DEVINFO_DATA* p) { return reinterpret_cast<::SP_DEVINFO_DATA*>(p); }
::SP_DEVINFO_DATA* Sdk(const wire::SP_DEVINFO_DATA* p) { return reinterpret_cast<::SP_DEVINFO_DATA*>(const_cast<wire::SP_DEVINFO_DATA*>(p)); }
::SP_DEVICE_INTERFACE_DATA* Sdk(wire::SP_DEVICE_INTERFACE_DATA* p) { return reinterpret_cast<::SP_DEVICE_INTERFACE_DATA*>(p); }
::SP_DEVICE_INTERFACE_DATA* Sdk(const wire::SP_DEVICE_INTERFACE_DATA* p) {
    return reinterpret_cast<::SP_DEVICE_INTERFACE_DATA*>(const_cast<wire::SP_DEVICE_INTERFACE_DATA*>(p));
}
const ::GUID* Sdk(const KGUID* g) { return reinterpret_cast<const ::GUID*>(g); }

HDEVINFO ToSet(DevInfoSet s) { return s == kInvalidDevInfoSet ? INVALID_HANDLE_VALUE : reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(s)); }
DevInfoSet FromSet(HDEVINFO h) {
    return h == INVALID_HANDLE_VALUE ? kInvalidDevInfoSet : static_cast<DevInfoSet>(reinterpret_cast<uintptr_t>(h));
}

template <class Fn>
Fn As(uintptr_t address) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
}

// Calls the resolved entry point, or fails as Windows does for a missing one.
#define KESTREL_BOUND(fn, failure)                                \
    const auto call = As<decltype(&::fn)>(Entry(#fn));             \
    if (call == nullptr) {                                         \
        ::SetLastError(ERROR_PROC_NOT_FOUND);                      \
        return failure;                                            \
    }

}  // namespace

ModuleHandle Win32DeviceTree::LoadLibraryA(const std::string& name) {
    return static_cast<ModuleHandle>(reinterpret_cast<uintptr_t>(::LoadLibraryA(name.c_str())));
}

bool Win32DeviceTree::GetProcAddress(ModuleHandle module, const std::string& name) {
    if (module == 0) return false;
    const FARPROC p = ::GetProcAddress(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(module)), name.c_str());
    if (p == nullptr) return false;
    entries_[name] = reinterpret_cast<uintptr_t>(p);
    return true;
}

void Win32DeviceTree::FreeLibrary(ModuleHandle module) {
    if (module != 0) ::FreeLibrary(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(module)));
}

uintptr_t Win32DeviceTree::Entry(const char* name) const {
    const auto it = entries_.find(name);
    return it == entries_.end() ? 0 : it->second;
}

uint32_t Win32DeviceTree::GetLastError() { return ::GetLastError(); }

DevInfoSet Win32DeviceTree::SetupDiGetClassDevsA(const KGUID* classGuid, uint32_t flags) {
    KESTREL_BOUND(SetupDiGetClassDevsA, kInvalidDevInfoSet)
    return FromSet(call(Sdk(classGuid), nullptr, nullptr, flags));
}

bool Win32DeviceTree::SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, wire::SP_DEVINFO_DATA& data) {
    KESTREL_BOUND(SetupDiEnumDeviceInfo, false)
    return call(ToSet(set), index, Sdk(&data)) != FALSE;
}

bool Win32DeviceTree::SetupDiEnumDeviceInterfaces(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const KGUID& interfaceGuid,
                                                  uint32_t index, wire::SP_DEVICE_INTERFACE_DATA& data) {
    KESTREL_BOUND(SetupDiEnumDeviceInterfaces, false)
    return call(ToSet(set), device ? Sdk(device) : nullptr, Sdk(&interfaceGuid), index, Sdk(&data)) != FALSE;
}

bool Win32DeviceTree::SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const wire::SP_DEVICE_INTERFACE_DATA& data, void* detail,
                                                       uint32_t detailSize, uint32_t* requiredSize, wire::SP_DEVINFO_DATA* device) {
    KESTREL_BOUND(SetupDiGetDeviceInterfaceDetailA, false)
    DWORD required = 0;
    const BOOL ok = call(ToSet(set), Sdk(&data), static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail), detailSize, &required,
                         device ? Sdk(device) : nullptr);
    if (requiredSize != nullptr) *requiredSize = required;
    return ok != FALSE;
}

bool Win32DeviceTree::SetupDiDestroyDeviceInfoList(DevInfoSet set) {
    KESTREL_BOUND(SetupDiDestroyDeviceInfoList, false)
    return call(ToSet(set)) != FALSE;
}

bool Win32DeviceTree::SetupDiGetDeviceRegistryPropertyA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property,
                                                        uint32_t* regType, uint8_t* buffer, uint32_t bufferSize, uint32_t* requiredSize) {
    KESTREL_BOUND(SetupDiGetDeviceRegistryPropertyA, false)
    DWORD type = 0, required = 0;
    const BOOL ok = call(ToSet(set), Sdk(&device), property, &type, buffer, bufferSize, &required);
    if (regType != nullptr) *regType = type;
    if (requiredSize != nullptr) *requiredSize = required;
    return ok != FALSE;
}

bool Win32DeviceTree::SetupDiGetDeviceInstanceIdA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, char* buffer, uint32_t bufferSize,
                                                  uint32_t* requiredSize) {
    KESTREL_BOUND(SetupDiGetDeviceInstanceIdA, false)
    DWORD required = 0;
    const BOOL ok = call(ToSet(set), Sdk(&device), buffer, bufferSize, &required);
    if (requiredSize != nullptr) *requiredSize = required;
    return ok != FALSE;
}

bool Win32DeviceTree::SetupDiSetClassInstallParamsA(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const void* params,
                                                    uint32_t paramsSize) {
    KESTREL_BOUND(SetupDiSetClassInstallParamsA, false)
    return call(ToSet(set), device ? Sdk(device) : nullptr,
                reinterpret_cast<PSP_CLASSINSTALL_HEADER>(const_cast<void*>(params)), paramsSize) != FALSE;
}

bool Win32DeviceTree::SetupDiCallClassInstaller(uint32_t installFunction, DevInfoSet set, const wire::SP_DEVINFO_DATA* device) {
    KESTREL_BOUND(SetupDiCallClassInstaller, false)
    return call(installFunction, ToSet(set), device ? Sdk(device) : nullptr) != FALSE;
}

ConfigRet Win32DeviceTree::CM_Locate_DevNodeA(DevInst& node, const char* instanceId, uint32_t flags) {
    KESTREL_BOUND(CM_Locate_DevNodeA, CR_FAILURE)
    DEVINST d = 0;
    const CONFIGRET r = call(&d, const_cast<DEVINSTID_A>(instanceId), flags);
    node = d;
    return r;
}

ConfigRet Win32DeviceTree::CM_Get_Parent(DevInst& parent, DevInst node, uint32_t flags) {
    KESTREL_BOUND(CM_Get_Parent, CR_FAILURE)
    DEVINST d = 0;
    const CONFIGRET r = call(&d, node, flags);
    parent = d;
    return r;
}

ConfigRet Win32DeviceTree::CM_Get_Device_IDA(DevInst node, char* buffer, uint32_t length, uint32_t flags) {
    KESTREL_BOUND(CM_Get_Device_IDA, CR_FAILURE)
    return call(node, buffer, length, flags);
}

ConfigRet Win32DeviceTree::CM_Get_DevNode_Registry_PropertyA(DevInst node, uint32_t property, uint32_t* regType, void* buffer,
                                                              uint32_t& length, uint32_t flags) {
    KESTREL_BOUND(CM_Get_DevNode_Registry_PropertyA, CR_FAILURE)
    ULONG type = 0, len = length;
    const CONFIGRET r = call(node, property, &type, buffer, &len, flags);
    if (regType != nullptr) *regType = type;
    length = len;
    return r;
}

ConfigRet Win32DeviceTree::CM_Reenumerate_DevNode(DevInst node, uint32_t flags) {
    KESTREL_BOUND(CM_Reenumerate_DevNode, CR_FAILURE)
    return call(node, flags);
}

}  // namespace kestrel::win32
