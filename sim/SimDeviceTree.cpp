#include "sim/SimDeviceTree.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kestrel::sim {
namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;
constexpr uint32_t kErrorDiDoDefault = 0xE000020E;

constexpr uint32_t kCrSuccess = 0x00;
constexpr uint32_t kCrInvalidDevnode = 0x05;
constexpr uint32_t kCrInvalidPointer = 0x03;
constexpr uint32_t kCrNoSuchDevnode = 0x0D;
constexpr uint32_t kCrBufferSmall = 0x1A;
constexpr uint32_t kCrNoSuchValue = 0x25;
constexpr uint32_t kCrFailure = 0x13;

// What each library exports, as far as this program is concerned.
const char* const kSetupApiExports[] = {
    "SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
    "SetupDiDestroyDeviceInfoList", "SetupDiGetDeviceRegistryPropertyA", "SetupDiGetClassImageIndex", "SetupDiCallClassInstaller",
    "SetupDiSetClassInstallParamsA", "SetupDiOpenClassRegKey", "SetupDiGetClassImageList", "SetupDiDestroyClassImageList",
    "SetupDiGetDeviceInstanceIdA"};
const char* const kCfgMgrExports[] = {"CM_Get_Device_IDA", "CM_Get_Child",          "CM_Get_DevNode_Registry_PropertyA",
                                      "CM_Get_Sibling",    "CM_Get_Parent",         "CM_Get_DevNode_Status",
                                      "CM_Locate_DevNodeA", "CM_Reenumerate_DevNode"};

// The published layout: 8-4-4-2+6 hexadecimal groups of a "{...}" text.
bool ParseGuid(const std::string& text, KGUID& g) {
    unsigned d1, d2, d3, b[8];
    if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &b[6], &b[7]) != 11)
        return false;
    g.Data1 = d1;
    g.Data2 = static_cast<uint16_t>(d2);
    g.Data3 = static_cast<uint16_t>(d3);
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(b[i]);
    return true;
}

const KGUID kDiskInterface = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

}  // namespace

std::string SimDeviceTree::Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

void SimDeviceTree::AddNode(const SimDevNode& node) {
    const std::string key = Lower(node.id);
    if (node.id.empty() || index_.count(key)) throw std::runtime_error("device node \"" + node.id + "\": empty or listed twice");
    index_[key] = nodes_.size();
    nodes_.push_back(Node{node});
}

void SimDeviceTree::AddInterface(const std::string& path, const std::string& nodeId, uint32_t hiddenForFirst) {
    const auto it = index_.find(Lower(nodeId));
    if (it == index_.end()) throw std::runtime_error("disk interface \"" + path + "\": no device node \"" + nodeId + "\"");
    interfaces_.push_back(Interface{path, it->second, hiddenForFirst});
}

const SimDevNode* SimDeviceTree::FindNode(const std::string& id) const {
    const auto it = index_.find(Lower(id));
    return it == index_.end() ? nullptr : &nodes_[it->second].d;
}

size_t SimDeviceTree::PresentInterfaceCount() const {
    size_t n = 0;
    for (const Interface& i : interfaces_)
        if (Visible(nodes_[i.node])) ++n;
    return n;
}

void SimDeviceTree::ResetCounters() {
    calls_ = 0;
    byName_.clear();
}

void SimDeviceTree::Count(const char* name) {
    ++calls_;
    ++byName_[name];
}

bool SimDeviceTree::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

SimDeviceTree::Set* SimDeviceTree::FindSet(DevInfoSet set) {
    const auto it = sets_.find(set);
    return it == sets_.end() ? nullptr : &it->second;
}

SimDeviceTree::Node* SimDeviceTree::NodeOf(DevInst inst) {
    if (inst == 0 || inst > nodes_.size()) return nullptr;
    return &nodes_[inst - 1];
}

SimDeviceTree::Node* SimDeviceTree::MemberNode(DevInfoSet set, const wire::SP_DEVINFO_DATA* device) {
    Set* s = FindSet(set);
    if (s == nullptr) {
        lastError_ = kErrorInvalidHandle;
        return nullptr;
    }
    if (device == nullptr || device->cbSize != sizeof(wire::SP_DEVINFO_DATA)) {
        lastError_ = kErrorInvalidUserBuffer;
        return nullptr;
    }
    Node* n = NodeOf(device->DevInst);
    if (n == nullptr || std::find(s->members.begin(), s->members.end(), device->DevInst - 1) == s->members.end()) {
        lastError_ = kErrorInvalidParameter;
        return nullptr;
    }
    return n;
}

