#include <gtest/gtest.h>

#include <cstring>

#include "app/CommandLine.h"
#include "app/Entry.h"
#include "app/KestrelMain.h"
#include "support/RecordingFiles.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace {

struct Case {
    const char* name;
    bool deploy;
    std::vector<std::string> args;
    std::optional<int32_t> end;
    // Expected state afterwards (checked when the run goes on).
    bool silent = false, erase = false, versionOnly = false;
    std::string devPath = {};
    int32_t scanType = 0, scsiPort = 0;
    uint64_t sas = 0;
    std::string log = {};  // every line logged, concatenated
};

const Case kCases[] = {
    {"LowerAndUpperS", false, {"/s"}, std::nullopt, true},
    {"UpperS", false, {"/S"}, std::nullopt, true},
    {"LeadingBlankIgnored", false, {" /S"}, std::nullopt},
    {"AllFlags", false, {"/erase", "/Ver", "/NS", "/LOGFILE", "/vlogfile", "/S", "/S"}, std::nullopt, true, true, true},
    {"TargetsIgnoredWithoutDeployment", false, {"/T:\\\\.\\PhysicalDrive1", "/C:3,50"}, std::nullopt},
    {"DeployNoArguments", true, {}, 2},
    {"DeployNoTarget", true, {"/S"}, 2, true},
    {"DeployLowerCaseT", true, {"/t:\\\\.\\PhysicalDrive1"}, 2},
    {"DeployPath", true, {"/T:\\\\.\\PhysicalDrive1"}, std::nullopt, false, false, false, "\\\\.\\PhysicalDrive1", 0, 0, 0,
     "DEV_PATH:\\\\.\\PhysicalDrive1\n"},
    {"DeployPathTrimmed", true, {"/T:  \\\\.\\PhysicalDrive2 "}, std::nullopt, false, false, false, "\\\\.\\PhysicalDrive2", 0, 0, 0,
     "DEV_PATH:\\\\.\\PhysicalDrive2\n"},
    {"DeployEmptyPath", true, {"/T:"}, 2},
    {"DeployPortNoAddress", true, {"/C:3,"}, std::nullopt, false, false, false, "", 1, 3, 0,
     "/C: _/C:3,\nSCSI_PORT:3, INDEX:0, PORT:0, SAS_ADDR: 0000000000000000\n"},
    {"DeployNoComma", true, {"/C:3"}, 8, false, false, false, "", 1, 0, 0, "/C: _/C:3\n"},
    {"DeployPortNotDecimal", true, {"/C:x,5000"}, 8, false, false, false, "", 1, 0, 0, "/C: _/C:x,5000\n"},
    {"DeployNegativePort", true, {"/C:-1,50"}, 8},
    {"DeployPortOverflow", true, {"/C:99999999999,50"}, 8},
    {"DeployAddressExample", true, {"/C:2,5000C50012345678"}, std::nullopt, false, false, false, "", 1, 2, 0x7856341200C50050ull,
     "/C: _/C:2,5000C50012345678\nSCSI_PORT:2, INDEX:0, PORT:0, SAS_ADDR: 7856341200C50050\n"},
    {"DeployAddressOddDigits", true, {"/C:1,ABC"}, std::nullopt, false, false, false, "", 1, 1, 0xBC0Aull},
    {"DeployAddressTrimmed", true, {"/C: 4 , 50 "}, std::nullopt, false, false, false, "", 1, 4, 0x50},
    {"DeployAddressBadDigit", true, {"/C:1,50zz"}, 8},
    {"DeployAddressSeventeenDigits", true, {"/C:2,5000C500123456789"}, 8},
    {"DeployCNotAtStart", true, {"x/C:2,50"}, 8, false, false, false, "", 1, 0, 0, "/C: _x/C:2,50\n"},
    {"DeployTWinsOverCInOneArgument", true, {"/T:a/C:1,2"}, std::nullopt, false, false, false, "a/C:1,2", 0, 0, 0,
     "DEV_PATH:a/C:1,2\n"},
    {"DeployLastOneCounts", true, {"/C:1,11", "/C:2,22", "/T:a", "/T:b"}, std::nullopt, false, false, false, "b", 1, 2, 0x22},
};

}  // namespace

