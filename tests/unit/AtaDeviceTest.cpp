#include <gtest/gtest.h>

#include "support/AtaFixture.h"
#include "support/Format.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

class AtaDevice : public AtaFixture {};

json Drive(json patch = json::object()) {
    json d = {{"model", "KESTREL SATA SSD 512GB"}, {"revision", "KS1.00A"}, {"serial", "KS00000001"}, {"def", "F1A2B3C1"},
              {"transports", {"ata", "scsi_cc", "sat"}}};
    d.merge_patch(patch);
    return d;
}

TEST_F(AtaDevice, TransfersUpTo512BytesAreBufferedLargerOnesDirect) {
    struct Case {
        int32_t protocol;
        uint32_t length;
        uint32_t code;
    };
    const Case cases[] = {
        {PRO_ATA_PASSTHROUGH, 512, wire::kIOCTL_ATA_PASS_THROUGH},   {PRO_ATA_PASSTHROUGH, 513, wire::kIOCTL_ATA_PASS_THROUGH_DIRECT},
        {PRO_SCSI_PASSTHROUGH, 512, wire::kIOCTL_SCSI_PASS_THROUGH}, {PRO_SCSI_PASSTHROUGH, 513, wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT},
        {PRO_SAT_PASSTHROUGH, 512, wire::kIOCTL_SCSI_PASS_THROUGH},  {PRO_SAT_PASSTHROUGH, 1024, wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " length " << c.length);
        Build(Drive());
        dev->SetProtocol(c.protocol);
        // A DOWNLOAD MICROCODE segment of that size at offset 0.
        ATA_TASKFILE tf = MakeTf(0x03, static_cast<uint8_t>((c.length + 511) / 512), 0, 0, 0, 0x92);
        uint32_t len = (c.length + 511) / 512 * 512;
        if (c.length == 513) len = 513;
        const uint8_t r = dev->SendAtaCommand(tf, dev->GetWriteBuffer(), ATA_DIR_OUT, len);
        ASSERT_EQ(rec->ios.size(), 1u);
        EXPECT_EQ(rec->ios[0].code, c.code);
        if (c.length != 513) { EXPECT_EQ(r, ATACMD_OK); }
        if (c.code == wire::kIOCTL_ATA_PASS_THROUGH) { EXPECT_EQ(rec->ios[0].inSize, sizeof(wire::ATA_PASS_THROUGH_BUF)); }
        if (c.code == wire::kIOCTL_ATA_PASS_THROUGH_DIRECT) { EXPECT_EQ(rec->ios[0].inSize, sizeof(wire::ATA_PASS_THROUGH_DIRECT)); }
        if (c.code == wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT) { EXPECT_EQ(rec->ios[0].inSize, sizeof(wire::SCSI_PASS_THROUGH_DIRECT_BUF)); }
    }
}

TEST_F(AtaDevice, IdentifyDataArrivesOverEveryTransport) {
    for (int32_t p : {PRO_ATA_PASSTHROUGH, PRO_SCSI_PASSTHROUGH, PRO_SAT_PASSTHROUGH}) {
        SCOPED_TRACE(p);
        Build(Drive({{"enterprise_flags", 9}, {"security", 0x21}}));
        dev->SetProtocol(p);
        ASSERT_EQ(dev->IdentifyDevice(), ATACMD_OK);
        IdentifyFields f;
        ASSERT_TRUE(ParseIdentifyData(dev->GetReadBuffer(), 512, f));
        EXPECT_EQ(f.model.substr(0, 22), "KESTREL SATA SSD 512GB");
        EXPECT_EQ(f.revision, "KS1.00A ");
        EXPECT_EQ(f.serial.substr(0, 10), "KS00000001");
        EXPECT_EQ(f.specificConfiguration, 0xC837);
        EXPECT_EQ(f.securityStatus, 0x21);
        EXPECT_EQ(f.vendorFlags, 9);
    }
}

