// The identify operations of the main window over simulated drives: the DEF field rules, the PPID,
// the RST driver version comparison, and the slot lists of the NVMe routes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ScanFixture.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

std::string Id(const char* p, size_t n) { return std::string(p, n); }

struct DefCase {
    const char* name;
    std::function<void(json&)> edit;  // the default machine's SATA drive
    int32_t visualStyle;
    uint8_t result;
    std::string def;                  // all 8 bytes
    std::string logLine;              // must appear
    bool vendorCommandSent;
};

void PrintTo(const DefCase& c, std::ostream* os) { *os << c.name; }

class AtaIdentity : public ::testing::TestWithParam<DefCase> {};

TEST_P(AtaIdentity, DefFieldRules) {
    const DefCase& c = GetParam();
    json m = MachineFile("default.json");
    c.edit(m["disks"][0]["drive"]);
    ScanBench b(m, false);
    b.main->iVisualStyle = c.visualStyle;
    b.NewDevice();
    ASSERT_TRUE(b.main->pAtaDevice->SelectPort(0, nullptr, -1, SELECT_ATA));
    // Left from an earlier drive: must not survive a failed identify.
    std::memcpy(b.main->m_CurIdentity.szModel, "OLD DRIVE", 9);
    b.ClearLog();
    EXPECT_EQ(b.main->ReadAtaIdentity(), c.result);
    const DRIVE_IDENTITY& id = b.main->m_CurIdentity;
    const std::string log = b.Log();
    EXPECT_EQ(Id(id.szDefRev, 8), c.def);
    if (c.result == ATACMD_OK) {
        EXPECT_EQ(Id(id.szModel, 40), "KESTREL KS600 512GB" + std::string(21, ' '));
        EXPECT_EQ(Id(id.szFwRev, 8), "KS6R0100");
        EXPECT_EQ(Id(id.szSerial, 20), "KS6A26130000123     ");
    } else {
        EXPECT_EQ(Id(id.szModel, 40), std::string(40, '\0'));
    }
    EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    EXPECT_EQ(log.find("Cmd:FF") != std::string::npos, c.vendorCommandSent) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AtaIdentity,
    ::testing::Values(
        DefCase{"VendorDef", [](json&) {}, 0, ATACMD_OK, "S6R0100A", "] : DEFA(frmKestrel): S6R0100\r\n\r\n", true},
        // Style 20 sends no vendor command: the revision stands in.
        DefCase{"Style20", [](json&) {}, 20, ATACMD_OK, "KS6R0100", "] : Ignore VU to get DEF0(frmKestrel): KS6R010\r\n\r\n", false},
        DefCase{"VendorCommandRefused", [](json& d) { d["vendor_commands"] = false; }, 0, ATACMD_OK, "KS6R0100",
                "] : Cannot get DEF0(frmKestrel): KS6R010\r\n\r\n", true},
        DefCase{"BlankDef", [](json& d) { d["def"] = ""; }, 0, ATACMD_OK, "KS6R0100",
                "] : DEF[Idx] (frmKestrel) is Empty, copy FW \r\n\r\n[12/10/2026 9:30:00 AM] : DEF0(frmKestrel): KS6R010\r\n\r\n", true},
        DefCase{"ControlCharactersOnly", [](json& d) { d["def"] = "\t  \r    "; }, 0, ATACMD_OK, "KS6R0100",
                "] : DEF[Idx] (frmKestrel) is Empty, copy FW \r\n", true},
        DefCase{"IdentifyFails",
                [](json& d) { d["faults"] = json::array({{{"command", "ECh"}, {"status", "51h"}, {"error", 4}}}); }, 0, ATACMD_FAIL,
                std::string(8, '\0'), "Cmd:EC", false}),
    [](const ::testing::TestParamInfo<DefCase>& i) { return std::string(i.param.name); });