TEST(CommandLine, Cases) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        RunContext ctx;
        ctx.bDeployMode = c.deploy;
        DriveTable drives;
        std::string log;
        const auto end = ParseCommandLine(ctx, drives, c.args, [&](std::string_view l) { log += l; });
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(ctx.bSilent, c.silent);
        if (!c.log.empty()) {
            EXPECT_EQ(log, c.log);
        }
        if (end) continue;
        EXPECT_EQ(ctx.bErase, c.erase);
        EXPECT_EQ(ctx.bVersionOnly, c.versionOnly);
        EXPECT_EQ(ctx.DEV_PATH, c.devPath);
        EXPECT_EQ(drives.gScanType, c.scanType);
        EXPECT_EQ(ctx.SCSI_PORT, c.scsiPort);
        EXPECT_EQ(ctx.SAS_ADDR, c.sas);
    }
}

TEST(CommandLine, SasAddressIsTheLittleEndianImageOfTheBytes) {
    const auto v = SasAddressFromText("5000C50012345678");
    ASSERT_TRUE(v);
    uint8_t image[8];
    std::memcpy(image, &*v, 8);
    const uint8_t expected[8] = {0x50, 0x00, 0xC5, 0x00, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(0, std::memcmp(image, expected, 8));
    EXPECT_EQ(SasAddressFromText(""), 0u);
    EXPECT_EQ(SasAddressFromText("50"), 0x50u);  // fewer than eight bytes: zero bytes follow
    EXPECT_FALSE(SasAddressFromText("0x50"));
}

TEST(CommandLine, StartUpEndsTheRunWithTheCode) {
    auto block = test::TemplateBlock(0x391A);
    std::string digits(28, '0');
    digits[20 - 2] = '1';  // bDeployMode
    test::PutOptions(block, 1, digits);
    test::PutText(block, pkg::kNewFw + 8, std::string("R1.0\0\0\0\0", 8));
    struct {
        std::vector<std::string> args;
        int code;
        const char* logged;
    } cases[] = {{{}, 2, "Check usage ..."}, {{"/C:3"}, 8, "] : /C: _/C:3\r\n\r\n"}, {{"/T:\\\\.\\PhysicalDrive0"}, 1, "] : DEV_PATH:\\\\.\\PhysicalDrive0\r\n\r\n"}};
    for (const auto& c : cases) {
        auto m = test::MakeMachine();
        // The archive steps pack and delete the text log: the run's log is what was appended to it.
        test::RecordingFiles files(m->files(), "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt");
        Platform p = m->platform();
        p.files = &files;
        const int code = RunKestrel(p, PackageView(block), c.args);
        EXPECT_EQ(code, c.code);
        const std::string& log = files.written;
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        if (c.code == 1) continue;  // past the command line: on to the device object
        EXPECT_EQ(log.find("New AtaDevice"), std::string::npos) << "the start-up goes no further";
        EXPECT_TRUE(m->ui().Boxes().empty()) << "a command-line error shows no box";
    }
}

TEST(CommandLine, EndingTheRunMarksTheUpdateEnded) {
    auto block = test::TemplateBlock(0x391A);
    std::string digits(28, '0');
    digits[20 - 2] = '1';
    test::PutOptions(block, 1, digits);
    test::PutText(block, pkg::kNewFw + 8, std::string("R1.0\0\0\0\0", 8));
    auto m = test::MakeMachine();
    TKestrelMain main(m->platform(), PackageView(block), {"/C:1,2,3,GG"});
    main.StartUp();
    EXPECT_EQ(main.iErrorLevel, 8);
    EXPECT_TRUE(main.bEndOfUpdate);
    EXPECT_TRUE(main.RunEnded());
    EXPECT_TRUE(m->ui().QuitRequested());
    EXPECT_EQ(main.gScanType, 1);
}
