#include "discovery/DevMgr.h"

#include <cctype>
#include <cstring>

#include "discovery/DevMgrInternal.h"
#include "support/Format.h"

namespace kestrel {

const char* const TDevMgr::kSetupApiNames[13] = {
    "SetupDiGetClassDevsA",          "SetupDiEnumDeviceInfo",          "SetupDiEnumDeviceInterfaces",
    "SetupDiGetDeviceInterfaceDetailA", "SetupDiDestroyDeviceInfoList", "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiGetClassImageIndex",     "SetupDiCallClassInstaller",      "SetupDiSetClassInstallParamsA",
    "SetupDiOpenClassRegKey",        "SetupDiGetClassImageList",       "SetupDiDestroyClassImageList",
    "SetupDiGetDeviceInstanceIdA"};
const char* const TDevMgr::kCfgMgrNames[8] = {"CM_Get_Device_IDA", "CM_Get_Child",  "CM_Get_DevNode_Registry_PropertyA",
                                              "CM_Get_Sibling",    "CM_Get_Parent", "CM_Get_DevNode_Status",
                                              "CM_Locate_DevNodeA", "CM_Reenumerate_DevNode"};

namespace discovery_detail {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string GuidText(const KGUID& g) {
    return Fmt("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1],
               g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

bool ParseGuidText(const char* text, KGUID& g) {
    // "{" then 8-4-4-4-12 hexadecimal digits; the closing brace is not needed.
    if (text == nullptr || text[0] != '{') return false;
    const char* s = text + 1;
    static constexpr int kGroups[5] = {8, 4, 4, 4, 12};
    uint8_t bytes[16] = {};
    int nibble = 0;
    int pos = 0;
    for (int grp = 0; grp < 5; ++grp) {
        for (int i = 0; i < kGroups[grp]; ++i, ++pos) {
            const int c = std::tolower(static_cast<unsigned char>(s[pos]));
            int v;
            if (c >= '0' && c <= '9') v = c - '0';
            else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
            else return false;
            bytes[nibble / 2] = static_cast<uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
            ++nibble;
        }
        if (grp < 4) {
            if (s[pos] != '-') return false;
            ++pos;
        }
    }
    g.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    std::memcpy(g.Data4, bytes + 8, 8);
    return true;
}

}  // namespace discovery_detail

using namespace discovery_detail;

TDevMgr::TDevMgr(const Platform& platform) : p_(platform) {
    if (p_.deviceTree != nullptr) {
        hSetupApi = p_.deviceTree->LoadLibraryA("Setupapi.dll");
        hCfgMgr = p_.deviceTree->LoadLibraryA("cfgmgr32.dll");
        for (int i = 0; i < 13; ++i) bound_[i] = hSetupApi != 0 && p_.deviceTree->GetProcAddress(hSetupApi, kSetupApiNames[i]);
        for (int i = 0; i < 8; ++i) bound_[13 + i] = hCfgMgr != 0 && p_.deviceTree->GetProcAddress(hCfgMgr, kCfgMgrNames[i]);
    }
    ReadOsVersion();
}

TDevMgr::~TDevMgr() {
    ReleaseList();
    if (p_.deviceTree != nullptr) {
        if (hSetupApi != 0) p_.deviceTree->FreeLibrary(hSetupApi);
        if (hCfgMgr != 0) p_.deviceTree->FreeLibrary(hCfgMgr);
    }
}

void TDevMgr::ReadOsVersion() {
    iMajorVersion = iMinorVersion = iPlatformId = 0;
    iProductType = 0;
    bIsNT = 0;
    if (p_.system == nullptr) return;
    wire::OSVERSIONINFOEXA rec{};
    rec.dwOSVersionInfoSize = wire::kOsVersionInfoExSize;
    bool extended = true;
    if (!p_.system->GetVersionExA(rec)) {
        rec = wire::OSVERSIONINFOEXA{};
        rec.dwOSVersionInfoSize = wire::kOsVersionInfoSize;
        extended = false;
        if (!p_.system->GetVersionExA(rec)) return;
    }
    iMajorVersion = rec.dwMajorVersion;
    iMinorVersion = rec.dwMinorVersion;
    iPlatformId = rec.dwPlatformId;
    iProductType = extended ? rec.wProductType : 0;
    bIsNT = iPlatformId == 2 ? 1 : 0;
}

bool TDevMgr::BindingsMissing() const {
    if (p_.deviceTree == nullptr) return true;
    for (bool b : bound_)
        if (!b) return true;
    return false;
}

void TDevMgr::ReleaseChain(DEVICE_NODE* node) {
    while (node != nullptr) {
        DEVICE_NODE* up = node->parent;
        delete node;
        node = up;
    }
}

void TDevMgr::ReleaseRecords(REG_DATA* records, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        ReleaseChain(records[i].ancestors);
        records[i] = REG_DATA{};
    }
}

void TDevMgr::ReleaseList() {
    if (pRegData != nullptr) {
        // Every record of the array, not only the counted ones: a failed run may have left chains.
        ReleaseRecords(pRegData, iAllocated);
        delete[] pRegData;
    }
    pRegData = nullptr;
    iRegCount = 0;
    iAllocated = 0;
}

bool TDevMgr::RemoveDiskDevice(const std::string& instanceId) {
    if (BindingsMissing()) return false;
    IDeviceTree& t = *p_.deviceTree;
    const DevInfoSet set = t.SetupDiGetClassDevsA(&wire::GUID_DEVINTERFACE_DISK_ID, wire::DIGCF_DEVICEINTERFACE_FLAG);
    if (set == kInvalidDevInfoSet) return false;
    bool removed = false;
    for (uint32_t i = 0;; ++i) {
        wire::SP_DEVINFO_DATA dev{};
        dev.cbSize = sizeof dev;
        if (!t.SetupDiEnumDeviceInfo(set, i, dev)) break;
        char id[260] = {};
        if (t.CM_Get_Device_IDA(dev.DevInst, id, sizeof id, 0) != wire::CR_SUCCESS_CODE) continue;
        id[sizeof id - 1] = '\0';
        if (instanceId != id) continue;
        wire::SP_PROPCHANGE_PARAMS pc;
        std::memset(&pc, 0xFF, sizeof pc);
        pc.ClassInstallHeader.cbSize = sizeof pc.ClassInstallHeader;
        pc.ClassInstallHeader.InstallFunction = wire::DIF_PROPERTYCHANGE_CODE;
        pc.StateChange = wire::DICS_STOP_CODE;
        pc.Scope = wire::DICS_FLAG_CONFIGSPECIFIC_CODE;
        pc.HwProfile = 0;
        if (!t.SetupDiSetClassInstallParamsA(set, &dev, &pc, sizeof pc)) continue;
        if (t.SetupDiCallClassInstaller(wire::DIF_REMOVE_CODE, set, &dev)) {
            removed = true;
            break;
        }
    }
    t.SetupDiDestroyDeviceInfoList(set);
    return removed;
}

bool TDevMgr::RescanStorageControllers() {
    if (!ReenumerateClass(wire::GUID_CLASS_HDC_ID)) return false;
    return ReenumerateClass(wire::GUID_CLASS_SCSIADAPTER_ID);
}

bool TDevMgr::ReenumerateClass(const KGUID& classGuid) {
    if (BindingsMissing()) return false;
    std::vector<std::string> ids;
    const int32_t n = EnumClassDevices(classGuid, ids);
    bool ok = true;
    for (int32_t i = 0; i < n && i < static_cast<int32_t>(ids.size()); ++i)
        if (!ReenumerateDevice(ids[static_cast<size_t>(i)])) ok = false;
    return ok;
}

bool TDevMgr::ReenumerateDevice(const std::string& instanceId) {
    if (BindingsMissing()) return false;
    DevInst node = 0;
    if (p_.deviceTree->CM_Locate_DevNodeA(node, instanceId.c_str(), 0) != wire::CR_SUCCESS_CODE) return false;
    return p_.deviceTree->CM_Reenumerate_DevNode(node, 0) == wire::CR_SUCCESS_CODE;
}

int32_t TDevMgr::EnumClassDevices(const KGUID& classGuid, std::vector<std::string>& list) {
    if (BindingsMissing()) return 0;
    IDeviceTree& t = *p_.deviceTree;
    const std::string guidText = GuidText(classGuid);
    const DevInfoSet set = t.SetupDiGetClassDevsA(nullptr, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_ALLCLASSES_FLAG);
    if (set == kInvalidDevInfoSet) return 0;
    int32_t found = 0;
    uint32_t endError = 0;
    for (uint32_t i = 0;; ++i) {
        wire::SP_DEVINFO_DATA dev{};
        dev.cbSize = sizeof dev;
        if (!t.SetupDiEnumDeviceInfo(set, i, dev)) {
            endError = t.GetLastError();
            break;
        }
        char driver[512] = {};
        if (!t.SetupDiGetDeviceRegistryPropertyA(set, dev, wire::SPDRP_DRIVER_PROP, nullptr, reinterpret_cast<uint8_t*>(driver),
                                                 sizeof driver - 1, nullptr))
            continue;
        if (Upper(driver).find(guidText) == std::string::npos) continue;
        char id[512] = {};
        if (!t.SetupDiGetDeviceInstanceIdA(set, dev, id, sizeof id - 1, nullptr)) continue;
        list.emplace_back(id);
        ++found;
    }
    t.SetupDiDestroyDeviceInfoList(set);
    if (endError != 0 && endError != wire::ERROR_NO_MORE_ITEMS_CODE) return 0;
    return found;
}

}  // namespace kestrel
