// The device manager's bindings, version record, disk removal and controller re-enumeration.
#include <gtest/gtest.h>

#include <algorithm>

#include "discovery/DevMgr.h"
#include "unit/DiscoveryMachine.h"

using namespace kestrel;
using namespace kestrel::testing;
using nlohmann::json;

namespace {

struct BindingCase {
    const char* name;
    json failing;  // libraries that do not load
    json missing;  // entry points that are not exported
};

class Bindings : public ::testing::TestWithParam<BindingCase> {};

// Without every entry point nothing touches the device tree, and the device object gets no disks.
TEST_P(Bindings, MissingLibraryOrEntryPointDisablesDiscovery) {
    json m = BaseMachine();
    AddDisk(m, "A");
    m["device_tree"]["libraries_failing"] = GetParam().failing;
    m["device_tree"]["missing_entry_points"] = GetParam().missing;
    auto machine = MakeMachine(m);
    {
        TDevMgr mgr(machine->platform());
        EXPECT_TRUE(mgr.BindingsMissing());
        EXPECT_FALSE(mgr.EnumPhysicalDrives());
        EXPECT_EQ(mgr.GetDiskCount(), 0);
        EXPECT_EQ(mgr.GetDiskList(), nullptr);
        EXPECT_FALSE(mgr.RemoveDiskDevice(machine->description()["disks"][0]["node"].get<std::string>()));
        EXPECT_FALSE(mgr.RescanStorageControllers());
        std::vector<std::string> ids;
        EXPECT_EQ(mgr.EnumClassDevices(wire::GUID_CLASS_HDC_ID, ids), 0);
        EXPECT_EQ(mgr.BuildParentChain("SCSI\\Disk"), nullptr);
        EXPECT_EQ(machine->deviceTree().Calls(), 0u);
    }
    EXPECT_EQ(machine->deviceTree().LoadedModules(), 0u);  // what loaded was freed
}

INSTANTIATE_TEST_SUITE_P(Cases, Bindings,
                         ::testing::Values(BindingCase{"CfgMgr32DoesNotLoad", {"cfgmgr32.dll"}, json::array()},
                                           BindingCase{"SetupApiDoesNotLoad", {"SETUPAPI.DLL"}, json::array()},
                                           BindingCase{"NeverCalledEntryPointMissing", json::array(), {"CM_Get_Sibling"}},
                                           BindingCase{"ImageListEntryPointMissing", json::array(), {"SetupDiDestroyClassImageList"}},
                                           BindingCase{"CalledEntryPointMissing", json::array(), {"CM_Get_Parent"}}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(DevMgr, AllEntryPointsBound) {
    auto machine = MakeMachine(BaseMachine());
    TDevMgr mgr(machine->platform());
    EXPECT_FALSE(mgr.BindingsMissing());
    EXPECT_EQ(machine->deviceTree().LoadedModules(), 2u);
}

// GetVersionExA that refuses the extended record, or every record.
class VersionRefusing : public ISystem {
public:
    VersionRefusing(ISystem& inner, bool refuseBasic) : inner_(inner), refuseBasic_(refuseBasic) {}
    bool GetVersionExA(wire::OSVERSIONINFOEXA& rec) override {
        if (rec.dwOSVersionInfoSize == wire::kOsVersionInfoExSize || refuseBasic_) return false;
        return inner_.GetVersionExA(rec);
    }
    uint64_t VerSetConditionMask(uint64_t m, uint32_t t, uint8_t c) override { return inner_.VerSetConditionMask(m, t, c); }
    bool VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& r, uint32_t t, uint64_t c) override { return inner_.VerifyVersionInfoA(r, t, c); }
    std::optional<int32_t> RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& r) override { return inner_.RtlGetVersion(r); }
    int32_t GetSystemMetrics(int32_t i) override { return inner_.GetSystemMetrics(i); }
    std::optional<bool> IsWow64Process() override { return inner_.IsWow64Process(); }
    bool Is64BitProcess() override { return inner_.Is64BitProcess(); }
    bool IsAdministratorMember() override { return inner_.IsAdministratorMember(); }
    bool EnableShutdownPrivilege(uint32_t& e) override { return inner_.EnableShutdownPrivilege(e); }
    bool ExitWindowsEx(uint32_t f, uint32_t r) override { return inner_.ExitWindowsEx(f, r); }
    bool ShellExecuteA(const std::string& o, const std::string& f, const std::string& p, const std::string& d, int32_t s) override {
        return inner_.ShellExecuteA(o, f, p, d, s);
    }
    std::optional<std::string> GetOwnFileVersion() override { return inner_.GetOwnFileVersion(); }
    std::string ErrorMessageText(uint32_t c) override { return inner_.ErrorMessageText(c); }
    uint32_t GetLastError() override { return inner_.GetLastError(); }

private:
    ISystem& inner_;
    bool refuseBasic_;
};

TEST(DevMgr, VersionFromTheExtendedRecord) {
    json m = BaseMachine();
    m["windows"]["version"] = {{"platform", 2}, {"major", 6}, {"minor", 1}, {"product_type", 3}};
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_EQ(mgr.iMajorVersion, 6u);
    EXPECT_EQ(mgr.iMinorVersion, 1u);
    EXPECT_EQ(mgr.iPlatformId, 2u);
    EXPECT_EQ(mgr.iProductType, 3);
    EXPECT_EQ(mgr.bIsNT, 1);
}

TEST(DevMgr, VersionRetriesWithTheBasicRecord) {
    json m = BaseMachine();
    m["windows"]["version"] = {{"platform", 2}, {"major", 6}, {"minor", 1}, {"product_type", 3}};
    auto machine = MakeMachine(m);
    VersionRefusing sys(machine->system(), false);
    Platform p = machine->platform();
    p.system = &sys;
    TDevMgr mgr(p);
    EXPECT_EQ(mgr.iMajorVersion, 6u);
    EXPECT_EQ(mgr.iMinorVersion, 1u);
    EXPECT_EQ(mgr.iPlatformId, 2u);
    EXPECT_EQ(mgr.bIsNT, 1);
    EXPECT_EQ(mgr.iProductType, 0);
}

TEST(DevMgr, NoVersionLeavesZeros) {
    auto machine = MakeMachine(BaseMachine());
    VersionRefusing sys(machine->system(), true);
    Platform p = machine->platform();
    p.system = &sys;
    TDevMgr mgr(p);
    EXPECT_EQ(mgr.iMajorVersion, 0u);
    EXPECT_EQ(mgr.iPlatformId, 0u);
    EXPECT_EQ(mgr.bIsNT, 0);
    EXPECT_FALSE(mgr.BindingsMissing());  // construction still binds
}

struct RemoveCase {
    const char* name;
    json diskNode;     // node fields of disk B
    bool upperCaseId;  // ask for disk B's ID with letters changed in case
    bool removed;
};

class RemoveDisk : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveDisk, RemovesTheNodeWithThatExactId) {
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B");
    for (const auto& [k, v] : GetParam().diskNode.items()) m["device_tree"]["nodes"].back()[k] = v;
    auto machine = MakeMachine(m);
    std::string id = m["disks"][1]["node"].get<std::string>();
    if (GetParam().upperCaseId) std::transform(id.begin(), id.end(), id.begin(), ::toupper);
    TDevMgr mgr(machine->platform());
    EXPECT_EQ(mgr.RemoveDiskDevice(id), GetParam().removed);
    const auto& removed = machine->deviceTree().Removed();
    EXPECT_EQ(removed.size(), GetParam().removed ? 1u : 0u);
    if (GetParam().removed && !removed.empty()) {
        EXPECT_EQ(removed[0], m["disks"][1]["node"].get<std::string>());
    }
    EXPECT_EQ(machine->deviceTree().OpenSets(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RemoveDisk,
                         ::testing::Values(RemoveCase{"ExactId", json::object(), false, true},
                                           RemoveCase{"LetterCaseDiffers", json::object(), true, false},
                                           RemoveCase{"NotPresentIsStillRemoved", {{"present", false}}, false, true},
                                           RemoveCase{"InstallParamsRefused", {{"install_params_fail", true}}, false, false},
                                           RemoveCase{"RemovalRefused", {{"remove_fails", true}}, false, false}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(DevMgr, RemoveUnknownIdIsFalse) {
    json m = BaseMachine();
    AddDisk(m, "A");
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_FALSE(mgr.RemoveDiskDevice("SCSI\\Disk&Ven_&Prod_NONE\\1"));
    EXPECT_FALSE(mgr.RemoveDiskDevice(""));
}

// A removed disk comes back when its controller is re-enumerated.
TEST(DevMgr, RemovedDiskReturnsWithTheRescan) {
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B");
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.RemoveDiskDevice(m["disks"][0]["node"].get<std::string>()));
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Names(mgr.GetDiskList(), mgr.GetDiskCount()), "B");
    EXPECT_TRUE(mgr.RescanStorageControllers());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Names(mgr.GetDiskList(), mgr.GetDiskCount()), "A,B");
}

json TwoIdeControllers(bool firstFails) {
    json m = BaseMachine();
    // A second IDE ATA/ATAPI controller, and the NVMe controller as the storage controller.
    json ide = Node("PCI\\VEN_8086&DEV_7111&SUBSYS_00000000&REV_01\\3&267A616A&0&09", "ACPI\\PNP0A08\\0", kHdcClass, "atapi", 1);
    m["device_tree"]["nodes"].push_back(ide);
    m["device_tree"]["nodes"][2]["locate_fails"] = firstFails;
    return m;
}

TEST(DevMgr, RescanReenumeratesIdeThenStorageControllers) {
    json m = TwoIdeControllers(false);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_TRUE(mgr.RescanStorageControllers());
    const std::vector<std::string> expected = {kAhci, "PCI\\VEN_8086&DEV_7111&SUBSYS_00000000&REV_01\\3&267A616A&0&09", kNvmeController};
    EXPECT_EQ(machine->deviceTree().Reenumerated(), expected);
}

TEST(DevMgr, RescanWithAnIdeControllerThatCannotBeLocated) {
    json m = TwoIdeControllers(true);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_FALSE(mgr.RescanStorageControllers());
    // The other IDE controller still is; the storage controllers are not.
    const std::vector<std::string> expected = {"PCI\\VEN_8086&DEV_7111&SUBSYS_00000000&REV_01\\3&267A616A&0&09"};
    EXPECT_EQ(machine->deviceTree().Reenumerated(), expected);
}

TEST(DevMgr, RescanWithAControllerThatRefusesReenumeration) {
    json m = TwoIdeControllers(false);
    m["device_tree"]["nodes"][3]["reenumerate_fails"] = true;  // the storage controller
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_FALSE(mgr.RescanStorageControllers());
    EXPECT_EQ(machine->deviceTree().Reenumerated().size(), 2u);
}

TEST(DevMgr, ClassWithoutDevices) {
    json m = BaseMachine();
    m["device_tree"]["nodes"].erase(3);  // no storage controller
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    std::vector<std::string> ids;
    EXPECT_EQ(mgr.EnumClassDevices(wire::GUID_CLASS_SCSIADAPTER_ID, ids), 0);
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(mgr.ReenumerateClass(wire::GUID_CLASS_SCSIADAPTER_ID));
    EXPECT_TRUE(mgr.RescanStorageControllers());
}

TEST(DevMgr, ClassDevicesArePresentOnesByDriverKey) {
    json m = TwoIdeControllers(false);
    m["device_tree"]["nodes"].push_back(Node("PCI\\VEN_8086&DEV_7112\\GONE", "ACPI\\PNP0A08\\0", kHdcClass, "atapi", 2));
    m["device_tree"]["nodes"].back()["present"] = false;
    for (int i = 0; i < 20; ++i)
        m["device_tree"]["nodes"].push_back(Node("PCI\\VEN_1000&DEV_0097\\" + std::to_string(i), "ACPI\\PNP0A08\\0", kScsiClass, "LSI_SAS3", i + 1));
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    std::vector<std::string> ids;
    EXPECT_EQ(mgr.EnumClassDevices(wire::GUID_CLASS_HDC_ID, ids), 2);
    EXPECT_EQ(ids.size(), 2u);
    ids.clear();
    // Every device of a large class, beyond sixteen.
    EXPECT_EQ(mgr.EnumClassDevices(wire::GUID_CLASS_SCSIADAPTER_ID, ids), 21);
    EXPECT_EQ(machine->deviceTree().OpenSets(), 0u);
}

}  // namespace

namespace {

TEST(SimDeviceTree, DriverVersionLivesInTheDriverKey) {
    json m = BaseMachine();
    m["device_tree"]["nodes"][2]["driver_version"] = "10.0.19041.3636";
    auto machine = MakeMachine(m);
    const auto v = machine->registry().Get(std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + kHdcClass + "\\0000", "DriverVersion");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(std::string(v->data.begin(), v->data.end()), std::string("10.0.19041.3636") + '\0');
}

TEST(SimDeviceTree, DescriptionErrorsNameTheField) {
    json m = BaseMachine();
    AddDisk(m, "A")["node"] = "NOPE";
    EXPECT_THROW(MakeMachine(m), std::runtime_error);
    json dup = BaseMachine();
    dup["device_tree"]["nodes"].push_back(dup["device_tree"]["nodes"][0]);
    EXPECT_THROW(MakeMachine(dup), std::runtime_error);
}

}  // namespace