TEST_F(AtaDevice, AtaStatusWithErrBit) {
    struct Case {
        int status;
        uint8_t result;
    };
    for (const Case c : {Case{0x7F, ATACMD_OK}, Case{0x51, ATACMD_ERR}, Case{0x41, ATACMD_ERR}}) {
        SCOPED_TRACE(c.status);
        Build(Drive({{"faults", {{{"command", "E4h"}, {"status", c.status}, {"error", 4}}}}}));
        ATA_TASKFILE tf = MakeTf(3, 0, 0x51, 0x5A, 0x56, 0xE4);
        uint32_t len = 512;
        EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), c.result);
        EXPECT_EQ(len, 512u);
        EXPECT_EQ(dev->RetTaskFile.bCommandReg, c.status);
        EXPECT_EQ(dev->bStatusReg, c.result == ATACMD_ERR ? c.status : 0);
        if (c.result == ATACMD_ERR) { EXPECT_NE(Log().find(Fmt("ATA Status Register: 0x%X\r\n", c.status)), std::string::npos); }
    }
}

TEST_F(AtaDevice, DirectAtaRequestThatCompletesLateTimesOut) {
    struct Case {
        int64_t lateMs;
        uint32_t length;
        uint8_t result;
    };
    // 20 s timeout: a late success on the direct form is a timeout; the buffered form leaves it to the driver.
    for (const Case c : {Case{19000, 1024, ATACMD_OK}, Case{20000, 1024, ATACMD_TIMEOUT}, Case{25000, 512, ATACMD_OK}}) {
        SCOPED_TRACE(c.lateMs);
        Build(Drive({{"faults", {{{"command", 0x92}, {"late_ms", c.lateMs}}}}}));
        dev->SetTimeout(20.0f);
        ATA_TASKFILE tf = MakeTf(0x03, static_cast<uint8_t>(c.length / 512), 0, 0, 0, 0x92);
        uint32_t len = c.length;
        EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetWriteBuffer(), ATA_DIR_OUT, len), c.result);
    }
}

TEST_F(AtaDevice, WindowsErrorsMapToResults) {
    struct Case {
        uint32_t error;
        uint8_t result;
    };
    const Case cases[] = {{121, ATACMD_TIMEOUT}, {258, ATACMD_TIMEOUT}, {1460, ATACMD_TIMEOUT}, {1, ATACMD_SYS_NOT_SUPPORT},
                          {50, ATACMD_SYS_NOT_SUPPORT}, {5, ATACMD_FAIL}, {87, ATACMD_FAIL}};
    for (int32_t p : {PRO_ATA_PASSTHROUGH, PRO_SCSI_PASSTHROUGH, PRO_SAT_PASSTHROUGH}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "protocol " << p << " error " << c.error);
            Build(Drive({{"faults", {{{"command", "ECh"}, {"win_error", c.error}}}}}));
            dev->SetProtocol(p);
            ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
            uint32_t len = 512;
            EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), c.result);
            EXPECT_EQ(dev->dwLastError, c.error);
        }
    }
    Build(Drive({{"faults", {{{"command", "ECh"}, {"win_error", 1460}}}}}));
    ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    uint32_t len = 512;
    dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len);
    EXPECT_NE(Log().find("GetLastError=5B4h(1460)\r\n"), std::string::npos);
}

TEST_F(AtaDevice, TranslatedCommandSenseKeys) {
    // Registers reported with sense key 0 are a success and come back in the task file.
    Build(Drive({{"transports", {"sat"}}, {"sat_registers", true}}));
    dev->SetProtocol(PRO_SAT_PASSTHROUGH);
    ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    uint32_t len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_OK);
    EXPECT_EQ(len, 512u);
    EXPECT_EQ(dev->bScsiStatus, 2);
    EXPECT_EQ(dev->DecodedSense[0], 0x72);
    EXPECT_EQ(dev->DecodedSense[1], 0);
    EXPECT_EQ(tf.bCommandReg, 0x50);
    EXPECT_EQ(dev->RetTaskFile.bCommandReg, 0x50);
    EXPECT_EQ(dev->iDescriptorLength, 14);

    // A stack that rejects the block: check condition, ILLEGAL REQUEST.
    Build(Drive({{"transports", {"ata"}}, {"refuse", {{"sat", "check_condition"}}}}));
    dev->SetProtocol(PRO_SAT_PASSTHROUGH);
    tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_ERR);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(dev->DecodedSense[1], 5);
    EXPECT_NE(Log().find("ATACMD_ERR : status: 02, sensekey:05 \r\n"), std::string::npos);

    // A device error: ABORTED COMMAND with the drive's registers.
    Build(Drive({{"transports", {"sat"}}}));
    dev->SetProtocol(PRO_SAT_PASSTHROUGH);
    tf = MakeTf(0x77, 1, 0, 0, 0, 0xFF);
    len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetWriteBuffer(), ATA_DIR_OUT, len), ATACMD_ERR);
    EXPECT_EQ(dev->DecodedSense[1], 0x0B);
    EXPECT_EQ(tf.bCommandReg, 0x51);
    EXPECT_EQ(tf.bFeaturesReg, 0x04);
}

