// CSMI driver and phy information against the simulated RAID controller of the CSMI machine file.
#include <gtest/gtest.h>

#include "support/NvmeFixture.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

constexpr int kPort = 3;

class CsmiPorts : public ::testing::Test {
protected:
    void Build(const json& controller = json::object()) {
        dev.reset();
        machine = MachineFile("csmi-raid.json", [&](json& d) { d["csmi_controllers"][0].merge_patch(controller); });
        dev = std::make_unique<TAtaDevice>(machine->platform());
        ASSERT_TRUE(dev->SelectPort(kPort, nullptr, -1, SELECT_CSMI));
    }
    std::string Log() { return DebugLog(*machine); }

    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<TAtaDevice> dev;
    wire::CSMI_SAS_PHY_INFO info{};
};

TEST_F(CsmiPorts, ReadsTheDriverInformationAndThePhyTable) {
    Build();
    ASSERT_TRUE(dev->get_phy_info(info));
    EXPECT_EQ(info.bNumberOfPhys, 4);
    EXPECT_EQ(info.Phy[1].Attached.bTargetPortProtocol, wire::CSMI_SAS_PROTOCOL_STP);
    EXPECT_EQ(info.Phy[1].Attached.bSASAddress[7], 0x01);
    EXPECT_TRUE(InOrder(Log(), {"TAtaDevice::get_phy_info : CSMI_SAS_DRIVER_INFO:\n", "  Name:        \"lsi_sas2\"\n",
                                "  Description: \"LSI 2308 SAS/SATA RAID\"\n", "  Revision:    2.0\n",
                                "CSMI_SAS_PHY_INFO: NumberOfPhys=4, max_number_of_phys=32\n", "Phy[0] Port:   0x00\n",
                                "  Type:        0x10, 0x10\n", "  InitProto:   0x0d, 0x00\n", "  TargetProto: 0x00, 0x01\n",
                                "  PhyIdent:    0x00, 0x00\n", "  SASAddress(Identify):  50 0a 0b 0c 00 00 00 00, ",
                                "  SASAddress(Attached):  00 00 00 00 00 00 00 00\n", "Phy[1] Port:   0x01\n",
                                "  SASAddress(Attached):  50 00 c5 00 00 a1 b2 01\n", "Phy[2] Port:   0x02\n", "  TargetProto: 0x00, 0x08\n",
                                "Phy[3] Port:   0x03\n", "  Type:        0x10, 0x00\n"}));
}

// Entries without a phy are left out of the log; the walk goes on over all 32 entries.
TEST_F(CsmiPorts, SkipsEmptyEntriesInTheMiddle) {
    Build({{"phys", {{{"attached", "sata"}}, {{"attached", "empty"}}, {{"attached", "stp"}}}}});
    ASSERT_TRUE(dev->get_phy_info(info));
    const std::string log = Log();
    EXPECT_TRUE(InOrder(log, {"CSMI_SAS_PHY_INFO: NumberOfPhys=2, max_number_of_phys=32\n", "Phy[0] Port:   0x00\n", "Phy[2] Port:   0x02\n"}));
    EXPECT_EQ(log.find("Phy[1]"), std::string::npos);
}

TEST_F(CsmiPorts, MoreThan32PhysIsRefusedAfterTheCopy) {
    Build({{"number_of_phys", 33}});
    EXPECT_FALSE(dev->get_phy_info(info));
    EXPECT_EQ(info.bNumberOfPhys, 33);
    EXPECT_EQ(info.Phy[0].Identify.bDeviceType, 0x10);
    EXPECT_NE(Log().find("Error! NumberOfPhys=33 > max_number_of_phys=32\n"), std::string::npos);
    EXPECT_EQ(Log().find("Phy[0]"), std::string::npos);
}

TEST_F(CsmiPorts, FailingRequests) {
    struct Case {
        const char* name;
        json fault;
        const char* line;
        bool driverInfoLogged;
    };
    const Case cases[] = {
        {"ReturnCode 3 on the phy request", {{"control_code", 20}, {"return_code", 3}},
         "csmi_ioctl::IOCTL_SCSI_MINIPORT(CC_CSMI_20) failed, ReturnCode=3\n", true},
        {"ReturnCode on the driver request", {{"control_code", 1}, {"return_code", 1}},
         "csmi_ioctl::IOCTL_SCSI_MINIPORT(CC_CSMI_1) failed, ReturnCode=1\n", false},
        {"the driver request fails", {{"control_code", 1}, {"win_error", 1117}}, "csmi_ioctl ERR=0x45D\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Build({{"faults", {c.fault}}});
        EXPECT_FALSE(dev->get_phy_info(info));
        EXPECT_NE(Log().find(c.line), std::string::npos);
        EXPECT_EQ(Log().find("  Name:        ") != std::string::npos, c.driverInfoLogged);
    }
}

TEST_F(CsmiPorts, AnUnknownControlCodeSendsNothing) {
    Build();
    uint8_t request[204]{};
    const uint64_t before = machine->storage().IoctlCount();
    EXPECT_EQ(dev->csmi_ioctl(2, request, sizeof request), 1);
    EXPECT_EQ(machine->storage().IoctlCount(), before);
}

// ATA commands reach the SATA drives on the controller's phys through the STP pass-through.
TEST_F(CsmiPorts, IdentifiesTheDrivesOnTheSataPhys) {
    struct Case {
        int phy;
        const char* model;  // null: no SATA drive there
    };
    for (const Case c : {Case{0, "KESTREL KS600 512GB"}, Case{1, "KESTREL KS600 1TB"}, Case{2, nullptr}}) {
        SCOPED_TRACE(c.phy);
        Build();
        ASSERT_TRUE(dev->get_phy_info(info));
        dev->SetCsmiPhy(info.Phy[c.phy].Identify.bPhyIdentifier);
        dev->SetCsmiPort(info.Phy[c.phy].bPortIdentifier);
        const uint8_t r = dev->IdentifyDevice();
        if (c.model == nullptr) {
            EXPECT_NE(r, ATACMD_OK);
            continue;
        }
        ASSERT_EQ(r, ATACMD_OK);
        IdentifyFields f;
        ASSERT_TRUE(ParseIdentifyData(dev->GetReadBuffer(), 512, f));
        EXPECT_EQ(f.model.substr(0, std::strlen(c.model)), c.model);
    }
}

}  // namespace
