// Device instance identifiers and the chain of ancestor nodes above a disk.
#include <cstdlib>
#include <cstring>

#include "discovery/DevMgr.h"
#include "discovery/DevMgrInternal.h"

namespace kestrel {

using namespace discovery_detail;

namespace {
// The device tree has a handful of levels; a longer chain means a tree that loops.
constexpr int kMaxChainDepth = 64;
constexpr uint32_t kClassGuidTextSize = 39;  // "{8-4-4-4-12}" and its zero
}  // namespace

bool TDevMgr::IsHexText(const std::string& text) {
    std::string s;
    for (char c : text) s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = s.find("0x");
    if (at == 0) s.erase(0, 2);
    else if (at != std::string::npos) return false;
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

void TDevMgr::ParseVendorDevice(const char* instanceId, uint16_t& vendorId, uint16_t& deviceId) {
    vendorId = deviceId = 0;
    if (instanceId == nullptr) return;
    const std::string id = Upper(instanceId);
    size_t v, d;
    if ((v = id.find("VEN_")) != std::string::npos && (d = id.find("DEV_")) != std::string::npos) {
        // PCI, even when the text also names USB.
    } else if (id.find("USB") != std::string::npos && (v = id.find("VID_")) != std::string::npos &&
               (d = id.find("PID_")) != std::string::npos) {
    } else {
        return;
    }
    // Four characters must follow each tag; a shorter tail is not an ID.
    if (v + 8 > id.size() || d + 8 > id.size()) return;
    const std::string vs = id.substr(v + 4, 4), ds = id.substr(d + 4, 4);
    if (!IsHexText(vs) || !IsHexText(ds)) return;
    char* end = nullptr;
    const unsigned long vv = std::strtoul(vs.c_str(), &end, 16);
    if (end == nullptr || *end != '\0') return;
    const unsigned long dv = std::strtoul(ds.c_str(), &end, 16);
    if (end == nullptr || *end != '\0') return;
    vendorId = static_cast<uint16_t>(vv);
    deviceId = static_cast<uint16_t>(dv);
}

DEVICE_NODE* TDevMgr::BuildParentChain(const char* instanceId) { return BuildChain(instanceId, nullptr); }

DEVICE_NODE* TDevMgr::BuildChain(const char* instanceId, ChainCache* cache) {
    if (BindingsMissing() || instanceId == nullptr || instanceId[0] == '\0') return nullptr;
    DEVICE_NODE* head = nullptr;
    try {
        DEVICE_NODE** link = &head;
        std::string child = instanceId;
        for (int depth = 0; depth < kMaxChainDepth && !child.empty(); ++depth) {
            DEVICE_NODE node{};
            bool found;
            if (cache != nullptr && cache->parents.count(child)) {
                const auto& hit = cache->parents.at(child);
                found = hit.has_value();
                if (found) node = *hit;
            } else {
                found = ReadParentNode(child.c_str(), node, cache);
                if (cache != nullptr) cache->parents.emplace(child, found ? std::optional<DEVICE_NODE>(node) : std::nullopt);
            }
            if (!found) break;
            node.parent = nullptr;
            *link = new DEVICE_NODE(node);
            child = (*link)->instanceId;
            link = &(*link)->parent;
        }
    } catch (...) {
        ReleaseChain(head);
        return nullptr;
    }
    return head;
}

bool TDevMgr::ReadParentNode(const char* childId, DEVICE_NODE& node, ChainCache* cache) {
    IDeviceTree& t = *p_.deviceTree;
    DevInst dev = 0, parent = 0;
    if (t.CM_Locate_DevNodeA(dev, childId, 0) != wire::CR_SUCCESS_CODE) return false;
    if (t.CM_Get_Parent(parent, dev, 0) != wire::CR_SUCCESS_CODE) return false;
    node = DEVICE_NODE{};
    if (t.CM_Get_Device_IDA(parent, node.instanceId, sizeof node.instanceId, 0) != wire::CR_SUCCESS_CODE) node.instanceId[0] = '\0';
    node.instanceId[sizeof node.instanceId - 1] = '\0';
    if (cache != nullptr && node.instanceId[0] != '\0') {
        const auto known = cache->nodes.find(node.instanceId);
        if (known != cache->nodes.end()) {
            node = known->second;
            return true;
        }
    }
    ParseVendorDevice(node.instanceId, node.vendorId, node.deviceId);

    char guidText[kClassGuidTextSize] = {};
    uint32_t length = sizeof guidText;
    if (t.CM_Get_DevNode_Registry_PropertyA(parent, wire::CM_DRP_CLASSGUID_PROP, nullptr, guidText, length, 0) ==
        wire::CR_SUCCESS_CODE) {
        guidText[sizeof guidText - 1] = '\0';
        if (ParseGuidText(guidText, node.classGuid)) FindNodeService(node, cache);
    }
    if (cache != nullptr && node.instanceId[0] != '\0') cache->nodes.emplace(node.instanceId, node);
    return true;
}

void TDevMgr::FindNodeService(DEVICE_NODE& node, ChainCache* cache) {
    IDeviceTree& t = *p_.deviceTree;
    auto readService = [&](DevInfoSet set, const wire::SP_DEVINFO_DATA& dev) {
        char service[260] = {};
        if (t.SetupDiGetDeviceRegistryPropertyA(set, dev, wire::SPDRP_SERVICE_PROP, nullptr, reinterpret_cast<uint8_t*>(service),
                                                sizeof service - 1, nullptr))
            CopyText(node.service, service, sizeof service);
    };
    auto memberId = [&](DevInfoSet set, const wire::SP_DEVINFO_DATA& dev, char (&id)[260]) {
        std::memset(id, 0, sizeof id);
        const bool ok = t.SetupDiGetDeviceInstanceIdA(set, dev, id, sizeof id - 1, nullptr);
        id[sizeof id - 1] = '\0';
        return ok;
    };

    if (cache == nullptr) {
        const DevInfoSet set = t.SetupDiGetClassDevsA(&node.classGuid, wire::DIGCF_PRESENT_FLAG);
        if (set == kInvalidDevInfoSet) return;
        for (uint32_t i = 0;; ++i) {
            wire::SP_DEVINFO_DATA dev{};
            dev.cbSize = sizeof dev;
            if (!t.SetupDiEnumDeviceInfo(set, i, dev)) break;
            char id[260];
            if (!memberId(set, dev, id) || std::strcmp(id, node.instanceId) != 0) continue;
            readService(set, dev);
            break;
        }
        t.SetupDiDestroyDeviceInfoList(set);
        return;
    }

    // Shared: one walk of the class for every node of it in this run.
    const std::string key = GuidText(node.classGuid);
    auto it = cache->classes.find(key);
    if (it == cache->classes.end()) {
        ChainCache::ClassSet cls;
        cls.set = t.SetupDiGetClassDevsA(&node.classGuid, wire::DIGCF_PRESENT_FLAG);
        if (cls.set != kInvalidDevInfoSet) {
            for (uint32_t i = 0;; ++i) {
                wire::SP_DEVINFO_DATA dev{};
                dev.cbSize = sizeof dev;
                if (!t.SetupDiEnumDeviceInfo(cls.set, i, dev)) break;
                char id[260];
                if (memberId(cls.set, dev, id)) cls.members.emplace(id, dev);
            }
        }
        it = cache->classes.emplace(key, std::move(cls)).first;
    }
    const auto m = it->second.members.find(node.instanceId);
    if (m != it->second.members.end()) readService(it->second.set, m->second);
}

}  // namespace kestrel