TEST(AtaPpid, ReadFailureLeavesThePpidEmpty) {
    json m = MachineFile("default.json");
    m["disks"][0]["drive"]["faults"] = json::array({{{"command", "2Fh"}, {"status", "51h"}, {"error", 4}}});
    ScanBench b(m);
    ASSERT_TRUE(b.main->pAtaDevice->SelectPort(0, nullptr, -1, SELECT_ATA));
    std::memcpy(b.main->m_CurIdentity.szPPID, "STALE", 5);
    b.ClearLog();
    EXPECT_NE(b.main->get_log_rook_ppid(), ATACMD_OK);
    EXPECT_EQ(Id(b.main->m_CurIdentity.szPPID, 32), std::string(32, '\0'));
    EXPECT_NE(b.Log().find("] : get_log_rook_ppid (ATA): unable to get PPID \r\n\r\n"), std::string::npos);
}

// The version comparison is textual, byte by byte, as the driver has always been judged.
TEST(IrstDriver, VersionComparedAsText) {
    const struct {
        const char* description;
        const char* version;
        int32_t result;
        const char* line;
    } cases[] = {
        {"Intel(R) Chipset SATA/PCIe RST Premium Controller", "15.9.8.1050", 1, "] : iRST Driver >= 14.8.0.0 \r\n\r\n"},
        {"Intel(R) Chipset SATA/PCIe RST Premium Controller", "14.8.0.0", 1, "] : iRST Driver >= 14.8.0.0 \r\n\r\n"},
        {"Intel(R) Chipset SATA/PCIe RST Premium Controller", "9.6.0.1014", 1, "] : iRST Driver >= 14.8.0.0 \r\n\r\n"},
        {"Intel(R) Chipset SATA/PCIe RST Premium Controller", "14.10.0.0", 0, "] : iRST Driver < 14.8.0.0 \r\n\r\n"},
        {"Intel Desktop/Workstation/Server Express Chipset SATA RAID Controller", "13.2.4.1000", 0,
         "] : iRST Driver : Intel Desktop/Workstation/Server Express Chipset SATA RAID Controller 13.2.4.1000\r\n\r\n"},
        // Neither description rule: treated as below, with what the walk read last.
        {"Intel(R) Desktop/Workstation/Server Express Chipset SATA RAID Controller", "13.2.4.1000", 0,
         "] : Unable to get iRST Driver version : Disk drive 10.0.19041.3636\r\n\r\n"},
    };
    for (const auto& c : cases) {
        json m = MachineFile("rst15-nvme.json");
        for (json& n : m["device_tree"]["nodes"])
            if (n.value("service", "") == "iaStorAC") {
                n["description"] = c.description;
                n["driver_version"] = c.version;
            }
        ScanBench b(m, false);
        EXPECT_EQ(b.main->CheckIrstDriver(), c.result) << c.version;
        EXPECT_NE(b.Log().find(c.line), std::string::npos) << c.version << "\n" << b.Log();
    }
}

