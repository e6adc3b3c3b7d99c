// Instance-ID parsing and the ancestor chain above a disk.
#include <gtest/gtest.h>

#include "discovery/DevMgr.h"
#include "unit/DiscoveryMachine.h"

using namespace kestrel;
using namespace kestrel::testing;
using nlohmann::json;

namespace {

TEST(IsHexText, Table) {
    const struct {
        const char* text;
        bool hex;
    } cases[] = {{"0x1A2B", true}, {"1A2B", true},  {"1a2b", true},   {"0X1F", true},   {"0x", false},   {"", false},
                 {"12&4", false},  {"1x0x", false}, {"10x2", false},  {"0x0x", false},  {"8086", true},  {"G000", false},
                 {"  12", false},  {"ffff", true},  {"0", true}};
    for (const auto& c : cases) EXPECT_EQ(TDevMgr::IsHexText(c.text), c.hex) << '"' << c.text << '"';
}

TEST(VendorDevice, Table) {
    const struct {
        const char* id;
        uint16_t vendor, device;
    } cases[] = {
        {"PCI\\VEN_8086&DEV_2822&SUBSYS_86941043&REV_10\\3&11583659&0&FA", 0x8086, 0x2822},
        {"pci\\ven_1f2a&dev_5012&subsys_50121f2a\\4&1", 0x1F2A, 0x5012},
        {"USB\\VID_1234&PID_5678\\0123456789AB", 0x1234, 0x5678},
        // VEN_/DEV_ win over the USB pair, even in a USB ID.
        {"USB\\VID_1234&PID_5678&VEN_ABCD&DEV_0001\\1", 0xABCD, 0x0001},
        // Incomplete pairs and non-hexadecimal digits give nothing.
        {"PCI\\VEN_8086\\3&1", 0, 0},
        {"PCIIDE\\IDECHANNEL\\4&1F0D5C2C&0&0", 0, 0},
        {"USBSTOR\\VID_1234\\1", 0, 0},
        {"STORAGE\\VID_1234&PID_5678\\1", 0, 0},  // the VID/PID pair counts only in a USB ID
        {"PCI\\VEN_80&6&DEV_2822", 0, 0},
        {"PCI\\VEN_8086&DEV_28", 0, 0},  // fewer than four characters follow
        {"PCI\\DEV_2822&VEN_8086", 0x8086, 0x2822},
        {"PCI\\VEN_0000&DEV_2822", 0, 0x2822},
    };
    for (const auto& c : cases) {
        uint16_t v = 1, d = 1;
        TDevMgr::ParseVendorDevice(c.id, v, d);
        EXPECT_EQ(v, c.vendor) << c.id;
        EXPECT_EQ(d, c.device) << c.id;
    }
}

// Builds a disk below a chain of nodes; returns its record's ancestors as "id(service)" texts.
struct ChainFixture {
    json m = BaseMachine();
    void Below(const std::string& parent) { AddDisk(m, "A", json::object(), parent); }
};

std::string Describe(const DEVICE_NODE* n) {
    std::string s;
    for (; n != nullptr; n = n->parent) s += std::string(n->instanceId) + "(" + n->service + ")" + (n->parent ? " > " : "");
    return s;
}

TEST(ParentChain, IdeChannelTakesTheControllersIds) {
    ChainFixture f;
    f.m["device_tree"]["nodes"].push_back(Node("PCI\\VEN_8086&DEV_2822&SUBSYS_86941043&REV_10\\3&1", "ACPI\\PNP0A08\\0", kHdcClass, "intelide", 1));
    f.m["device_tree"]["nodes"].push_back(Node("PCIIDE\\IDECHANNEL\\4&1F0D5C2C&0&0", "PCI\\VEN_8086&DEV_2822&SUBSYS_86941043&REV_10\\3&1", kHdcClass, "atapi", 2));
    f.Below("PCIIDE\\IDECHANNEL\\4&1F0D5C2C&0&0");
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    const REG_DATA& r = mgr.GetDiskList()[0];
    EXPECT_EQ(Describe(r.ancestors),
              "PCIIDE\\IDECHANNEL\\4&1F0D5C2C&0&0(atapi) > PCI\\VEN_8086&DEV_2822&SUBSYS_86941043&REV_10\\3&1(intelide) > "
              "ACPI\\PNP0A08\\0(pci) > HTREE\\ROOT\\0()");
    EXPECT_EQ(r.ParentVid, 0x8086);
    EXPECT_EQ(r.ParentDid, 0x2822);
}

TEST(ParentChain, UsbBridgeIds) {
    ChainFixture f;
    f.m["device_tree"]["nodes"].push_back(Node("USB\\VID_1234&PID_5678\\0123456789AB", "ACPI\\PNP0A08\\0",
                                               "{36FC9E60-C465-11CF-8056-444553540000}", "UASPStor", 0));
    f.Below("USB\\VID_1234&PID_5678\\0123456789AB");
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDiskList()[0].ParentVid, 0x1234);
    EXPECT_EQ(mgr.GetDiskList()[0].ParentDid, 0x5678);
    EXPECT_STREQ(mgr.GetDiskList()[0].ancestors->service, "UASPStor");
}

