#include <gtest/gtest.h>

#include "flash/FlashModes.h"
#include "support/AtaFixture.h"
#include "support/Format.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

class FlashModes : public AtaFixture {
protected:
    // A drive on the given transport, selected.
    void On(const std::string& transport, json patch = json::object()) {
        json d = {{"model", "KESTREL SATA SSD 512GB"}, {"revision", "KS1.00A"}, {"serial", "KS00000001"}, {"def", "G1A2B3C1"},
                  {"transports", {transport}}, {"restart_ms", 8000}};
        if (transport == "csmi") d["csmi"] = {{"port", 3}, {"phy", 2}};
        d.merge_patch(patch);
        Build(d, transport != "csmi", options);
        if (transport == "csmi") {
            dev->SetCsmiPhy(2);
            ASSERT_TRUE(dev->SelectPort(3, nullptr, -1, SELECT_CSMI));
        }
        model->ClearCommands();
    }
    // The drive's revision as IDENTIFY reports it after it is back.
    std::string IdentifiedRevision() {
        machine->clock().Advance(60'000'000'000);
        dev->ClosePort();
        if (dev->GetProtocol() == PRO_CSMI) dev->SelectPort(3, nullptr, -1, SELECT_CSMI);
        if (dev->IdentifyDevice() != ATACMD_OK) return "<no answer>";
        IdentifyFields f;
        ParseIdentifyData(dev->GetReadBuffer(), 512, f);
        return f.revision;
    }
    sim::SimOptions options;
};

TEST_F(FlashModes, NormalFlowOverEveryTransport) {
    const auto image = Image(300000);
    for (const char* t : {"ata", "scsi_cc", "sat", "csmi"}) {
        for (uint32_t maxSector : {1u, 64u, 8u}) {
            SCOPED_TRACE(testing::Message() << t << " max_sector " << maxSector);
            On(t);
            EXPECT_EQ(FlashImageAta(*dev, image.data(), static_cast<uint32_t>(image.size()), maxSector, 0, 0, 1), ATACMD_OK);
            const auto d = Downloads();
            const uint32_t data = (586 + maxSector - 1) / maxSector;
            ASSERT_EQ(d.size(), data + 1);
            EXPECT_EQ(dev->iCmdTotal, static_cast<int32_t>(data));
            EXPECT_EQ(dev->iCmdCount, static_cast<int32_t>(data));
            EXPECT_EQ(d.back().features, 0x07);
            EXPECT_EQ(model->Revision(), "KS2.00A");
            EXPECT_EQ(IdentifiedRevision(), "KS2.00A ");
        }
    }
}

TEST_F(FlashModes, WorkedExample300000BytesAt64) {
    On("ata");
    const auto image = Image(300000);
    ASSERT_EQ(FlashImageAta(*dev, image.data(), 300000, 64, 0, 0, 1), ATACMD_OK);
    const auto d = Downloads();
    ASSERT_EQ(d.size(), 11u);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(d[k].features, 0x03);
        EXPECT_EQ(d[k].count, 64);
        EXPECT_EQ(d[k].lbaLow, 0);
        EXPECT_EQ(d[k].lbaMid | (d[k].lbaHigh << 8), k * 64);
        EXPECT_EQ(d[k].dataLength, 64u * 512);
    }
    EXPECT_EQ(d[9].count, 10);
    EXPECT_EQ(d[9].lbaMid | (d[9].lbaHigh << 8), 576);
    EXPECT_EQ(d[10].features, 0x07);
    EXPECT_EQ(d[10].count, 0);
    EXPECT_EQ(d[10].lbaMid | (d[10].lbaHigh << 8), 0);
    EXPECT_EQ(d[10].dataLength, 0u);
    EXPECT_EQ(dev->iCmdTotal, 10);
    const std::string log = Log();
    EXPECT_NE(log.find("Normal flash (mode3/mode7): Reboot=1, Bootcode=0, iFlashMode=0, max_sector=64\r\n"), std::string::npos);
    EXPECT_NE(log.find("(ATA PASSTHROUGH) Cmd:92 FR:03 SC:40 SN:00 CL:40 CH:00  2 / 10\r\n"), std::string::npos);
    EXPECT_NE(log.find("(ATA PASSTHROUGH) Cmd:92 FR:03 SC:0A SN:00 CL:40 CH:02  10 / 10\r\n"), std::string::npos);
}