TEST_F(AtaDevice, CsmiStatusOtherThan50IsAFailure) {
    json d = Drive({{"transports", {"csmi"}}, {"csmi", {{"port", 2}, {"phy", 3}}}, {"faults", {{{"command", "ECh"}, {"status", 0x51}, {"error", 4}}}}});
    Build(d, false);
    dev->SetCsmiPhy(3);
    ASSERT_TRUE(dev->SelectPort(2, nullptr, -1, SELECT_CSMI));
    EXPECT_EQ(dev->GetProtocol(), PRO_CSMI);
    ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    uint32_t len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_FAIL);
    const std::string log = Log();
    EXPECT_NE(log.find("(CSMI) Cmd:EC FR:00 SC:01 SN:00 CL:00 CH:00 "), std::string::npos);
    EXPECT_NE(log.find("[FAIL STS:51,ERR:04] 1 / 0\r\n"), std::string::npos);
    EXPECT_NE(log.find("STS=51,ERR=04,LBA_L=00,LBA_M=00,LBA_H=00,DEV=00,SC=00 \r\n"), std::string::npos);

    // The same drive answers IDENTIFY once the fault is gone; a wrong phy is a non-zero ReturnCode.
    Build(Drive({{"transports", {"csmi"}}, {"csmi", {{"port", 2}, {"phy", 3}}}}), false);
    dev->SetCsmiPhy(3);
    ASSERT_TRUE(dev->SelectPort(2, nullptr, -1, SELECT_CSMI));
    EXPECT_EQ(dev->IdentifyDevice(), ATACMD_OK);
    dev->SetCsmiPhy(1);
    EXPECT_EQ(dev->IdentifyDevice(), ATACMD_FAIL);
    EXPECT_NE(Log().find("IOCTL_SCSI_MINIPORT(CC_CSMI_SAS_STP_PASSTHRU) failed, ReturnCode=1\r\n"), std::string::npos);
}

TEST_F(AtaDevice, ProtocolsWithoutAnAtaSenderSendNothing) {
    Build(Drive());
    for (int32_t p : {PRO_NVME, PRO_NONE, 2}) {
        dev->SetProtocol(p);
        const uint64_t before = machine->storage().IoctlCount();
        ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
        uint32_t len = 512;
        EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_SYS_NOT_SUPPORT);
        EXPECT_EQ(machine->storage().IoctlCount(), before);
    }
    EXPECT_STREQ(TAtaDevice::ProtocolName(2), "SYSTEM NOT SUPPORT");
    EXPECT_STREQ(TAtaDevice::ProtocolName(16), "NVMe");
}