// A node with only a vendor ID is passed over for the next one with both.
TEST(ParentChain, NodeWithOneIdIsPassedOver) {
    ChainFixture f;
    f.m["device_tree"]["nodes"].push_back(Node("PCI\\VEN_0000&DEV_1111\\1", kAhci, kHdcClass, "odd", 3));
    f.Below("PCI\\VEN_0000&DEV_1111\\1");
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDiskList()[0].ParentVid, 0x8086);
    EXPECT_EQ(mgr.GetDiskList()[0].ParentDid, 0xA352);
}

// A class that cannot be read, or a node that is not among its class's present members, leaves
// the service empty; the chain goes on above it.
TEST(ParentChain, ServiceMissingChainContinues) {
    ChainFixture f;
    f.m["device_tree"]["nodes"][2].erase("class_guid");
    f.Below(kAhci);
    AddDisk(f.m, "B", json::object(), kNvmeController);
    f.m["device_tree"]["nodes"][3]["class_guid"] = "{not a guid}";
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Describe(mgr.GetDiskList()[0].ancestors), std::string(kAhci) + "() > ACPI\\PNP0A08\\0(pci) > HTREE\\ROOT\\0()");
    EXPECT_EQ(mgr.GetDiskList()[0].ParentVid, 0x8086);
    EXPECT_EQ(Describe(mgr.GetDiskList()[1].ancestors), std::string(kNvmeController) + "() > ACPI\\PNP0A08\\0(pci) > HTREE\\ROOT\\0()");
}

TEST(ParentChain, ParentThatCannotBeLocatedEndsTheChain) {
    ChainFixture f;
    f.m["device_tree"]["nodes"][1]["locate_fails"] = true;  // the PCI root complex
    f.Below(kAhci);
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    // The controller is read through its child; above the root complex nothing is found.
    EXPECT_EQ(Describe(mgr.GetDiskList()[0].ancestors), std::string(kAhci) + "(storahci) > ACPI\\PNP0A08\\0(pci)");
}

TEST(ParentChain, DiskThatCannotBeLocatedHasNoChain) {
    ChainFixture f;
    f.Below(kAhci);
    f.m["device_tree"]["nodes"].back()["locate_fails"] = true;
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDiskList()[0].ancestors, nullptr);
    EXPECT_EQ(mgr.GetDiskList()[0].ParentVid, 0);
    EXPECT_EQ(mgr.BuildParentChain(nullptr), nullptr);
    EXPECT_EQ(mgr.BuildParentChain(""), nullptr);
}

// A tree whose parents loop is cut off instead of followed for ever.
TEST(ParentChain, LoopingTreeIsBounded) {
    json m = BaseMachine();
    m["device_tree"]["nodes"].push_back(Node("LOOP\\A", "LOOP\\B", kSystemClass, "a", 5));
    m["device_tree"]["nodes"].push_back(Node("LOOP\\B", "LOOP\\A", kSystemClass, "b", 6));
    AddDisk(m, "A", json::object(), "LOOP\\A");
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    int depth = 0;
    for (const DEVICE_NODE* n = mgr.GetDiskList()[0].ancestors; n != nullptr; n = n->parent) ++depth;
    EXPECT_EQ(depth, 64);
}

TEST(ParentChain, ClassGuidOfEachNode) {
    ChainFixture f;
    f.Below(kAhci);
    auto machine = MakeMachine(f.m);
    TDevMgr mgr(machine->platform());
    DEVICE_NODE* chain = mgr.BuildParentChain(f.m["disks"][0]["node"].get<std::string>().c_str());
    ASSERT_NE(chain, nullptr);
    EXPECT_TRUE(chain->classGuid == wire::GUID_CLASS_HDC_ID);
    EXPECT_EQ(chain->vendorId, 0x8086);
    TDevMgr::ReleaseChain(chain);
    EXPECT_EQ(machine->deviceTree().OpenSets(), 0u);
}

}  // namespace
