// The drive scan over the machine files of sim/machines/: one row per route and case, each checking
// the drive table, the count and the log lines that matter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScanFixture.h"

using namespace kestrel;
using namespace kestrel::test;

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
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.machine; }

class DriveScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(DriveScan, FillsTheTableFromTheMachine) {
    const ScanCase& c = GetParam();
    ScanBench b(std::string(c.machine));
    b.main->iErrorLevel = 11;
    b.ClearLog();
    const int64_t before = b.machine->clock().NowNs();
    const int32_t r = b.main->ScanSSDDrive(0);
    const double waited = static_cast<double>(b.machine->clock().NowNs() - before) / 1e9;
    const std::string log = b.Log();

    EXPECT_EQ(r, c.result) << log;
    const size_t filled = c.elements.size();
    for (size_t i = 0; i < filled; ++i) EXPECT_EQ(Describe(b.main->m_DevInfo[i]), c.elements[i]) << "element " << i;
    for (size_t i = filled; i < kMaxDrives; ++i) EXPECT_TRUE(AllZero(b.main->m_DevInfo[i])) << "element " << i << " is not cleared";
    for (const std::string& line : c.logLines) EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\n" << log;
    EXPECT_NEAR(waited, c.waitedSeconds, 0.2);
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
                 {"] : \n\n============== (ATA/NVMe) SCANNING COUNT(2) 12/10/2026 9:30:00 AM ==============\n\n",
                  "] : SCAN: 0\n\n", "] : ScsiAddress(PortNo-Path-Target-Lun) : 1-0-0-0\n\n",
                  "] : Parent InstanceId: PCI\\VEN_8086&DEV_A352&SUBSYS_86941043&REV_10\\3&11583659&0&B8 / Service: storahci \n "
                  "bIsNvme=0, bIsNVMe_InBoxDriver=0, bIsNVMe_IrstDriver=0,bIsNVMe_IrstDriverBelow_14_8=0, BusNo=0 (BusNumber_API: "
                  "Bus Number 0, Target Id 0, LUN 0), bIsSataIrst=0\n\n",
                  "] : IDENTIFY(frmKestrel): KESTREL KS600 512GB                      KS6R0100, KS6A26130000123     \n\n",
                  "] : PPID: [CN0KS6A2613000012300A01         ]\n\n",
                  "] : [0-A] KESTREL KS600 512GB                      KS6R0100 | S6R0100\n\n",
                  "] : [1][SCSI:1] KESTREL KN900 1TB KN9R0200 \n\n", "] : SelectPort OK >>>1. bIsNvmeInboxDriver=1, bIsNvmeIrstDriver=0 \n\n",
                  "] : ATA_DEV_CNT: 1 / 2 \n\n", "] : ============== END SCANNING 12/10/2026 9:30:01 AM ==============\n\n\n"},
                 1.5, 0, 11},
        // Three failed identify requests, three 500 ms waits, added on the fourth.
        ScanCase{"identify-fourth-try.json", 1, {kSata0}, {"] : [0-A] KESTREL KS600 512GB"}, 3.0, 0, 11},
        // Neither the system volume nor its disk answers the device number: no drive is the system drive.
        ScanCase{"system-volume-unqueried.json", 1,
                 {"ata order=0 scsi=0-0-0-0 bus=11 flags=0000 sys=0 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {}, 1.5, 0, 11},
        // A SATA disk below iaStorV sets the run-wide flag and takes the ATA route.
        ScanCase{"rst-sata.json", 1,
                 {"ata order=0 scsi=0-0-0-0 bus=8 flags=0000 sys=1 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {"Service: iaStorV \n bIsNvme=0", "bIsSataIrst=1\n"}, 1.5, 1, 11},
        // An NVMe disk on a vendor driver is classified NVMe and never added; the SATA disk after it
        // takes element 0 with nothing of the NVMe disk left in it.
        ScanCase{"nvme-third-party.json", 1,
                 {"ata order=1 scsi=1-0-0-0 bus=11 flags=0000 sys=1 existed=1 | KESTREL KS600 512GB | KS6R0100 | KS6A26130000123 | "
                  "S6R0100A | CN0KS6A2613000012300A01 | KESTREL KS600 512GB"},
                 {"Service: acmenvme \n bIsNvme=1, bIsNVMe_InBoxDriver=0, bIsNVMe_IrstDriver=0,bIsNVMe_IrstDriverBelow_14_8=0",
                  "INBOX : before SelectPort ScanSSDDrive_i: 0 cnt:0", "ATA_DEV_CNT: 1 / 2 \n"},
                 0.0, 0, 11},
        // 17 disks: the table holds 16, and the log says drives were left out.
        ScanCase{"disks-17.json", 16, Seventeen(),
                 {"] : SCAN: 17 disks counted, the drive table holds 16: drives left out\n\n", "ATA_DEV_CNT: 16 / 16 \n"}, 0.0, 0, 11},
        // A driver that faults inside the call ends the scan: iErrorLevel 3, result -1, the element
        // filled before it stays, no closing lines.
        ScanCase{"pass-through-fault.json", -1, {kSata0}, {"] : Exception !ScanSSDDrive_i: 2   \n\n"}, 1.5, 0, 3}),
    [](const ::testing::TestParamInfo<ScanCase>& i) {
        std::string n = i.param.machine;
        n = n.substr(0, n.find('.'));
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

}  // namespace
