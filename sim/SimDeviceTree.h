#pragma once
// The simulated device tree behind the setup API and the configuration manager: device nodes with
// their properties, the disk interfaces, the two libraries and their entry points. It counts every
// call, so a test can see what one operation costs.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceTree.h"

namespace kestrel::sim {

struct SimDevNode {
    std::string id;
    std::string parent;  // instance ID; empty at the root
    std::string service;
    std::string classGuid;  // "{...}" text; empty: the node has no class
    std::string driver;     // driver key: class GUID, "\" and a four-digit instance
    std::string description;
    std::string driverVersion;
    std::string location;
    std::string friendlyName;
    bool present = true;
    bool locateFails = false;
    bool reenumerateFails = false;
    bool removeFails = false;
    bool installParamsFail = false;
};

class SimDeviceTree : public IDeviceTree {
public:
    // Throws std::runtime_error on a duplicate instance ID.
    void AddNode(const SimDevNode& node);
    // A disk interface of the node; hiddenForFirst: the first n present disk-interface sets leave it out.
    void AddInterface(const std::string& path, const std::string& nodeId, uint32_t hiddenForFirst);
    void FailLibrary(const std::string& name) { failingLibraries_.insert(Lower(name)); }
    // LoadLibraryA raises instead of answering, as a fault in a library's start-up code would.
    void ThrowInLoadLibrary() { throwInLoadLibrary_ = true; }
    void MissEntryPoint(const std::string& name) { missingEntryPoints_.insert(name); }
    bool HasNode(const std::string& id) const { return index_.count(Lower(id)) != 0; }
    const SimDevNode* FindNode(const std::string& id) const;
    size_t PresentInterfaceCount() const;

    // What the program did.
    uint64_t Calls() const { return calls_; }
    const std::map<std::string, uint64_t>& CallsByName() const { return byName_; }
    void ResetCounters();
    const std::vector<std::string>& Removed() const { return removed_; }
    const std::vector<std::string>& Reenumerated() const { return reenumerated_; }
    size_t OpenSets() const { return sets_.size(); }
    size_t LoadedModules() const { return modules_.size(); }

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
    uint32_t GetLastError() override { return lastError_; }

private:
    struct Node {
        SimDevNode d;
        bool removed = false;
        bool paramsSet = false;
    };
    struct Interface {
        std::string path;
        size_t node;
        uint32_t hiddenForFirst;
    };
    struct Set {
        std::vector<size_t> members;     // node indexes
        std::vector<size_t> interfaces;  // interface indexes (interface sets only)
        bool interfaceSet = false;
    };
    static std::string Lower(const std::string& s);
    void Count(const char* name);
    bool Fail(uint32_t error);
    Set* FindSet(DevInfoSet set);
    Node* MemberNode(DevInfoSet set, const wire::SP_DEVINFO_DATA* device);
    Node* NodeOf(DevInst inst);
    bool Visible(const Node& n) const { return !n.removed && n.d.present; }
    bool Property(const Node& n, uint32_t spdrp, std::string& value) const;
    void FillDevInfo(size_t nodeIndex, wire::SP_DEVINFO_DATA& data) const;

    std::vector<Node> nodes_;
    std::map<std::string, size_t> index_;  // lower-case instance ID -> node
    std::vector<Interface> interfaces_;
    std::set<std::string> failingLibraries_;
    bool throwInLoadLibrary_ = false;
    std::set<std::string> missingEntryPoints_;
    std::map<ModuleHandle, std::string> modules_;
    ModuleHandle nextModule_ = 0x10000000;
    std::map<DevInfoSet, Set> sets_;
    DevInfoSet nextSet_ = 0x5000;
    uint32_t presentInterfaceSets_ = 0;
    uint32_t lastError_ = 0;
    uint64_t calls_ = 0;
    std::map<std::string, uint64_t> byName_;
    std::vector<std::string> removed_;
    std::vector<std::string> reenumerated_;
};

}  // namespace kestrel::sim
