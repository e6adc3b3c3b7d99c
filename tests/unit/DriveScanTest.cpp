// The drive scan over the machine files of sim/machines/: one row per route and case, each checking
// the drive table, the count and the log lines that matter.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/ScanFixture.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

const char* const kSata0 =
    "ata order=0 scsi=0-0-0-0 bus=11 flags=0000 sys=1 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | S6R0100A | "
    "CN0KS6A2613000012300A01 | KESTREL KS600 512GB";

struct ScanCase {
    const char* machine;
    int32_t result;
    std::vector<std::string> elements;  // Describe() of elements 0 .. result-1
    std::vector<std::string> logLines;  // each must appear in the log
    double waitedSeconds;               // virtual time the scan spent
    uint8_t sataIrst;
    int32_t errorLevel;
    int32_t kind = 0;
    nlohmann::json patch = nullptr;                 // merged into the machine file
    std::function<void(TKestrelMain&)> setup = {};  // run-context values of the case
    int identifyCommands = -1;                      // IDENTIFY DEVICE requests sent (-1: not counted)
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.machine; }

const nlohmann::json kRstDriver14_5 = {
    {"windows",
     {{"registry",
       {{"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}\\0001",
         {{"DriverVersion", "14.5.0.1081"}}}}}}}};

std::function<void(TKestrelMain&)> Preset(int32_t port, int32_t index, int32_t phyPort, uint64_t sas) {
    return [=](TKestrelMain& m) {
        m.bDeployMode = true;
        m.SCSI_PORT = port;
        m.INDEX = index;
        m.PORT = phyPort;
        m.SAS_ADDR = sas;
    };
}

class DriveScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(DriveScan, FillsTheTableFromTheMachine) {
    const ScanCase& c = GetParam();
    nlohmann::json machine = MachineFile(c.machine);
    if (!c.patch.is_null()) machine.merge_patch(c.patch);
    ScanBench b(machine);
    if (c.setup) c.setup(*b.main);
    b.main->iErrorLevel = 11;
    b.ClearLog();
    const int64_t before = b.machine->clock().NowNs();
    const int32_t r = b.main->ScanSSDDrive(c.kind);
    const double waited = static_cast<double>(b.machine->clock().NowNs() - before) / 1e9;
    const std::string log = b.Log();

    EXPECT_EQ(r, c.result) << log;
    const size_t filled = c.elements.size();
    for (size_t i = 0; i < filled; ++i) EXPECT_EQ(Describe(b.main->m_DevInfo[i]), c.elements[i]) << "element " << i;
    for (size_t i = filled; i < kMaxDrives; ++i) EXPECT_TRUE(AllZero(b.main->m_DevInfo[i])) << "element " << i << " is not cleared";
    for (const std::string& line : c.logLines) EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\n" << log;
    EXPECT_NEAR(waited, c.waitedSeconds, 0.2);
    if (c.identifyCommands >= 0) {
        int n = 0;
        for (size_t at = log.find("Cmd:EC "); at != std::string::npos; at = log.find("Cmd:EC ", at + 1)) ++n;
        EXPECT_EQ(n, c.identifyCommands);
    }
    EXPECT_EQ(b.main->bIsSataIrst, c.sataIrst);
    EXPECT_EQ(b.main->iErrorLevel, c.errorLevel);
}

