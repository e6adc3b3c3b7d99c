#pragma once
// What one enumeration run shares between its disks: disks on the same controller have the same
// ancestors, and a node's service comes from one walk of its setup class. Nothing outlives the run.
#include <map>
#include <optional>
#include <string>

#include "discovery/DevMgr.h"

namespace kestrel {

struct TDevMgr::ChainCache {
    explicit ChainCache(IDeviceTree& tree) : tree_(tree) {}
    ~ChainCache() {
        for (auto& [guid, cls] : classes)
            if (cls.set != kInvalidDevInfoSet) tree_.SetupDiDestroyDeviceInfoList(cls.set);
    }
    ChainCache(const ChainCache&) = delete;
    ChainCache& operator=(const ChainCache&) = delete;

    struct ClassSet {
        DevInfoSet set = kInvalidDevInfoSet;
        std::map<std::string, wire::SP_DEVINFO_DATA> members;  // instance ID -> first member with it
    };
    // Instance ID of a device -> its parent node as read (parent link null); nullopt: not located.
    std::map<std::string, std::optional<DEVICE_NODE>> parents;
    // Instance ID of a node -> the node as read (its class and service), for a parent shared by disks.
    std::map<std::string, DEVICE_NODE> nodes;
    // Class GUID text -> the present members of the class, kept open for the service reads.
    std::map<std::string, ClassSet> classes;

private:
    IDeviceTree& tree_;
};

namespace discovery_detail {
// Bounded copy of a possibly unterminated text into a fixed field, always terminated.
template <size_t N>
void CopyText(char (&field)[N], const char* text, size_t maxLen) {
    size_t n = 0;
    while (n < maxLen && n < N - 1 && text[n] != '\0') ++n;
    for (size_t i = 0; i < n; ++i) field[i] = text[i];
    for (size_t i = n; i < N; ++i) field[i] = '\0';
}
std::string Upper(std::string s);
std::string GuidText(const KGUID& g);  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
bool ParseGuidText(const char* text, KGUID& g);
}  // namespace discovery_detail

}  // namespace kestrel
