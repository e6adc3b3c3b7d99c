// Target selection over the simulated window: which drive the device object opens for each route,
// what the update line shows, and the version file of a version-only run.
#include <gtest/gtest.h>

#include <cstring>

#include "app/KestrelMain.h"
#include "app/Texts.h"
#include "support/ResultRecords.h"
#include "support/SimFixture.h"

using namespace kestrel;
using nlohmann::json;

namespace {

// Passes every call on and remembers the paths opened.
class RecordingStorage : public IStorage {
public:
    explicit RecordingStorage(IStorage& inner) : inner_(inner) {}
    DevHandle CreateFileA(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition, uint32_t flags) override {
        opened.push_back(path);
        return inner_.CreateFileA(path, access, shareMode, disposition, flags);
    }
    bool DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t& bytesReturned) override {
        return inner_.DeviceIoControl(h, code, in, inSize, out, outSize, bytesReturned);
    }
    bool CloseHandle(DevHandle h) override { return inner_.CloseHandle(h); }
    uint32_t GetLastError() override { return inner_.GetLastError(); }
    std::vector<std::string> opened;

private:
    IStorage& inner_;
};

void Put(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

constexpr const char* kDisk0 = "\\\\?\\scsi#disk&ven_kestrel&prod_a#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const char* kDisk1 = "\\\\?\\scsi#disk&ven_kestrel&prod_b#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

struct Selection : ::testing::Test {
    std::unique_ptr<sim::SimMachine> m = test::MakeMachine();
    std::unique_ptr<RecordingStorage> storage;
    std::vector<uint8_t> block;
    std::vector<REG_DATA> records;
    std::unique_ptr<TKestrelMain> w;

    void SetUp() override {
        w.reset();
        block = test::TemplateBlock(0x391A);
        // The targets of images 0 and 1.
        test::PutText(block, pkg::kNewFw + pkg::kRevValueOffset, std::string("KS2.00A\0", 8));
        test::PutText(block, pkg::kNewFw + pkg::kRevEntrySize + pkg::kRevValueOffset, std::string("KS3.00B\0", 8));
        storage = std::make_unique<RecordingStorage>(*m->platform().storage);
        Platform p = m->platform();
        p.storage = storage.get();
        records.assign(2, REG_DATA{});
        std::strcpy(records[0].DevicePath, kDisk0);
        std::strcpy(records[1].DevicePath, kDisk1);
        w = std::make_unique<TKestrelMain>(p, PackageView(block), std::vector<std::string>{});
        w->pAtaDevice = std::make_unique<TAtaDevice>(p, records.data(), 2);
        w->iImageCount = 2;
        w->bLogEnabled = true;
        w->sLogFile = m->files().GetTempPath() + "KestrelLog.txt";
        ClearLog();
    }
    void TearDown() override { w.reset(); }

    // Lists the drives as the drive list does (every drive, in order) and selects position `pos`.
    void List(std::vector<DEV_INFO> drives, int pos) {
        w->cboDrives.Clear();
        for (size_t i = 0; i < drives.size(); ++i) {
            w->m_DevInfo[i] = drives[i];
            w->iItemDrive[i] = static_cast<int32_t>(i);
            w->cboDrives.AddItem("drive");
        }
        w->gCount = static_cast<int32_t>(drives.size());
        w->cboDrives.SetItemIndex(pos);
    }
    std::string Log() { return m->files().ReadWholeFile(w->sLogFile).value_or(""); }
    void ClearLog() { m->files().DeleteFile(w->sLogFile); }
    const UiControlState& C(const std::string& name) { return *m->ui().Control(name); }
};

DEV_INFO Drive(bool eligible, const std::string& fw = "KS1.00A", uint16_t image = 0) {
    DEV_INFO d;
    std::memset(&d, 0, sizeof d);
    d.bExisted = 1;
    d.bEnabled = eligible ? 1 : 0;
    d.iImageIndex = image;
    Put(d.szModel, 40, "KESTREL SATA SSD 512GB");
    Put(d.szCheckModel, 40, "KESTREL SATA SSD 512GB");
    Put(d.szFwRev, 8, fw);
    Put(d.szSerial, 20, "KS00000001");
    Put(d.szInstanceId, 260, "SCSI\\DISK&VEN_KESTREL&PROD_A\\4&1&0&000000");
    return d;
}

}  // namespace

