#pragma once
// Setup API and configuration manager records, flags and codes. The setup API packs its records to
// 1 byte on x86 and to 8 on x64, so SP_DEVICE_INTERFACE_DETAIL_DATA_A is 5 bytes on x86 and 8 on x64:
// cbSize is always sizeof the record, never a literal.
#include "platform/wire/Guid.h"

namespace kestrel::wire {

#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(push, 1)
#else
#pragma pack(push, 8)
#endif
struct SP_DEVINFO_DATA {
    uint32_t cbSize;
    KGUID ClassGuid;
    uint32_t DevInst;
    uintptr_t Reserved;
};

struct SP_DEVICE_INTERFACE_DATA {
    uint32_t cbSize;
    KGUID InterfaceClassGuid;
    uint32_t Flags;
    uintptr_t Reserved;
};

// The header of the variable-length detail record; DevicePath runs to the end of the caller's buffer.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    uint32_t cbSize;
    char DevicePath[1];
};

struct SP_CLASSINSTALL_HEADER {
    uint32_t cbSize;
    uint32_t InstallFunction;
};

struct SP_PROPCHANGE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    uint32_t StateChange;
    uint32_t Scope;
    uint32_t HwProfile;
};
#pragma pack(pop)

KESTREL_WIRE_SIZE(SP_DEVINFO_DATA, 28, 32);
KESTREL_WIRE_OFFSET(SP_DEVINFO_DATA, ClassGuid, 4, 4);
KESTREL_WIRE_OFFSET(SP_DEVINFO_DATA, DevInst, 20, 20);
KESTREL_WIRE_OFFSET(SP_DEVINFO_DATA, Reserved, 24, 24);
KESTREL_WIRE_SIZE(SP_DEVICE_INTERFACE_DATA, 28, 32);
KESTREL_WIRE_OFFSET(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid, 4, 4);
KESTREL_WIRE_OFFSET(SP_DEVICE_INTERFACE_DATA, Flags, 20, 20);
KESTREL_WIRE_OFFSET(SP_DEVICE_INTERFACE_DATA, Reserved, 24, 24);
KESTREL_WIRE_SIZE(SP_DEVICE_INTERFACE_DETAIL_DATA_A, 5, 8);
KESTREL_WIRE_OFFSET(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath, 4, 4);
KESTREL_WIRE_SIZE(SP_CLASSINSTALL_HEADER, 8, 8);
KESTREL_WIRE_SIZE(SP_PROPCHANGE_PARAMS, 20, 20);
KESTREL_WIRE_OFFSET(SP_PROPCHANGE_PARAMS, StateChange, 8, 8);
KESTREL_WIRE_OFFSET(SP_PROPCHANGE_PARAMS, Scope, 12, 12);
KESTREL_WIRE_OFFSET(SP_PROPCHANGE_PARAMS, HwProfile, 16, 16);

// SetupDiGetClassDevsA flags.
constexpr uint32_t DIGCF_PRESENT_FLAG = 0x02;
constexpr uint32_t DIGCF_ALLCLASSES_FLAG = 0x04;
constexpr uint32_t DIGCF_DEVICEINTERFACE_FLAG = 0x10;

// Device registry properties (SPDRP_*); the configuration manager's CM_DRP_* are these plus one.
constexpr uint32_t SPDRP_DEVICEDESC_PROP = 0x00;
constexpr uint32_t SPDRP_SERVICE_PROP = 0x04;
constexpr uint32_t SPDRP_CLASSGUID_PROP = 0x08;
constexpr uint32_t SPDRP_DRIVER_PROP = 0x09;
constexpr uint32_t SPDRP_FRIENDLYNAME_PROP = 0x0C;
constexpr uint32_t SPDRP_LOCATION_INFORMATION_PROP = 0x0D;
constexpr uint32_t CM_DRP_CLASSGUID_PROP = SPDRP_CLASSGUID_PROP + 1;

// Class installer functions and property-change parameters.
constexpr uint32_t DIF_REMOVE_CODE = 0x05;
constexpr uint32_t DIF_PROPERTYCHANGE_CODE = 0x12;
constexpr uint32_t DICS_STOP_CODE = 5;
constexpr uint32_t DICS_FLAG_CONFIGSPECIFIC_CODE = 2;

// CONFIGRET values.
constexpr uint32_t CR_SUCCESS_CODE = 0x00;
constexpr uint32_t CR_INVALID_DEVNODE_CODE = 0x05;
constexpr uint32_t CR_NO_SUCH_DEVNODE_CODE = 0x0D;
constexpr uint32_t CR_BUFFER_SMALL_CODE = 0x1A;
constexpr uint32_t CR_NO_SUCH_VALUE_CODE = 0x25;
constexpr uint32_t CR_FAILURE_CODE = 0x13;

// Windows errors the setup API reports.
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
constexpr uint32_t ERROR_NO_MORE_ITEMS_CODE = 259;
constexpr uint32_t ERROR_INVALID_DATA_CODE = 13;
constexpr uint32_t ERROR_INVALID_USER_BUFFER_CODE = 1784;
constexpr uint32_t ERROR_NO_SUCH_DEVINST_CODE = 0xE000020B;

// Class and interface GUIDs this program uses (Windows' published values).
constexpr KGUID GUID_DEVINTERFACE_DISK_ID = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr KGUID GUID_CLASS_HDC_ID = {0x4D36E96A, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr KGUID GUID_CLASS_SCSIADAPTER_ID = {0x4D36E97B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

}  // namespace kestrel::wire