TEST_F(AtaDevice, IdentifyJudgesByItsData) {
    struct Case {
        const char* what;
        int32_t protocol;
        json drive;
        uint8_t result;
    };
    const Case cases[] = {
        {"error with data and C8h", PRO_SAT_PASSTHROUGH,
         Drive({{"faults", {{{"command", "ECh"}, {"status", 0x51}, {"error", 4}, {"with_data", true}}}}}), ATACMD_OK},
        {"success without a configuration byte", PRO_ATA_PASSTHROUGH, Drive({{"specific_configuration", 0}}), ATACMD_FAIL},
        {"success with 37h", PRO_ATA_PASSTHROUGH, Drive({{"specific_configuration", 0x8C37}}), ATACMD_OK},
        {"success with another byte", PRO_ATA_PASSTHROUGH, Drive({{"specific_configuration", 0x0040}}), ATACMD_OK},
        {"error without data", PRO_ATA_PASSTHROUGH, Drive({{"faults", {{{"command", "ECh"}, {"status", 0x51}}}}}), ATACMD_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Build(c.drive);
        dev->SetProtocol(c.protocol);
        dev->GetReadBuffer()[4] = 0xC8;  // stale data must not count
        EXPECT_EQ(dev->IdentifyDevice(), c.result);
    }
}

TEST_F(AtaDevice, EnterpriseByte318) {
    struct Case {
        int flags;
        bool enterprise;
    };
    for (const Case c : {Case{0x08, false}, Case{0x09, true}, Case{0xFF, false}, Case{0x00, false}, Case{0x04, true}}) {
        SCOPED_TRACE(c.flags);
        Build(Drive({{"enterprise_flags", c.flags}}));
        EXPECT_EQ(dev->IsEnterpriseDrive(), c.enterprise);
    }
    Build(Drive({{"enterprise_flags", 1}, {"faults", {{{"command", "ECh"}, {"win_error", 5}}}}}));
    EXPECT_FALSE(dev->IsEnterpriseDrive());
}

TEST_F(AtaDevice, ProbeOrder) {
    struct Case {
        const char* what;
        json drive;
        int32_t visualStyle;
        int32_t protocol;
        std::vector<std::pair<uint32_t, uint8_t>> requests;  // code, ATA command or CDB opcode
    };
    constexpr uint32_t A = wire::kIOCTL_ATA_PASS_THROUGH, S = wire::kIOCTL_SCSI_PASS_THROUGH;
    const Case cases[] = {
        {"ATA answers the vendor command", Drive({{"transports", {"ata"}}}), 0, PRO_ATA_PASSTHROUGH, {{A, 0xFF}, {A, 0xFF}}},
        {"only SAT", Drive({{"transports", {"sat"}}}), 0, PRO_SAT_PASSTHROUGH, {{A, 0xFF}, {S, 0xCC}, {S, 0xA1}, {S, 0xA1}}},
        {"no vendor command: IDENTIFY on kind 1 first, then 3", Drive({{"transports", {"scsi_cc"}}, {"vendor_commands", false}}), 0,
         PRO_SCSI_PASSTHROUGH, {{A, 0xFF}, {S, 0xCC}, {S, 0xA1}, {A, 0xEC}, {S, 0xCC}}},
        {"visual style 20 sends no vendor command", Drive({{"transports", {"sat"}}}), 20, PRO_SAT_PASSTHROUGH,
         {{A, 0xEC}, {S, 0xCC}, {S, 0xA1}}},
        {"nothing answers", Drive({{"transports", json::array()}}), 0, PRO_NONE,
         {{A, 0xFF}, {S, 0xCC}, {S, 0xA1}, {A, 0xEC}, {S, 0xCC}, {S, 0xA1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Build(c.drive, false);
        dev->iVisualStyle = c.visualStyle;
        EXPECT_EQ(dev->SelectPort(0, nullptr, 0, SELECT_ATA), true);
        EXPECT_EQ(dev->GetProtocol(), c.protocol);
        std::vector<std::pair<uint32_t, uint8_t>> got;
        for (const auto& io : rec->ios) got.emplace_back(io.code, io.first);
        EXPECT_EQ(got, c.requests);
        EXPECT_NE(Log().find(Fmt("PRO: %s\r\n", TAtaDevice::ProtocolName(c.protocol))), std::string::npos);
        if (c.visualStyle != 20) { EXPECT_EQ(dev->GetTimeout(), 10.0f); }
    }
}

TEST_F(AtaDevice, EraseSupportQueryRetriesItsWriteBuffer) {
    struct Case {
        int failures;
        uint8_t result;
        size_t readBuffers;
    };
    for (const Case c : {Case{0, ATACMD_OK, 2}, Case{2, ATACMD_OK, 2}, Case{3, ATACMD_ERR, 0}}) {
        SCOPED_TRACE(c.failures);
        json faults = json::array();
        if (c.failures) faults.push_back({{"command", "E8h"}, {"fail_first", c.failures}, {"status", 0x51}});
        Build(Drive({{"faults", faults}}));
        EXPECT_EQ(dev->QueryNewEraseSupport(), c.result);
        size_t writes = 0, reads = 0;
        for (const auto& cmd : model->Commands()) {
            writes += cmd.command == 0xE8;
            reads += cmd.command == 0xE4;
        }
        EXPECT_EQ(writes, static_cast<size_t>(std::min(c.failures + 1, 3)));
        EXPECT_EQ(reads, c.readBuffers);
        if (c.result == ATACMD_OK) {
            const char sig[] = "AEP NEWSupport";
            for (int i = 0; i < 14; ++i) EXPECT_EQ(dev->GetReadBuffer()[i * 4], static_cast<uint8_t>(sig[i]));
        }
    }
    // A drive without the new erase reports status 0: the query fails after the first READ BUFFER.
    Build(Drive({{"new_erase", false}}));
    EXPECT_EQ(dev->QueryNewEraseSupport(), ATACMD_FAIL);
}

TEST_F(AtaDevice, VendorCommandsReadTheirData) {
    Build(Drive({{"ppid", "CN0ABCDE1234567890XYZ0001"}}));
    ASSERT_EQ(dev->ReadDefRevision(), ATACMD_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dev->GetReadBuffer()), 8), "F1A2B3C1");
    ASSERT_EQ(dev->ReadPpidLog(), ATACMD_OK);
    const std::string swapped = SwapAtaString(dev->GetReadBuffer(), 24) + std::string(reinterpret_cast<char*>(dev->GetReadBuffer()) + 24, 8);
    EXPECT_EQ(swapped, "CN0ABCDE1234567890XYZ0001       ");
    ASSERT_EQ(dev->ReadVendorBuffer(3, 0), ATACMD_OK);
    EXPECT_EQ(dev->GetReadBuffer()[1], 10);  // the drive's default pattern i*7+3
    EXPECT_EQ(dev->GetTimeout(), 20.0f);
}

TEST_F(AtaDevice, EraseTakesItsTimeOnTheVirtualClock) {
    for (bool newErase : {false, true}) {
        SCOPED_TRACE(newErase);
        Build(Drive({{"erase_ms", 90000}}));
        const int64_t t0 = machine->clock().NowNs();
        EXPECT_EQ(newErase ? dev->EraseAllNew() : dev->EraseAllLegacy(), newErase ? ATACMD_TIMEOUT : ATACMD_OK);
        EXPECT_GE(machine->clock().NowNs() - t0, newErase ? 60'000'000'000 : 90'000'000'000);
        EXPECT_EQ(model->EraseCount(), 1);  // the drive erases even when the host stopped waiting
        EXPECT_EQ(dev->GetTimeout(), newErase ? 60.0f : 300.0f);
    }
}

TEST_F(AtaDevice, RecordsAndSelection) {
    Build(Drive(), false);
    EXPECT_EQ(dev->GetDriveRecord(-1), nullptr);
    EXPECT_EQ(dev->GetDriveRecord(1), nullptr);
    // No drive selected: the request fails without reading a record or opening anything.
    ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    uint32_t len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_FAIL);
    EXPECT_EQ(Log().find("SelectPort"), std::string::npos);

    ASSERT_TRUE(dev->SelectPort(0, nullptr, 7, SELECT_ATA));
    EXPECT_EQ(dev->GetDriveRecord(-1), &records[0]);
    EXPECT_EQ(dev->ParentVid, 0x8086);
    EXPECT_NE(Log().find(Fmt(">>> SelectPort[idx=0] Scsi=7 InstID=%s Parent_VID/DID=8086h/A102h...\r\n", kDiskPath)), std::string::npos);
    EXPECT_NE(Log().find("(ATA PASSTHROUGH) CreateFile OK\r\n"), std::string::npos);
    const size_t open = machine->storage().OpenHandles();
    EXPECT_FALSE(dev->SelectPort(1, nullptr, 0, SELECT_ATA));
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_EQ(machine->storage().OpenHandles(), open);

    // A closed handle is reopened before the next command, and the command's data survives the probe.
    dev->ClosePort();
    std::memset(dev->GetWriteBuffer(), 0xA5, 512);
    tf = MakeTf(0x03, 1, 0, 0, 0, 0x92);
    len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetWriteBuffer(), ATA_DIR_OUT, len), ATACMD_OK);
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_EQ(dev->GetWriteBuffer()[0], 0xA5);
}