std::vector<std::string> Seventeen() {
    std::vector<std::string> v;
    for (int k = 0; k < 16; ++k) {
        const int port = k < 8 ? 0 : 1, target = k < 8 ? k : k - 8;
        const std::string n = "000" + std::to_string(1000 + k);
        v.push_back("ata order=" + std::to_string(k) + " scsi=" + std::to_string(port) + "-0-" + std::to_string(target) +
                    "-0 bus=11 flags=0000 sys=" + (k == 0 ? "1" : "0") + " existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A2613" +
                    n + " | S6R0100A | CN0KS6A26130" + n +
                    "A01 | KESTREL KS600 512GB");
    }
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, DriveScan,
    ::testing::Values(
        // The SATA disk on AHCI is added; the NVMe disk without a drive answers no slot query.
        ScanCase{"default.json", 1, {kSata0},
                 {"] : \r\n\r\n============== (ATA/NVMe) SCANNING COUNT(2) 12/10/2026 9:30:00 AM ==============\r\n\r\n",
                  "] : SCAN: 0\r\n\r\n", "] : ScsiAddress(PortNo-Path-Target-Lun) : 1-0-0-0\r\n\r\n",
                  "] : Parent InstanceId: PCI\\VEN_8086&DEV_A352&SUBSYS_86941043&REV_10\\3&11583659&0&B8 / Service: storahci \r\n "
                  "bIsNvme=0, bIsNVMe_InBoxDriver=0, bIsNVMe_IrstDriver=0,bIsNVMe_IrstDriverBelow_14_8=0, BusNo=0 (BusNumber_API: "
                  "Bus Number 0, Target Id 0, LUN 0), bIsSataIrst=0\r\n\r\n",
                  "] : IDENTIFY(frmKestrel): KESTREL KS600 512GB                      KS6R0100, KS6A26130000123     \r\n\r\n",
                  "] : PPID: [CN0KS6A2613000012300A01         ]\r\n\r\n",
                  "] : [0-A] KESTREL KS600 512GB                      KS6R0100 | S6R0100\r\n\r\n",
                  "] : [1][SCSI:1] KESTREL KN900 1TB KN9R0200 \r\n\r\n", "] : SelectPort OK >>>1. bIsNvmeInboxDriver=1, bIsNvmeIrstDriver=0 \r\n\r\n",
                  "] : ATA_DEV_CNT: 1 / 2 \r\n\r\n", "] : ============== END SCANNING 12/10/2026 9:30:01 AM ==============\r\n\r\n\r\n"},
                 1.5, 0, 11},
        // Three failed identify requests, three 500 ms waits, added on the fourth.
        ScanCase{"identify-fourth-try.json", 1, {kSata0}, {"] : [0-A] KESTREL KS600 512GB"}, 3.0, 0, 11, 0, nullptr, {}, 4},
        // Neither the system volume nor its disk answers the device number: no drive is the system drive.
        ScanCase{"system-volume-unqueried.json", 1,
                 {"ata order=0 scsi=0-0-0-0 bus=11 flags=0000 sys=0 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {}, 1.5, 0, 11},
        // A SATA disk below iaStorV sets the run-wide flag and takes the ATA route.
        ScanCase{"rst-sata.json", 1,
                 {"ata order=0 scsi=0-0-0-0 bus=8 flags=0000 sys=1 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {"Service: iaStorV \r\n bIsNvme=0", "bIsSataIrst=1\r\n"}, 1.5, 1, 11},
        // An NVMe disk on a vendor driver is classified NVMe and never added; the SATA disk after it
        // takes element 0 with nothing of the NVMe disk left in it.
        ScanCase{"nvme-third-party.json", 1,
                 {"ata order=1 scsi=1-0-0-0 bus=11 flags=0000 sys=1 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {"Service: acmenvme \r\n bIsNvme=1, bIsNVMe_InBoxDriver=0, bIsNVMe_IrstDriver=0,bIsNVMe_IrstDriverBelow_14_8=0",
                  "INBOX : before SelectPort ScanSSDDrive_i: 0 cnt:0", "ATA_DEV_CNT: 1 / 2 \r\n"},
                 0.0, 0, 11},
        // 17 disks: the table holds 16, and the log says drives were left out.
        ScanCase{"disks-17.json", 16, Seventeen(),
                 {"] : SCAN: 17 disks counted, the drive table holds 16: drives left out\r\n\r\n", "ATA_DEV_CNT: 16 / 16 \r\n"}, 0.0, 0, 11},
        // An NVMe drive on the inbox driver: friendly name, descriptor serial, the active slot's revision.
        ScanCase{"nvme-inbox.json", 2,
                 {kSata0, "nvme-inbox order=1 scsi=1-0-0-0 bus=17 flags=1100 sys=0 existed=1 | KESTREL KN900 1TB | KN9R0200 | "
                          "1F2A_5012_0000_0457. | KN9R0200 | CN0KN9A2613000045700A01 | KESTREL KN900 1TB"},
                 {"] : get_log_rook_ppid_nvme (MS inbox driver): CN0KN9A2613000045700A01          \r\n\r\n",
                  "] : INBOX : before SelectPort ScanSSDDrive_i: 1 cnt:1 iErrorLevel:11  \r\n\r\n",
                  "] : Current firmware : KN9R0200\r\n", "] : cboFwSlot[0]: Default\r\n", "] : cboFwSlot[1]: 1. KN9R0100\r\n",
                  "] : cboFwSlot[2]: 2. KN9R0200\r\n", "] : cboFwSlot[3]: 3. NA\r\n", "] : PPID: [CN0KN9A2613000045700A01         ]\r\n",
                  "] : Refresh  : [1] KESTREL KN900 1TB KN9R0200 \r\n\r\n", "] : Refresh : [1] KESTREL KN900 1TB KN9R0200 \r\n\r\n",
                  "] : ATA_DEV_CNT: 2 / 2 \r\n\r\n"},
                 0.0, 0, 11},
        // Intel RST 15.9: the pass-through identify, the PPID from Identify Controller, the slot log.
        ScanCase{"rst15-nvme.json", 1,
                 {"nvme-rst order=0 scsi=2-1-0-0 bus=8 flags=1011 sys=1 existed=1 | KESTREL KN900 1TB | KN9R0200 | KN9A26130000457 | "
                  "KN9R0200 | CN0KN9A2613000045700A01 | KESTREL KN900 1TB"},
                 {"] : iRST Driver : Intel(R) Chipset SATA/PCIe RST Premium Controller 15.9.8.1050\r\n\r\n", "] : iRST Driver >= 14.8.0.0 \r\n\r\n",
                  "] : IRST : before SelectPort ScanSSDDrive_i: 0  iErrorLevel:11 cnt:0\r\n\r\n",
                  "] :              Firmware Slot Count : 3\r\n", "] : Firmware Revision for Slot1 : KN9R0100 \r\n",
                  "] : Firmware Revision for Slot3 : NULL \r\n", "] : Firmware Revision for Slot7 : NULL \r\n",
                  "] : IRST OK  : [0] KESTREL KN900 1TB                        KN9R0200 \r\n\r\n",
                  "] : SelectPort OK >>> 0. bIsNvmeInboxDriver=0, bIsNvmeIrstDriver=1, bIsNvmeIrstDriver_below_14_8=1 \r\n\r\n",
                  "] : ATA_DEV_CNT: 1 / 1 \r\n\r\n"},
                 0.0, 0, 11},
        // Intel RST 13.2 knows no pass-through: four refused identify requests, then the inbox
        // driver's slot query on the controller port.
        ScanCase{"rst13-nvme.json", 1,
                 {"nvme-rst-old order=0 scsi=2-1-0-0 bus=8 flags=1101 sys=1 existed=1 | KESTREL KN900 1TB | KN9R0200 | "
                  "1F2A_5012_0000_0457. | KN9R0200 |  | KESTREL KN900 1TB"},
                 {"] : Unable to get iRST Driver version : Disk drive 10.0.19041.3636\r\n\r\n", "bIsNVMe_InBoxDriver=1, bIsNVMe_IrstDriver=0,bIsNVMe_IrstDriverBelow_14_8=1",
                  "] : Refresh  : [0] KESTREL KN900 1TB KN9R0200 \r\n\r\n", "] : ATA_DEV_CNT: 1 / 1 \r\n\r\n"},
                 2.0, 0, 11},
        // Intel RST older than 14.8 whose pass-through identify answers: added once, by the RST fill.
        ScanCase{"rst15-nvme.json", 1,
                 {"nvme-rst-old order=0 scsi=2-1-0-0 bus=8 flags=1101 sys=1 existed=1 | KESTREL KN900 1TB | KN9R0200 | KN9A26130000457 | "
                  "KN9R0200 | CN0KN9A2613000045700A01 | KESTREL KN900 1TB"},
                 {"] : iRST Driver : Intel(R) Chipset SATA/PCIe RST Premium Controller 14.5.0.1081\r\n\r\n", "] : iRST Driver < 14.8.0.0 \r\n\r\n",
                  "] : IRST OK  : [0] KESTREL KN900 1TB", "] : ATA_DEV_CNT: 1 / 1 \r\n\r\n"},
                 0.0, 0, 11, 0, kRstDriver14_5},
        // Every CSMI controller: a SATA and an STP phy are added, the SSP phy and the empty one are not.
        ScanCase{"csmi-raid.json", 2,
                 {"ata order=3 scsi=3-0-0-0 bus=0 flags=0000 sys=0 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000201 | S6R0100A |  | "
                  "KESTREL KS600 512GB",
                  "ata order=3 scsi=3-1-1-0 bus=0 flags=0000 sys=0 existed=1 | KESTREL KS600 1TB | KS6R0100 | KS6A26130000202 | S6R0100A |  | "
                  "KESTREL KS600 1TB csmi=1/1/1b2a10000c50050"},
                 {"] : ============== (CSMI) SCANNING 12/10/2026 9:30:00 AM =============\r\n\r\n",
                  "] : ----------------\r\nScanning csmi3,0 \r\n----------------\r\n", "] : max_number_of_phys=32, phy_info.bNumberOfPhys=4\r\n\r\n",
                  "] : csmi3,1 : phy_no: 1, csmi_port: 1, scsi_index: 1, SAS_ADDR: 122337161277407312\r\n\r\n",
                  "] : I :[SCSI3|01B2A10000C50050] KESTREL KS600 1TB                        KS6R0100\r\n\r\n",
                  "] : csmi3,2 : no sata device on port\r\n", "] : csmi3,3 : no device (attach)\r\n", "] : CSMI_DEV_CNT: 2\r\n\r\n"},
                 0.0, 0, 11, 1},
        // The preset CSMI address of a deployment run.
        ScanCase{"csmi-raid.json", 1,
                 {"ata order=0 scsi=3-0-0-0 bus=0 flags=0000 sys=0 existed=1 | KESTREL KS600 1TB | KS6R0100 | KS6A26130000202 | S6R0100A |  | "
                  "KESTREL KS600 1TB"},
                 {"] : SCSI_PORT:3, INDEX:1, PORT:1, SAS_ADDR: 01B2A10000C50050\r\n\r\n",
                  "] : IDENTIFY: KESTREL KS600 1TB                        KS6R0100\r\n\r\n"},
                 0.0, 0, 11, 1, nullptr, Preset(3, 1, 1, 0x01B2A10000C50050ull)},
        // Three failures at the preset address, then the alternate one from the SAS address's bits.
        ScanCase{"csmi-raid.json", 1,
                 {"ata order=0 scsi=3-0-0-0 bus=0 flags=0000 sys=0 existed=1 | KESTREL KS600 1TB | KS6R0100 | KS6A26130000202 | S6R0100A |  | "
                  "KESTREL KS600 1TB"},
                 {"] : SCSI_PORT:3, INDEX:5, PORT:0, SAS_ADDR: 0000000001010000\r\n\r\n",
                  "] : SCSI_PORT:3, INDEX:1, PORT:1, SAS_ADDR: 0000000000000000\r\n\r\n"},
                 0.0, 0, 11, 1, nullptr, Preset(3, 5, 0, 0x0000000001010000ull), 4},
        // Seven failed attempts: nothing, and no half-filled element 0.
        ScanCase{"csmi-raid.json", 0, {}, {"] : SCSI_PORT:3, INDEX:5, PORT:5, SAS_ADDR: 0000000000000000\r\n\r\n"}, 0.0, 0, 11, 1, nullptr,
                 Preset(3, 5, 0, 0x0000000005050000ull), 7},
        // A device path from the command line opens one disk: it is listed once, with that disk's
        // record and system-drive flag, not once for every disk of the list.
        ScanCase{"disks-17.json", 1,
                 {"ata order=3 scsi=0-0-3-0 bus=11 flags=0000 sys=0 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130001003 | S6R0100A | "
                  "CN0KS6A261300001003A01 | KESTREL KS600 512GB"},
                 {"] : ATA : SCAN 0 is not the disk of DEV_PATH \\\\.\\PhysicalDrive3, skipped\r\n\r\n", "] : ATA_DEV_CNT: 1 / 16 \r\n\r\n"},
                 0.0, 0, 11, 0, nullptr, [](TKestrelMain& m) { m.DEV_PATH = "\\\\.\\PhysicalDrive3"; }, 1},
        ScanCase{"default.json", 1, {kSata0}, {}, 1.5, 0, 11, 0, nullptr, [](TKestrelMain& m) { m.DEV_PATH = "\\\\.\\PhysicalDrive0"; }},
        // No CSMI controller on the default machine.
        ScanCase{"default.json", 0, {}, {"] : CSMI_DEV_CNT: 0\r\n\r\n"}, 0.0, 0, 11, 1},
        // A driver that faults inside the call ends the scan: iErrorLevel 3, result -1, the element
        // filled before it stays, no closing lines.
        ScanCase{"pass-through-fault.json", -1, {kSata0}, {"] : Exception !ScanSSDDrive_i: 2   \r\n\r\n"}, 1.5, 0, 3}),
    [](const ::testing::TestParamInfo<ScanCase>& i) {
        std::string n = i.param.machine;
        n = n.substr(0, n.find('.')) + "_" + std::to_string(i.index);
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

}  // namespace

namespace {

// The scratch identity of an earlier drive never reaches a later drive's element: the RST 13.2
// fallback reads no PPID of its own.
TEST(DriveScanState, NoIdentityOfAnEarlierDriveLeaks) {
    ScanBench b(std::string("rst13-nvme.json"));
    std::memcpy(b.main->m_CurIdentity.szPPID, "CN0OTHERDRIVE", 13);
    std::memcpy(b.main->m_CurIdentity.szFwRev, "OTHER001", 8);
    ASSERT_EQ(b.main->ScanSSDDrive(0), 1);
    EXPECT_EQ(KESTREL_FIELD(b.main->m_DevInfo[0], szPPID), "");
    EXPECT_EQ(KESTREL_FIELD(b.main->m_DevInfo[0], szFwRev), "KN9R0200");
}

// A second scan starts from a cleared table; the RST SATA flag keeps its value.
TEST(DriveScanState, SecondScanStartsFromAClearedTable) {
    ScanBench b(std::string("rst-sata.json"));
    ASSERT_EQ(b.main->ScanSSDDrive(0), 1);
    EXPECT_EQ(b.main->bIsSataIrst, 1);
    for (DEV_INFO& e : b.main->m_DevInfo) std::memset(&e, 0x5A, sizeof e);
    b.main->pAtaDevice = std::make_unique<TAtaDevice>(b.machine->platform(), nullptr, 0);
    EXPECT_EQ(b.main->ScanSSDDrive(0), 0);
    for (const DEV_INFO& e : b.main->m_DevInfo) EXPECT_TRUE(AllZero(e));
    EXPECT_EQ(b.main->bIsSataIrst, 1);
}

// The deployment address a scan leaves in the run context: the alternate one only when it found the
// drive there; after a scan that found nothing, the command line's own, so the next pass (after the
// drive's restart) starts from it again.
TEST(DriveScanState, PresetCsmiAddressAfterTheScan) {
    const struct {
        int32_t index, port;
        uint64_t sas;
        int32_t found, indexAfter, portAfter;
        uint64_t sasAfter;
    } cases[] = {
        {1, 1, 0x01B2A10000C50050ull, 1, 1, 1, 0x01B2A10000C50050ull},  // found at the given address
        {5, 0, 0x0000000001010000ull, 1, 1, 1, 0},                      // found at the alternate address
        {5, 0, 0x0000000005050000ull, 0, 5, 0, 0x0000000005050000ull},  // found nowhere: the given one back
    };
    for (const auto& c : cases) {
        ScanBench b(std::string("csmi-raid.json"));
        Preset(3, c.index, c.port, c.sas)(*b.main);
        EXPECT_EQ(b.main->ScanSSDDrive(1), c.found) << std::hex << c.sas;
        EXPECT_EQ(b.main->INDEX, c.indexAfter) << std::hex << c.sas;
        EXPECT_EQ(b.main->PORT, c.portAfter) << std::hex << c.sas;
        EXPECT_EQ(b.main->SAS_ADDR, c.sasAfter) << std::hex << c.sas;
        EXPECT_EQ(b.main->SCSI_PORT, 3);
    }
}

// The start-up's scan step: kind 0, and kind 1 when the disk list holds no drive and no device
// path was given.
TEST(DriveScanState, StartUpStepFallsBackToCsmi) {
    const struct {
        const char* machine;
        const char* devPath;
        int32_t scanType, gScanType, gCount;
        const char* line;
    } cases[] = {
        {"default.json", "", 0, 0, 1, "] : gScanType: 0, CNT: 1\r\n\r\n"},
        {"csmi-raid.json", "", 0, 1, 2, "] : gScanType: 1, CNT: 2\r\n\r\n"},
        // A device path given on the command line: one scan of the disk list, no fallback.
        {"csmi-raid.json", "\\\\.\\PhysicalDrive1", 0, 0, 0, "] : gScanType: 0, CNT: 0\r\n\r\n"},
    };
    for (const auto& c : cases) {
        ScanBench b(std::string(c.machine));
        b.main->DEV_PATH = c.devPath;
        b.main->gScanType = c.scanType;
        b.main->ScanDrivesStep();
        EXPECT_EQ(b.main->gScanType, c.gScanType) << c.machine;
        EXPECT_EQ(b.main->gCount, c.gCount) << c.machine;
        const std::string log = b.Log();
        EXPECT_NE(log.find("] : Scan Device ...\r\n"), std::string::npos);
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
    }
}

}  // namespace

namespace {

// Storage calls by kind, passed on to the machine's storage.
class CountingStorage : public IStorage {
public:
    explicit CountingStorage(IStorage& inner) : inner_(inner) {}
    uint64_t opens = 0, ioctls = 0, closes = 0;
    DevHandle CreateFileA(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags) override {
        ++opens;
        return inner_.CreateFileA(path, access, share, disposition, flags);
    }
    bool DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t& n) override {
        ++ioctls;
        return inner_.DeviceIoControl(h, code, in, inSize, out, outSize, n);
    }
    bool CloseHandle(DevHandle h) override {
        ++closes;
        return inner_.CloseHandle(h);
    }
    uint32_t GetLastError() override { return inner_.GetLastError(); }

private:
    IStorage& inner_;
};

// What a scan of 17 disks costs: no setup-API call of its own (no RST NVMe disk), a bounded number
// of storage requests per disk, no waits, every handle closed again.
TEST(DriveScanCost, SeventeenDisks) {
    auto machine = std::make_unique<sim::SimMachine>(MachineFile("disks-17.json"), sim::SimOptions{});
    CountingStorage storage(machine->storage());
    Platform p = machine->platform();
    p.storage = &storage;
    TKestrelMain main(p, PackageView(), {});
    main.bLogEnabled = true;
    main.sLogFile = machine->files().GetTempPath() + "KestrelLog.txt";
    const auto t0 = std::chrono::steady_clock::now();
    main.pAtaDevice = std::make_unique<TAtaDevice>(p);
    const auto t1 = std::chrono::steady_clock::now();
    const uint64_t treeBefore = machine->deviceTree().Calls();
    const uint64_t opensBefore = storage.opens, ioctlsBefore = storage.ioctls;
    const int64_t clockBefore = machine->clock().NowNs();
    ASSERT_EQ(main.ScanSSDDrive(0), 16);
    const auto t2 = std::chrono::steady_clock::now();
    const uint64_t treeCalls = machine->deviceTree().Calls() - treeBefore;
    const uint64_t opens = storage.opens - opensBefore, ioctls = storage.ioctls - ioctlsBefore;
    const double waited = static_cast<double>(machine->clock().NowNs() - clockBefore) / 1e9;
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("17-disk scan: enumeration %.1f ms, %llu device-tree calls before the scan; scan %.1f ms, %llu device-tree calls, "
                "%llu opens, %llu DeviceIoControl calls, %.3f s waited (virtual)\n",
                ms(t1 - t0), static_cast<unsigned long long>(treeBefore), ms(t2 - t1), static_cast<unsigned long long>(treeCalls),
                static_cast<unsigned long long>(opens), static_cast<unsigned long long>(ioctls), waited);
    EXPECT_EQ(treeCalls, 0u);
    EXPECT_LE(ioctls, 16u * 8u);
    EXPECT_LE(opens, 16u * 4u);
    EXPECT_EQ(waited, 0.0);
    EXPECT_EQ(storage.opens, storage.closes + (main.pAtaDevice->IsOpen() ? 1u : 0u)) << "a handle was left open";
}

}  // namespace

namespace {

// A CSMI controller with 17 SATA phys: the table takes 16 and the log names the one left out.
TEST(DriveScanLimits, SeventeenCsmiPhys) {
    json m = MachineFile("csmi-raid.json");
    json phys = json::array();
    for (int p = 0; p < 17; ++p)
        phys.push_back({{"attached", "sata"},
                        {"drive", {{"model", "KESTREL KS600 512GB"}, {"revision", "KS6R0100"}, {"serial", "KS6A2613000030" + std::to_string(p)}}}});
    m["csmi_controllers"][0]["phys"] = phys;
    ScanBench b(m);
    EXPECT_EQ(b.main->ScanSSDDrive(1), 16);
    EXPECT_EQ(b.main->m_DevInfo[15].ScsiIndex, 15);
    EXPECT_EQ(KESTREL_FIELD(b.main->m_DevInfo[15], szSerial), "KS6A261300003015");
    const std::string log = b.Log();
    EXPECT_NE(log.find("] : csmi3,16 : left out, the drive table holds 16 drives\r\n\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("KS6A261300003016"), std::string::npos) << "the 17th drive is not even identified";
}

// The friendly name of an NVMe disk fills the 40-byte model fields; a longer one is cut, a shorter
// one ends with zero bytes.
TEST(DriveScanLimits, FriendlyNameFillsTheModelFields) {
    for (const std::string& name : {std::string("KESTREL KN900 1TB NVMe SSD WITH A VERY LONG NAME"), std::string(39, 'N')}) {
        json m = MachineFile("nvme-inbox.json");
        for (json& n : m["device_tree"]["nodes"])
            if (n.value("friendly_name", "") == "KESTREL KN900 1TB") n["friendly_name"] = name;
        ScanBench b(m);
        ASSERT_EQ(b.main->ScanSSDDrive(0), 2);
        const DEV_INFO& e = b.main->m_DevInfo[1];
        std::string expected = name.substr(0, 40);
        expected.resize(40, '\0');
        EXPECT_EQ(std::string(e.szModel, 40), expected);
        EXPECT_EQ(std::string(e.szCheckModel, 40), expected);
    }
}

}  // namespace