// Slot lists of the RST route: items for the slots the drive has, revisions of all seven logged.
TEST(SlotLists, RstSlotLogOfTwoSlots) {
    json m = MachineFile("rst15-nvme.json");
    json& d = m["disks"][0]["drive"];
    d["slot_count"] = 2;
    d["slot_revisions"] = json::array({"KN9R0100", ""});
    d["active_slot"] = 1;
    d["revision"] = "KN9R0100";
    ScanBench b(m);
    ASSERT_TRUE(b.main->pAtaDevice->SelectPort(0, nullptr, 2, SELECT_NVME));
    b.ClearLog();
    ASSERT_TRUE(b.main->Identify_irst(1));
    EXPECT_EQ(b.main->cboFwSlot.Items(), (std::vector<std::string>{"Default", "1. KN9R0100", "2. NA"}));
    EXPECT_EQ(b.main->cboFwSlot.ItemIndex(), 0);
    EXPECT_EQ(b.main->cboCommitAction.Items(), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(b.main->cboCommitAction.ItemIndex(), 3);
    EXPECT_EQ(b.main->m_CurIdentity.bSlotCount, 2);
    const std::string log = b.Log();
    EXPECT_NE(log.find("] : Firmware Revision for Slot1 : KN9R0100 \r\n"), std::string::npos) << log;
    for (int s = 2; s <= 7; ++s)
        EXPECT_NE(log.find("] : Firmware Revision for Slot" + std::to_string(s) + " : NULL \r\n"), std::string::npos) << s;
    EXPECT_NE(log.find("] :                 Active Slot : 1\r\n"), std::string::npos) << log;
}

// A slot log that cannot be read, or that the drive completes with an error status, empties the
// lists: no slot of another drive stays on offer.
TEST(SlotLists, FailedRstSlotLogEmptiesTheLists) {
    const json drives[] = {{{"faults", json::array({{{"request", "admin"}, {"opcode", 2}, {"win_error", 1117}}})}},
                           {{"completion_status", {{"02h", 2}}}}};
    for (const json& drive : drives) {
        SCOPED_TRACE(drive.dump());
        json m = MachineFile("rst15-nvme.json");
        m["disks"][0]["drive"].merge_patch(drive);
        ScanBench b(m);
        b.main->cboFwSlot.AddItem("2. OTHER01");
        ASSERT_TRUE(b.main->pAtaDevice->SelectPort(0, nullptr, 2, SELECT_NVME));
        EXPECT_TRUE(b.main->Identify_irst(1));
        EXPECT_TRUE(b.main->cboFwSlot.Items().empty());
        EXPECT_TRUE(b.main->cboCommitAction.Items().empty());
    }
}

// An identify the drive completes with an error status read nothing: it fails, and no blank
// identity (zeros where the answer would be) replaces the one the window holds.
TEST(SlotLists, RstIdentifyWithAnErrorStatusFails) {
    json m = MachineFile("rst15-nvme.json");
    m["disks"][0]["drive"]["completion_status"] = {{"06h", 2}};
    ScanBench b(m);
    std::memcpy(b.main->m_CurIdentity.szModel, "EARLIER", 7);
    ASSERT_TRUE(b.main->pAtaDevice->SelectPort(0, nullptr, 2, SELECT_NVME));
    b.ClearLog();
    EXPECT_FALSE(b.main->Identify_irst(1));
    EXPECT_EQ(Id(b.main->m_CurIdentity.szModel, 7), "EARLIER");
    EXPECT_NE(b.Log().find("] : Identify_irst - the command completed with SCT 0h SC 02h: nothing was read\r\n"), std::string::npos)
        << b.Log();
}

struct InboxCase {
    const char* name;
    std::function<void(json&)> edit;  // the NVMe drive of nvme-inbox.json
    std::string revision;
    std::vector<std::string> slots;
};

void PrintTo(const InboxCase& c, std::ostream* os) { *os << c.name; }

class InboxSlots : public ::testing::TestWithParam<InboxCase> {};

TEST_P(InboxSlots, CurrentRevisionAndList) {
    const InboxCase& c = GetParam();
    json m = MachineFile("nvme-inbox.json");
    c.edit(m["disks"][1]["drive"]);
    ScanBench b(m);
    ASSERT_TRUE(b.main->pAtaDevice->SelectPort(1, m["disks"][1]["path"].get<std::string>().c_str(), -1, SELECT_NVME));
    ASSERT_TRUE(b.main->LoadNvmeSlotInfo());
    EXPECT_EQ(Id(b.main->m_CurIdentity.szFwRev, 8), c.revision);
    EXPECT_EQ(b.main->cboFwSlot.Items(), c.slots);
    EXPECT_EQ(b.main->cboCommitAction.ItemIndex(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InboxSlots,
    ::testing::Values(InboxCase{"ActiveSlot", [](json&) {}, "KN9R0200", {"Default", "1. KN9R0100", "2. KN9R0200", "3. NA"}},
                      // Active slot 3 beyond the stated count 2: the first slot record's revision.
                      InboxCase{"ActiveBeyondCount",
                                [](json& d) {
                                    d["active_slot"] = 3;
                                    d["slot_revisions"] = json::array({"KN9R0100", "KN9R0150", ""});
                                    d["reported_slot_count"] = 2;
                                },
                                "KN9R0100", {"Default", "1. KN9R0100", "2. KN9R0150"}},
                      InboxCase{"NoSlots", [](json& d) { d["reported_slot_count"] = 0; }, std::string(8, '\0'), {"1"}}),
    [](const ::testing::TestParamInfo<InboxCase>& i) { return std::string(i.param.name); });

}  // namespace