TEST_F(FlashModes, ClosingCommandOffsets) {
    struct Case {
        int32_t flashMode;
        uint8_t updateBoot, reboot;
        int closingOffset;  // -1: no closing command
        const char* revisionAfter;
        const char* pending;
    };
    const Case cases[] = {
        {0, 0, 1, 0, "KS2.00A", ""},         // activate now
        {0, 0, 0, 1, "KS1.00A", "KS2.00A"},  // saved for the next power cycle
        {0, 1, 0, 0x414C, "KS2.00A", ""},    // boot code, whatever the reboot flag
        {0, 1, 1, 0x414C, "KS2.00A", ""},
        {1, 0, 1, -1, "KS1.00A", ""},  // SMI drives: 03h only
        {7, 0, 1, -1, "KS1.00A", ""},
    };
    const auto image = Image(4096 + 128 + 300);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.flashMode << " boot " << int(c.updateBoot) << " reboot " << int(c.reboot));
        On("ata");
        EXPECT_EQ(FlashImageAta(*dev, image.data(), static_cast<uint32_t>(image.size()), 8, c.flashMode, c.updateBoot, c.reboot), ATACMD_OK);
        const auto d = Downloads();
        ASSERT_FALSE(d.empty());
        if (c.closingOffset < 0) {
            EXPECT_EQ(d.back().features, 0x03);
        } else {
            EXPECT_EQ(d.back().features, 0x07);
            EXPECT_EQ(d.back().lbaMid | (d.back().lbaHigh << 8), c.closingOffset);
        }
        EXPECT_EQ(model->Revision(), c.revisionAfter);
        EXPECT_EQ(model->PendingRevision(), c.pending);
        EXPECT_EQ(dev->GetTimeout(), 60.0f);
    }
    // A drive that installs at the end of the 03h download needs no closing command.
    On("ata", {{"activate_after_download", true}});
    EXPECT_EQ(FlashImageAta(*dev, image.data(), static_cast<uint32_t>(image.size()), 1, 1, 0, 1), ATACMD_OK);
    EXPECT_EQ(model->Revision(), "KS2.00A");
}

TEST_F(FlashModes, LastBlockIsZeroPaddedAndSizeZeroSendsOnlyTheClosing) {
    On("ata");
    const auto image = Image(1000);
    EXPECT_EQ(FlashImageAta(*dev, image.data(), 1000, 1, 1, 0, 1), ATACMD_OK);
    ASSERT_EQ(Downloads().size(), 2u);
    // The second block carries bytes 512..999 of the image and zeros after them.
    for (int i = 488; i < 512; ++i) EXPECT_EQ(dev->GetWriteBuffer()[i], 0) << i;
    EXPECT_EQ(std::memcmp(dev->GetWriteBuffer(), image.data() + 512, 488), 0);

    On("ata");
    EXPECT_EQ(FlashImageAta(*dev, image.data(), 0, 1, 0, 0, 1), ATACMD_ERR);  // nothing to install: the drive aborts
    ASSERT_EQ(Downloads().size(), 1u);
    EXPECT_EQ(Downloads()[0].features, 0x07);
    On("ata");
    EXPECT_EQ(FlashImageAta(*dev, image.data(), 0, 1, 1, 0, 1), ATACMD_OK);
    EXPECT_TRUE(Downloads().empty());
}