void SimDeviceTree::FillDevInfo(size_t nodeIndex, wire::SP_DEVINFO_DATA& data) const {
    KGUID g{};
    ParseGuid(nodes_[nodeIndex].d.classGuid, g);
    data.ClassGuid = g;
    data.DevInst = static_cast<DevInst>(nodeIndex + 1);
    data.Reserved = 0;
}

bool SimDeviceTree::Property(const Node& n, uint32_t spdrp, std::string& value) const {
    switch (spdrp) {
        case wire::SPDRP_DEVICEDESC_PROP: value = n.d.description; break;
        case wire::SPDRP_SERVICE_PROP: value = n.d.service; break;
        // Windows keeps a device's class GUID and its driver key ("{class guid}\\nnnn") in lower
        // case and answers them so, however the machine file spells them.
        case wire::SPDRP_CLASSGUID_PROP: value = Lower(n.d.classGuid); break;
        case wire::SPDRP_DRIVER_PROP: value = Lower(n.d.driver); break;
        case wire::SPDRP_FRIENDLYNAME_PROP: value = n.d.friendlyName; break;
        case wire::SPDRP_LOCATION_INFORMATION_PROP: value = n.d.location; break;
        default: return false;
    }
    return !value.empty();
}

ModuleHandle SimDeviceTree::LoadLibraryA(const std::string& name) {
    if (throwInLoadLibrary_) throw std::runtime_error("Access violation in LoadLibraryA");
    const std::string l = Lower(name);
    if ((l != "setupapi.dll" && l != "cfgmgr32.dll") || failingLibraries_.count(l)) {
        lastError_ = 126;  // ERROR_MOD_NOT_FOUND
        return 0;
    }
    const ModuleHandle h = nextModule_;
    nextModule_ += 0x10000;
    modules_[h] = l;
    return h;
}

bool SimDeviceTree::GetProcAddress(ModuleHandle module, const std::string& name) {
    const auto it = modules_.find(module);
    if (it == modules_.end() || missingEntryPoints_.count(name)) return Fail(127);  // ERROR_PROC_NOT_FOUND
    if (it->second == "setupapi.dll") {
        for (const char* e : kSetupApiExports)
            if (name == e) return true;
    } else {
        for (const char* e : kCfgMgrExports)
            if (name == e) return true;
    }
    return Fail(127);
}

void SimDeviceTree::FreeLibrary(ModuleHandle module) { modules_.erase(module); }

DevInfoSet SimDeviceTree::SetupDiGetClassDevsA(const KGUID* classGuid, uint32_t flags) {
    Count("SetupDiGetClassDevsA");
    const bool present = (flags & wire::DIGCF_PRESENT_FLAG) != 0;
    Set s;
    if (flags & wire::DIGCF_DEVICEINTERFACE_FLAG) {
        if (classGuid == nullptr) {
            lastError_ = kErrorInvalidParameter;
            return kInvalidDevInfoSet;
        }
        s.interfaceSet = true;
        const bool disks = *classGuid == kDiskInterface;
        if (present) ++presentInterfaceSets_;
        for (size_t i = 0; disks && i < interfaces_.size(); ++i) {
            const Node& n = nodes_[interfaces_[i].node];
            if (n.removed) continue;
            if (present && (!n.d.present || presentInterfaceSets_ <= interfaces_[i].hiddenForFirst)) continue;
            s.interfaces.push_back(i);
            if (std::find(s.members.begin(), s.members.end(), interfaces_[i].node) == s.members.end())
                s.members.push_back(interfaces_[i].node);
        }
    } else {
        if (classGuid == nullptr && !(flags & wire::DIGCF_ALLCLASSES_FLAG)) {
            lastError_ = kErrorInvalidParameter;
            return kInvalidDevInfoSet;
        }
        for (size_t i = 0; i < nodes_.size(); ++i) {
            const Node& n = nodes_[i];
            if (n.removed || (present && !n.d.present)) continue;
            if (!(flags & wire::DIGCF_ALLCLASSES_FLAG)) {
                KGUID g{};
                if (!ParseGuid(n.d.classGuid, g) || !(g == *classGuid)) continue;
            }
            s.members.push_back(i);
        }
    }
    const DevInfoSet h = nextSet_++;
    sets_[h] = std::move(s);
    return h;
}

bool SimDeviceTree::SetupDiEnumDeviceInfo(DevInfoSet set, uint32_t index, wire::SP_DEVINFO_DATA& data) {
    Count("SetupDiEnumDeviceInfo");
    Set* s = FindSet(set);
    if (s == nullptr) return Fail(kErrorInvalidHandle);
    if (data.cbSize != sizeof(wire::SP_DEVINFO_DATA)) return Fail(kErrorInvalidUserBuffer);
    if (index >= s->members.size()) return Fail(kErrorNoMoreItems);
    FillDevInfo(s->members[index], data);
    return true;
}