TEST_F(AtaDevice, ReopenThatFailsFailsTheRequestOnce) {
    Build(Drive(), true);
    std::strcpy(records[0].DevicePath, "\\\\?\\gone");
    dev->ClosePort();
    ClearLog();
    ATA_TASKFILE tf = MakeTf(0, 1, 0, 0, 0, 0xEC);
    uint32_t len = 512;
    EXPECT_EQ(dev->SendAtaCommand(tf, dev->GetReadBuffer(), ATA_DIR_IN, len), ATACMD_FAIL);
    const std::string log = Log();
    // One reselection, whose probe commands fail without reopening again.
    size_t selects = 0;
    for (size_t p = log.find(">>> SelectPort[idx=0]"); p != std::string::npos; p = log.find(">>> SelectPort[idx=0]", p + 1)) ++selects;
    EXPECT_EQ(selects, 1u);
    EXPECT_NE(log.find("(SYSTEM NOT SUPPORT) CreateFile FAIL\r\n"), std::string::npos);
    EXPECT_EQ(dev->dwLastError, 6u);
}

TEST_F(AtaDevice, PortNamesOfCsmiAndRst) {
    Build(Drive(), false);
    auto port = std::make_shared<RecordingDevice>(model);
    machine->storage().Attach("\\\\.\\SCSI4:", port);
    EXPECT_TRUE(dev->SelectPort(4, nullptr, 9, SELECT_CSMI));
    EXPECT_FALSE(dev->SelectPort(0, nullptr, 5, SELECT_NVME));  // \\.\Scsi5: is not there
    EXPECT_TRUE(dev->SelectPort(0, nullptr, 4, SELECT_NVME));
    EXPECT_EQ(dev->GetProtocol(), PRO_NVME);
    EXPECT_NE(Log().find("NVMe SCSI:4 CreateFile ...\r\n"), std::string::npos);
}