TEST_F(FlashModes, EnterpriseFlow) {
    struct Case {
        int flags;
        int32_t flashMode;
        uint8_t updateBoot, reboot;
        std::vector<uint8_t> subcommands;
        const char* revisionAfter;
    };
    const Case cases[] = {
        {0x01, 0, 0, 1, {0x0E, 0x0E, 0x0E, 0x0F}, "KS2.00A"},
        {0x01, 0, 1, 1, {0x0E, 0x0E, 0x0E, 0x0E, 0x0F}, "KS2.00A"},
        {0x01, 0, 1, 0, {0x0E, 0x0E, 0x0E, 0x0E}, "KS1.00A"},
        {0x00, 2, 0, 0, {0x0E, 0x0E, 0x0E}, "KS1.00A"},  // enterprise flow chosen by the mode
    };
    const auto image = Image(2 * 4096 + 700);  // 18 blocks: two chunks of 8 and a rest of 2
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " boot " << int(c.updateBoot) << " reboot " << int(c.reboot));
        for (const char* t : {"ata", "sat"}) {
            SCOPED_TRACE(t);
            On(t, {{"enterprise_flags", c.flags}});
            ClearLog();
            EXPECT_EQ(FlashImageAta(*dev, image.data(), static_cast<uint32_t>(image.size()), 8, c.flashMode, c.updateBoot, c.reboot), ATACMD_OK);
            std::vector<uint8_t> subs;
            for (const auto& d : Downloads()) subs.push_back(d.features);
            EXPECT_EQ(subs, c.subcommands);
            if (c.updateBoot) {
                EXPECT_EQ(Downloads()[0].count, 0);
                EXPECT_EQ(Downloads()[0].lbaMid | (Downloads()[0].lbaHigh << 8), 0x414C);
            }
            EXPECT_EQ(model->Revision(), c.revisionAfter);
            EXPECT_EQ(model->BootCodeUpdated(), c.updateBoot && c.reboot);
            const std::string log = Log();
            EXPECT_NE(log.find(Fmt("Enterprise flash flow (mode Eh/Fh): Reboot=%d, Bootcode=%d, iFlashMode=%d, max_sector=8\r\n", c.reboot,
                                   c.updateBoot, c.flashMode)),
                      std::string::npos);
            EXPECT_NE(log.find("Enterprise (mode Eh) module part \r\n"), std::string::npos);
            EXPECT_NE(log.find("Enterprise (mode Eh/Fh) Finished !\r\n"), std::string::npos);
        }
    }
}