// Which drive the device object opens, by route.
TEST_F(Selection, EveryRouteOpensItsDrive) {
    struct Case {
        const char* name;
        int32_t scanType;
        bool deploy;
        std::string devPath;
        uint8_t nvme, irst;
        std::string opened;
        int32_t protocol;
        const char* logLine;
    };
    const Case cases[] = {
        {"CSMI", 1, false, "", 0, 0, "\\\\.\\SCSI3:", PRO_CSMI, "cboDrivesChange: 2"},
        {"CSMI, deployment", 1, true, "", 0, 0, "\\\\.\\SCSI4:", PRO_CSMI, "cboDrivesChange: 1, idx=1"},
        {"NVMe behind RST", 0, false, "", 1, 1, "\\\\.\\Scsi2:", PRO_NVME, "cboDrivesChange: 3-1 NVME IRST"},
        {"NVMe, inbox", 0, false, "", 1, 0, "\\\\.\\PhysicalDrive5", PRO_NVME, "cboDrivesChange: 3-2 NVME INBOX"},
        {"ATA", 0, false, "", 0, 0, kDisk1, -1, "cboDrivesChange: 3-5"},
        {"ATA, device path", 0, false, "\\\\.\\PhysicalDrive7", 0, 0, "\\\\.\\PhysicalDrive7", -1, "cboDrivesChange: 3-5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        w->gScanType = c.scanType;
        w->bDeployMode = c.deploy;
        w->DEV_PATH = c.devPath;
        w->SCSI_PORT = 4;
        w->INDEX = 1;
        w->PORT = 6;
        w->SAS_ADDR = 0x5000C50000A1B299ull;
        DEV_INFO d = Drive(false);
        d.order = c.scanType == 1 ? 3 : 1;
        d.HA = 2;
        d.bIsNvme = c.nvme;
        d.bIsNvmeIrstDriver = c.irst;
        d.ScsiIndex = 2;
        d.CsmiPort = 5;
        d.SasAddress = 0x5000C50000A1B201ull;
        Put(d.DevicePath, sizeof d.DevicePath, "\\\\.\\PhysicalDrive5");
        List({Drive(false), d}, 1);
        storage->opened.clear();
        w->cboDrivesChange();

        ASSERT_FALSE(storage->opened.empty());
        EXPECT_EQ(storage->opened.front(), c.opened);
        if (c.protocol >= 0) {
            EXPECT_EQ(w->pAtaDevice->GetProtocol(), c.protocol);
        }
        EXPECT_NE(Log().find(c.logLine), std::string::npos) << Log();
        if (c.nvme || (c.scanType == 0 && c.devPath.empty())) {
            EXPECT_EQ(w->pAtaDevice->iCurIndex, 1);
        }
        if (c.nvme) {
            EXPECT_NE(Log().find("cboDrivesChange: 3-3\r\n"), std::string::npos);
            EXPECT_NE(Log().find("cboDrivesChange: 3-4, m_DevInfo[idx].order=1\r\n"), std::string::npos);
        }
        if (c.scanType == 1) {
            // Outside deployment runs the drive's own phy, port and address, which the run context
            // then remembers; a deployment run keeps what its command line said.
            EXPECT_EQ(w->pAtaDevice->GetCsmiPhy(), c.deploy ? 1 : 2);
            EXPECT_EQ(w->pAtaDevice->GetCsmiPort(), c.deploy ? 6 : 5);
            EXPECT_EQ(w->pAtaDevice->GetCsmiSasAddress(), c.deploy ? 0x5000C50000A1B299ull : 0x5000C50000A1B201ull);
            EXPECT_EQ(w->SCSI_PORT, c.deploy ? 4 : 3);
            EXPECT_EQ(w->SAS_ADDR, c.deploy ? 0x5000C50000A1B299ull : 0x5000C50000A1B201ull);
            EXPECT_EQ(Log().find("cboDrivesChange: 2") != std::string::npos, !c.deploy);
        }
        EXPECT_EQ(w->sCurSerial, "KS00000001");
        EXPECT_EQ(w->sCurInstanceId, "SCSI\\DISK&VEN_KESTREL&PROD_A\\4&1&0&000000");
    }
}

// For a CSMI drive outside deployment runs the run context follows every selection.
TEST_F(Selection, CsmiSelectionMovesTheRunContextsPortAndAddress) {
    w->gScanType = 1;
    DEV_INFO a = Drive(true), b = Drive(true);
    a.order = 3;
    a.SasAddress = 0x1111;
    b.order = 5;
    b.SasAddress = 0x2222;
    for (int pos : {0, 1, 0}) {
        List({a, b}, pos);
        w->cboDrivesChange();
        EXPECT_EQ(w->SCSI_PORT, pos == 0 ? 3 : 5);
        EXPECT_EQ(w->SAS_ADDR, pos == 0 ? 0x1111u : 0x2222u);
    }
}

// The update line, the button and the kept identity, for eligible and other drives in both languages.
TEST_F(Selection, UpdateLineFollowsEligibility) {
    struct Case {
        bool eligible;
        int language;
    };
    for (const Case c : {Case{true, 0}, Case{false, 0}, Case{true, 1}, Case{false, 1}}) {
        SCOPED_TRACE(testing::Message() << "eligible " << c.eligible << " language " << c.language);
        SetUp();
        w->iLanguage = c.language;
        // The other kind first: the selection must undo what the previous one showed.
        List({Drive(!c.eligible, "KS0.99Z", 1), Drive(c.eligible, "KS1.00A", 1)}, 0);
        w->cboDrivesChange();
        // An update of that drive put the progress line in the update line's place.
        w->ShowProgressLine();
        ClearLog();
        w->cboDrives.SetItemIndex(1);
        w->cboDrivesChange();

        const std::string log = Log();
        EXPECT_EQ(C("cmdUpdate").enabled, c.eligible);
        for (const char* name : {"lblOldFW", "lblTo", "lblNewFW"}) EXPECT_EQ(C(name).visible, c.eligible) << name;
        EXPECT_TRUE(C("lblUpdateMsg").visible);
        if (c.eligible) {
            EXPECT_EQ(C("lblUpdateMsg").text, LocalText("It will be updated from", c.language == 1));
            EXPECT_EQ(C("lblUpdateMsg").color, clBlack);
            EXPECT_EQ(C("lblTo").color, clBlack);
            EXPECT_EQ(C("lblOldFW").text, "KS1.00A");
            EXPECT_EQ(C("lblNewFW").text, "KS3.00B");
            EXPECT_EQ(w->iCurImage, 1);
            EXPECT_NE(log.find("ChkO2N1: [KS1.00A]"), std::string::npos) << log;
            EXPECT_NE(log.find("cboDrivesChange: 7"), std::string::npos);
            // The labels are laid out after the message, one after the other.
            EXPECT_EQ(C("lblOldFW").left, C("lblUpdateMsg").left + C("lblUpdateMsg").width + 10);
            EXPECT_EQ(C("lblTo").left, C("lblOldFW").left + C("lblOldFW").width + 10);
        } else {
            EXPECT_EQ(C("lblUpdateMsg").text, LocalText("This drive is not allowed to be updated.", c.language == 1));
            EXPECT_EQ(C("lblUpdateMsg").color, 0x000080u);
            EXPECT_EQ(w->iCurImage, 0);
            EXPECT_NE(log.find("ENABLED: 0, KESTREL SATA SSD 512GB KS1.00A\r\n"), std::string::npos) << log;
            EXPECT_EQ(log.find("cboDrivesChange: 7"), std::string::npos);
        }
    }
}

// Fields filled to their full width have no terminator: the kept texts stop at the width.
TEST_F(Selection, KeptSerialAndInstanceIdStopAtTheirWidth) {
    DEV_INFO d = Drive(true);
    std::memset(d.szSerial, 'S', sizeof d.szSerial);
    std::memset(d.szInstanceId, 'I', sizeof d.szInstanceId);
    std::memset(d.szFwRev, 'F', sizeof d.szFwRev);
    std::memset(d.szPPID, 'P', sizeof d.szPPID);  // the neighbour of the serial
    d.order = 0x30303030;                         // and of the instance ID: "0000" if read on
    List({d}, 0);
    w->cboDrivesChange();
    EXPECT_EQ(w->sCurSerial, std::string(20, 'S'));
    EXPECT_EQ(w->sCurInstanceId, std::string(260, 'I'));
    EXPECT_EQ(C("lblOldFW").text, std::string(8, 'F'));
}

// A deployment run lays the update line out as a normal run would and fills the progress panel.
TEST_F(Selection, DeploymentRunFillsTheProgressPanel) {
    w->bDeployMode = true;
    List({Drive(true, "KS1.00A", 0)}, 0);
    w->cboDrivesChange();
    EXPECT_TRUE(w->bDeployMode);
    EXPECT_EQ(C("Label5").text, "KESTREL SATA SSD 512GB");
    EXPECT_EQ(C("Label6").text, "KS1.00A");
    EXPECT_EQ(C("Label7").text, "KS2.00A");
    EXPECT_NE(Log().find("FormShow: 2"), std::string::npos);
    EXPECT_EQ(Log().find("cboDrivesChange: 7"), std::string::npos);
    EXPECT_EQ(C("lblOldFW").left, C("lblUpdateMsg").left + C("lblUpdateMsg").width + 10);
}

// "/VER": the version file gets the drive's revision (up to 8 characters, never cut shorter for a
// drive that may not be updated) and its target, or "N/A"; no label layout runs.
TEST_F(Selection, VersionOnlyRunWritesTheVersionFile) {
    struct Case {
        bool eligible;
        const char* fw;
        const char* current;
        const char* target;
    };
    for (const Case c : {Case{true, "KS1.00AB", "KS1.00AB", "KS2.00A"}, Case{false, "KS1.00AB", "KS1.00AB", "N/A"},
                         Case{false, "KS1 ", "KS1", "N/A"}}) {
        SCOPED_TRACE(c.fw);
        SetUp();
        w->bVersionOnly = true;
        List({Drive(c.eligible, c.fw, 0)}, 0);
        w->cboDrivesChange();
        const auto ini = m->files().ReadWholeFile(VersionIniPath(m->files()));
        ASSERT_TRUE(ini);
        EXPECT_EQ(*ini, "EXE_VERSION = 1.0.0.1\r\nCURRENT_FW = " + std::string(c.current) + "\r\nTARGET_FW = " + c.target + "\r\n");
        const std::string log = Log();
        EXPECT_NE(log.find("SaveVersion INI: [CURR_FW=" + std::string(c.current) + "][TARGET_FW=" + c.target + "] "),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("cboDrivesChange: 7"), std::string::npos);
        EXPECT_EQ(log.find("FormShow"), std::string::npos);
    }
}

// An empty list selects nothing: no drive is made current and the button stays off.
TEST_F(Selection, EmptyListSelectsNoDrive) {
    List({}, 0);
    ASSERT_EQ(w->cboDrives.ItemIndex(), -1);
    w->iItemDrive.fill(9);  // whatever the table held before
    storage->opened.clear();
    w->cboDrivesChange();
    EXPECT_TRUE(storage->opened.empty());
    EXPECT_FALSE(C("cmdUpdate").enabled);
    EXPECT_EQ(w->iCurImage, 0);
    EXPECT_NE(Log().find("cboDrivesChange: no drive selected (item -1)"), std::string::npos);
}