bool SimDeviceTree::SetupDiEnumDeviceInterfaces(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const KGUID& interfaceGuid,
                                                uint32_t index, wire::SP_DEVICE_INTERFACE_DATA& data) {
    Count("SetupDiEnumDeviceInterfaces");
    Set* s = FindSet(set);
    if (s == nullptr) return Fail(kErrorInvalidHandle);
    if (data.cbSize != sizeof(wire::SP_DEVICE_INTERFACE_DATA)) return Fail(kErrorInvalidUserBuffer);
    if (!(interfaceGuid == kDiskInterface)) return Fail(kErrorNoMoreItems);
    std::vector<size_t> list;
    for (size_t i : s->interfaces)
        if (device == nullptr || interfaces_[i].node + 1 == device->DevInst) list.push_back(i);
    if (index >= list.size()) return Fail(kErrorNoMoreItems);
    data.InterfaceClassGuid = kDiskInterface;
    data.Flags = 1;  // SPINT_ACTIVE
    data.Reserved = list[index] + 1;
    return true;
}

bool SimDeviceTree::SetupDiGetDeviceInterfaceDetailA(DevInfoSet set, const wire::SP_DEVICE_INTERFACE_DATA& data, void* detail,
                                                     uint32_t detailSize, uint32_t* requiredSize, wire::SP_DEVINFO_DATA* device) {
    Count("SetupDiGetDeviceInterfaceDetailA");
    Set* s = FindSet(set);
    if (s == nullptr) return Fail(kErrorInvalidHandle);
    if (data.cbSize != sizeof(wire::SP_DEVICE_INTERFACE_DATA) || data.Reserved == 0 ||
        std::find(s->interfaces.begin(), s->interfaces.end(), data.Reserved - 1) == s->interfaces.end())
        return Fail(kErrorInvalidParameter);
    const Interface& itf = interfaces_[data.Reserved - 1];
    constexpr uint32_t kPathAt = 4;  // DevicePath follows the 32-bit cbSize
    const uint32_t need = kPathAt + static_cast<uint32_t>(itf.path.size()) + 1;
    if (requiredSize != nullptr) *requiredSize = std::max<uint32_t>(need, sizeof(wire::SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    if (detail != nullptr && detailSize >= 4) {
        uint32_t cb;
        std::memcpy(&cb, detail, 4);
        if (cb != sizeof(wire::SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Fail(kErrorInvalidUserBuffer);
    }
    if (detail == nullptr || detailSize < need) return Fail(kErrorInsufficientBuffer);
    if (device != nullptr) {
        if (device->cbSize != sizeof(wire::SP_DEVINFO_DATA)) return Fail(kErrorInvalidUserBuffer);
        FillDevInfo(itf.node, *device);
    }
    std::memcpy(static_cast<uint8_t*>(detail) + kPathAt, itf.path.c_str(), itf.path.size() + 1);
    return true;
}

bool SimDeviceTree::SetupDiDestroyDeviceInfoList(DevInfoSet set) {
    Count("SetupDiDestroyDeviceInfoList");
    if (sets_.erase(set) == 0) return Fail(kErrorInvalidHandle);
    return true;
}

bool SimDeviceTree::SetupDiGetDeviceRegistryPropertyA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property,
                                                      uint32_t* regType, uint8_t* buffer, uint32_t bufferSize,
                                                      uint32_t* requiredSize) {
    Count("SetupDiGetDeviceRegistryPropertyA");
    Node* n = MemberNode(set, &device);
    if (n == nullptr) return false;
    std::string value;
    if (!Property(*n, property, value)) return Fail(kErrorInvalidData);
    const uint32_t need = static_cast<uint32_t>(value.size()) + 1;
    if (requiredSize != nullptr) *requiredSize = need;
    if (regType != nullptr) *regType = 1;  // REG_SZ
    if (buffer == nullptr || bufferSize < need) return Fail(kErrorInsufficientBuffer);
    std::memcpy(buffer, value.c_str(), need);
    return true;
}

bool SimDeviceTree::SetupDiGetDeviceInstanceIdA(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, char* buffer, uint32_t bufferSize,
                                                uint32_t* requiredSize) {
    Count("SetupDiGetDeviceInstanceIdA");
    Node* n = MemberNode(set, &device);
    if (n == nullptr) return false;
    const uint32_t need = static_cast<uint32_t>(n->d.id.size()) + 1;
    if (requiredSize != nullptr) *requiredSize = need;
    if (buffer == nullptr || bufferSize < need) return Fail(kErrorInsufficientBuffer);
    std::memcpy(buffer, n->d.id.c_str(), need);
    return true;
}

bool SimDeviceTree::SetupDiSetClassInstallParamsA(DevInfoSet set, const wire::SP_DEVINFO_DATA* device, const void* params,
                                                  uint32_t paramsSize) {
    Count("SetupDiSetClassInstallParamsA");
    Node* n = MemberNode(set, device);
    if (n == nullptr) return false;
    // The header says how big it is and which function the parameters are for.
    uint32_t header[2] = {};
    if (params == nullptr || paramsSize < sizeof header) return Fail(kErrorInvalidParameter);
    std::memcpy(header, params, sizeof header);
    if (header[0] != 8 || (header[1] == 0x12 && paramsSize != 20)) return Fail(kErrorInvalidUserBuffer);
    if (n->d.installParamsFail) return Fail(kErrorAccessDenied);
    n->paramsSet = true;
    return true;
}

bool SimDeviceTree::SetupDiCallClassInstaller(uint32_t installFunction, DevInfoSet set, const wire::SP_DEVINFO_DATA* device) {
    Count("SetupDiCallClassInstaller");
    Node* n = MemberNode(set, device);
    if (n == nullptr) return false;
    if (installFunction != 0x05) return Fail(kErrorDiDoDefault);  // only removal is modelled
    if (n->d.removeFails) return Fail(kErrorAccessDenied);
    n->removed = true;
    removed_.push_back(n->d.id);
    return true;
}

ConfigRet SimDeviceTree::CM_Locate_DevNodeA(DevInst& node, const char* instanceId, uint32_t) {
    Count("CM_Locate_DevNodeA");
    if (instanceId == nullptr) return kCrInvalidPointer;
    const auto it = index_.find(Lower(instanceId));
    if (it == index_.end() || !Visible(nodes_[it->second]) || nodes_[it->second].d.locateFails) return kCrNoSuchDevnode;
    node = static_cast<DevInst>(it->second + 1);
    return kCrSuccess;
}

ConfigRet SimDeviceTree::CM_Get_Parent(DevInst& parent, DevInst node, uint32_t) {
    Count("CM_Get_Parent");
    Node* n = NodeOf(node);
    if (n == nullptr) return kCrInvalidDevnode;
    const auto it = index_.find(Lower(n->d.parent));
    if (n->d.parent.empty() || it == index_.end() || nodes_[it->second].removed) return kCrNoSuchDevnode;
    parent = static_cast<DevInst>(it->second + 1);
    return kCrSuccess;
}

ConfigRet SimDeviceTree::CM_Get_Device_IDA(DevInst node, char* buffer, uint32_t length, uint32_t) {
    Count("CM_Get_Device_IDA");
    Node* n = NodeOf(node);
    if (n == nullptr) return kCrInvalidDevnode;
    if (buffer == nullptr) return kCrInvalidPointer;
    const std::string& id = n->d.id;
    if (length < id.size() + 1) {
        // What fits, without a terminating zero.
        std::memcpy(buffer, id.data(), length);
        return kCrBufferSmall;
    }
    std::memcpy(buffer, id.c_str(), id.size() + 1);
    return kCrSuccess;
}

ConfigRet SimDeviceTree::CM_Get_DevNode_Registry_PropertyA(DevInst node, uint32_t property, uint32_t* regType, void* buffer,
                                                            uint32_t& length, uint32_t) {
    Count("CM_Get_DevNode_Registry_PropertyA");
    Node* n = NodeOf(node);
    if (n == nullptr) return kCrInvalidDevnode;
    std::string value;
    if (property == 0 || !Property(*n, property - 1, value)) return kCrNoSuchValue;
    const uint32_t need = static_cast<uint32_t>(value.size()) + 1;
    if (regType != nullptr) *regType = 1;
    if (buffer == nullptr || length < need) {
        length = need;
        return kCrBufferSmall;
    }
    std::memcpy(buffer, value.c_str(), need);
    length = need;
    return kCrSuccess;
}

ConfigRet SimDeviceTree::CM_Reenumerate_DevNode(DevInst node, uint32_t) {
    Count("CM_Reenumerate_DevNode");
    Node* n = NodeOf(node);
    if (n == nullptr) return kCrInvalidDevnode;
    if (n->d.reenumerateFails) return kCrFailure;
    reenumerated_.push_back(n->d.id);
    // Removed devices below the node are found again.
    for (Node& m : nodes_) {
        if (!m.removed) continue;
        int depth = 0;
        for (std::string up = m.d.parent; !up.empty() && depth < 64; ++depth) {
            const auto it = index_.find(Lower(up));
            if (it == index_.end()) break;
            if (&nodes_[it->second] == n) {
                m.removed = false;
                break;
            }
            up = nodes_[it->second].d.parent;
        }
    }
    return kCrSuccess;
}

}  // namespace kestrel::sim