TEST_F(FlashModes, RejectedImages) {
    struct Case {
        const char* what;
        json drive;
        std::vector<uint8_t> image;
        int32_t flashMode;
        const char* failLine;
    };
    auto corrupt = Image(5000);
    corrupt[2000] ^= 0xFF;
    const Case cases[] = {
        {"another model", json::object(), Image(5000, "KS2.00A", "OTHER SSD*"), 0, nullptr},
        {"bad checksum", json::object(), corrupt, 0, nullptr},
        {"the drive refuses", {{"reject_images", true}}, Image(5000), 0, nullptr},
        {"enterprise activation", {{"enterprise_flags", 1}}, Image(5000, "KS2.00A", "OTHER*"), 0, "Enterprise UpdateBoot (mode Fh) failed !\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        On("ata", c.drive);
        EXPECT_EQ(FlashImageAta(*dev, c.image.data(), static_cast<uint32_t>(c.image.size()), 64, c.flashMode, 0, 1), ATACMD_ERR);
        EXPECT_EQ(dev->RetTaskFile.bCommandReg, 0x51);
        EXPECT_EQ(dev->RetTaskFile.bFeaturesReg, 0x04);
        EXPECT_EQ(model->Revision(), "KS1.00A");
        if (c.failLine) { EXPECT_NE(Log().find(c.failLine), std::string::npos); }
        EXPECT_EQ(IdentifiedRevision(), "KS1.00A ");
    }
}

TEST_F(FlashModes, FirstFailingCommandEndsTheFlow) {
    // The third data command fails: nothing after it is sent, its code is the result.
    On("ata", {{"faults", {{{"command", 0x92}, {"features", 3}, {"fail_first", 0}, {"win_error", 121}}}}});
    const auto image = Image(8192);
    EXPECT_EQ(FlashImageAta(*dev, image.data(), 8192, 1, 0, 0, 1), ATACMD_TIMEOUT);
    EXPECT_EQ(Downloads().size(), 1u);
    EXPECT_EQ(dev->iCmdCount, 1);

    On("ata", {{"enterprise_flags", 1}, {"faults", {{{"command", 0x92}, {"features", 0x0E}, {"status", 0x51}}}}});
    EXPECT_EQ(FlashImageAta(*dev, image.data(), 8192, 8, 0, 1, 1), ATACMD_ERR);
    EXPECT_NE(Log().find("Enterprise UpdateBoot (mode Eh, offset 414Ch) failed !\r\n"), std::string::npos);
    EXPECT_EQ(Downloads().size(), 1u);
}

TEST_F(FlashModes, RefusedBeforeAnyCommand) {
    struct Case {
        uint32_t size, maxSector;
    };
    std::vector<uint8_t> big(kDeviceBufferSize + 1, 0);
    for (const Case c : {Case{kDeviceBufferSize + 1, 64}, Case{4096, 0}, Case{4096, 256}}) {
        SCOPED_TRACE(c.size);
        On("ata");
        const uint64_t before = machine->storage().IoctlCount();
        EXPECT_EQ(FlashImageAta(*dev, big.data(), c.size, c.maxSector, 0, 0, 1), ATACMD_FAIL);
        EXPECT_EQ(machine->storage().IoctlCount(), before);
    }
    // Exactly the buffer's size is taken.
    On("ata");
    const auto image = Image(kDeviceBufferSize);
    EXPECT_EQ(FlashImageAta(*dev, image.data(), kDeviceBufferSize, 255, 0, 0, 1), ATACMD_OK);
    EXPECT_EQ(model->Revision(), "KS2.00A");
}

TEST_F(FlashModes, ImageAlreadyInTheReadBufferKeepsItsFirstSector) {
    On("ata");
    const auto image = Image(3000);
    std::memcpy(dev->GetReadBuffer(), image.data(), image.size());
    EXPECT_EQ(FlashImageAta(*dev, dev->GetReadBuffer(), 3000, 64, 0, 0, 1), ATACMD_OK);
    EXPECT_EQ(model->Revision(), "KS2.00A");
}

TEST_F(FlashModes, RestartedDriveIsAbsentThenBackWithItsNewRevision) {
    On("ata", {{"restart_ms", 15000}});
    const auto image = Image(3000);
    ASSERT_EQ(FlashImageAta(*dev, image.data(), 3000, 64, 0, 0, 1), ATACMD_OK);
    dev->ClosePort();
    EXPECT_FALSE(dev->SelectPort(0, nullptr, 0, SELECT_ATA));
    machine->clock().Advance(16'000'000'000);
    ASSERT_TRUE(dev->SelectPort(0, nullptr, 0, SELECT_ATA));
    EXPECT_EQ(dev->GetProtocol(), PRO_ATA_PASSTHROUGH);
    ASSERT_EQ(dev->IdentifyDevice(), ATACMD_OK);
    IdentifyFields f;
    ParseIdentifyData(dev->GetReadBuffer(), 512, f);
    EXPECT_EQ(f.revision, "KS2.00A ");
}

TEST_F(FlashModes, RevisionPersistsInTheStateFolder) {
    const auto dir = std::filesystem::temp_directory_path() / Fmt("kestrel-flash-%d", static_cast<int>(getpid()));
    std::filesystem::remove_all(dir);
    options.stateDir = dir;
    On("ata");
    const auto image = Image(3000);
    ASSERT_EQ(FlashImageAta(*dev, image.data(), 3000, 64, 0, 0, 1), ATACMD_OK);
    On("ata");  // a later run on the same state
    EXPECT_EQ(model->Revision(), "KS2.00A");
    std::filesystem::remove_all(dir);
}

}  // namespace