TEST_F(AtaDevice, Diagnostics) {
    Build(Drive(), false);
    EXPECT_EQ(dev->LastErrorText(5), "<5> -- Access is denied.");
    ClearLog();
    std::vector<uint8_t> zeros(256, 0);
    dev->HexDump(zeros.data(), 256, 1, 16);
    std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_NE(log.find("] :  \r\n"), std::string::npos);
    EXPECT_NE(log.find("] :       0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\r\n"), std::string::npos);
    ClearLog();
    const uint8_t bytes[20] = {'K', 'S', 0, 1, 0x7F, ' ', 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 0xFF};
    dev->HexDump(bytes, 20, 1, 16);
    log = Log();
    EXPECT_NE(log.find("] : 0000: 4B 53 00 01 7F 20 7A 00 00 00 00 00 00 00 00 00 \"KS....z.........\"\r\n"), std::string::npos);
    EXPECT_NE(log.find("] : 0010: 61 62 63 FF" + std::string(1 + 36, ' ') + " \"abc.\"\r\n"), std::string::npos);
}

}  // namespace

namespace {

TEST(SenseDecoder, FixedAndDescriptorFormats) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool valid;
        uint8_t key, asc, ascq;
        int32_t descriptor, length;
    };
    const Case cases[] = {
        {"not sense data", {0x60, 0, 5}, false, 0, 0, 0, -1, 0},
        {"fixed", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, true, 5, 0x24, 0x01, -1, 0},
        {"fixed, ASC beyond its stated length", {0x71, 0, 0x0B, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0x24, 0x01}, true, 0x0B, 0, 0, -1, 0},
        {"fixed, two bytes", {0xF0, 0}, true, 0, 0, 0, -1, 0},
        {"descriptor, status return after another descriptor",
         {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 18, 0x02, 0x02, 0xAA, 0xBB, 0x09, 0x0C, 0, 0x04, 0, 1, 0, 2, 0, 3, 0, 4, 0xA0, 0x51},
         true, 1, 0, 0x1D, 12, 14},
        {"descriptor, short length clamped", {0x72, 0, 0, 0, 0, 0, 0, 4, 0x09, 0x02, 0, 0}, true, 0, 0, 0, 8, 12},
        {"descriptor, no additional length", {0x73, 0x0B, 0, 0, 0, 0, 0, 0, 0x09, 0x0C}, true, 0x0B, 0, 0, -1, 0},
        {"descriptor past the stated length", {0x72, 0, 0, 0, 0, 0, 0, 4, 0x02, 0x02, 0, 0, 0x09, 0x0C}, true, 0, 0, 0, -1, 0},
        {"vendor response code 7Fh is not walked", {0x7F, 0x03, 0, 0, 0, 0, 0, 14, 0x09, 0x0C}, true, 3, 0, 0, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SenseDecode d = DecodeSenseData(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(d.valid, c.valid);
        EXPECT_EQ(d.senseKey, c.key);
        EXPECT_EQ(d.asc, c.asc);
        EXPECT_EQ(d.ascq, c.ascq);
        EXPECT_EQ(d.descriptorOffset, c.descriptor);
        EXPECT_EQ(d.descriptorLength, c.length);
    }
}

}  // namespace
