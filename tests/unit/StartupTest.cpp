#include <gtest/gtest.h>
#include <stdexcept>

#include "app/Entry.h"
#include "app/KestrelMain.h"
#include "support/Format.h"
#include "support/RecordingFiles.h"
#include "support/SimFixture.h"

using namespace kestrel;
using nlohmann::json;

namespace {

const char* kLog = "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt";

struct SimRun {
    std::unique_ptr<sim::SimMachine> m;
    int code = -1;
    std::string log;
};

SimRun Start(const std::vector<uint8_t>& block, std::vector<std::string> args, json patch = json::object(),
          std::vector<std::string> answers = {}) {
    SimRun r;
    sim::SimOptions o;
    o.answers = std::move(answers);
    r.m = test::MakeMachine(patch, o);
    // The archive steps pack and delete the text log on the way: the run's whole log is what was
    // appended to it.
    test::RecordingFiles files(r.m->files(), kLog);
    Platform p = r.m->platform();
    p.files = &files;
    r.code = RunKestrel(p, PackageView(block), std::move(args));
    r.log = files.written;
    return r;
}

std::vector<uint8_t> Package(uint8_t count, std::string digits = std::string(28, '0'), int8_t visual = 0, uint8_t language = 0) {
    auto b = test::TemplateBlock(0x391A);
    test::PutOptions(b, count, digits);
    b[pkg::kVisualStyle] = static_cast<uint8_t>(visual);
    b[pkg::kLanguage] = language;
    test::PutText(b, pkg::kNewFw + 8, std::string("R1.0\0\0\0\0", 8));
    test::PutText(b, pkg::kTitle, std::string("Kestrel SSD Update\0", 19));
    test::PutText(b, pkg::kVersion, std::string("v1.2.3.4\0", 9));
    return b;
}

std::string Digits(std::initializer_list<std::pair<int, char>> set) {
    std::string d(28, '0');
    for (auto [pos, c] : set) d[static_cast<size_t>(pos - 2)] = c;
    return d;
}

}  // namespace

TEST(Startup, TemplateEndsWithNoFirmware) {
    const SimRun r = Start(test::TemplateBlock(0x391A), {"/S"});
    EXPECT_EQ(r.code, 4);
    EXPECT_TRUE(r.m->ui().Boxes().empty()) << "a silent run shows no box";
    EXPECT_FALSE(r.m->ui().WindowEverShown());
    EXPECT_NE(r.log.find("] : GetModelName : gModelName=[Unknown] \r\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] : Init Vars done, OS: 14010000h\r\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] : Kestrel (v0.0.0.0)\r\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] : EXIT_ERROR: 0x4\r\n\r\n"), std::string::npos) << r.log;
    EXPECT_EQ(r.m->ui().Caption(), "Kestrel (v0.0.0.0)");
}

TEST(Startup, NoFirmwareBoxUnlessSilentWithoutUnattended) {
    struct Case {
        std::vector<std::string> args;
        std::string digits;
        int8_t visual;
        uint8_t language;
        const char* box;  // null: no box
    } cases[] = {
        {{}, std::string(28, '0'), 0, 0, "No F/W in executable !"},
        {{"/s"}, std::string(28, '0'), 0, 0, nullptr},
        {{"/S"}, Digits({{25, '1'}}), 0, 0, "No F/W in executable !"},  // unattended keeps the start-up boxes
        {{}, std::string(28, '0'), 20, 0, nullptr},                     // style 20 runs silent
        {{}, std::string(28, '0'), 0, 1, "執行檔並無韌體檔案存在 !"},
    };
    for (const Case& c : cases) {
        const SimRun r = Start(Package(0, c.digits, c.visual, c.language), c.args);
        EXPECT_EQ(r.code, 4);
        if (c.box) {
            ASSERT_EQ(r.m->ui().Boxes().size(), 1u);
            EXPECT_EQ(r.m->ui().Boxes()[0].text, c.box);
            EXPECT_EQ(r.m->ui().Boxes()[0].flags & 0xF, MB_OK_FLAG);
        } else {
            EXPECT_TRUE(r.m->ui().Boxes().empty());
        }
    }
}

TEST(Startup, PackageWithImagesGoesOnToTheDeviceObject) {
    const SimRun r = Start(Package(1), {"/S"});
    EXPECT_NE(r.log.find("] : GetModelName : gModelName=[Q7] \r\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] : New AtaDevice ...\r\n"), std::string::npos) << r.log;
    EXPECT_EQ(r.m->ui().Caption(), "Kestrel SSD Update (v1.2.3.4)");
    EXPECT_TRUE(r.m->ui().SystemMenu());
}

TEST(Startup, DeploymentCaptionHasNoSystemMenu) {
    const SimRun r = Start(Package(0, Digits({{20, '1'}})), {"/S"});
    EXPECT_EQ(r.m->ui().Caption(), "Updating firmware");
    EXPECT_FALSE(r.m->ui().SystemMenu());
}

TEST(Startup, UnreadableOptionsEndWith255) {
    auto b = Package(1);
    b[pkg::kOptionString + 5] = 'x';  // position 6
    const SimRun r = Start(b, {"/S"});
    EXPECT_EQ(r.code, 255);
    ASSERT_EQ(r.m->ui().Boxes().size(), 1u);  // the exception box is always shown
    EXPECT_NE(r.m->ui().Boxes()[0].text.find("position 6"), std::string::npos);
    EXPECT_EQ(r.log, "") << "nothing is logged before the options are read";
}

TEST(Startup, EmptyFirstRevisionIsAFailureNotSuccess) {
    auto b = Package(1);
    test::PutText(b, pkg::kNewFw + 8, std::string(8, '\0'));
    const SimRun r = Start(b, {"/S"});
    EXPECT_EQ(r.code, 255);
}

// A run that stops before its log starts has no log of its own: its archive steps must leave the
// archive and the left-over log of an earlier run as they are.
TEST(Startup, RunWithoutALogLeavesTheEarlierArchiveAlone) {
    const char* kZip = "C:\\Users\\Operator\\AppData\\Local\\KestrelLog.zip";
    auto unreadableOptions = Package(1);
    unreadableOptions[pkg::kOptionString + 5] = 'x';
    auto emptyFirstRevision = Package(1);
    test::PutText(emptyFirstRevision, pkg::kNewFw + 8, std::string(8, '\0'));
    for (const auto& block : {unreadableOptions, emptyFirstRevision}) {
        auto m = test::MakeMachine();
        ASSERT_TRUE(m->files().WriteWholeFile(kZip, "earlier archive"));
        ASSERT_TRUE(m->files().WriteWholeFile(kLog, "killed run line\r\n"));
        EXPECT_EQ(RunKestrel(m->platform(), PackageView(block), {"/S"}), 255);
        EXPECT_EQ(m->files().ReadWholeFile(kZip), std::optional<std::string>("earlier archive"));
        EXPECT_EQ(m->files().ReadWholeFile(kLog), std::optional<std::string>("killed run line\r\n"));
    }
}

TEST(Startup, SecondInstanceQuitsAtOnceAndLeavesTheLogAlone) {
    const SimRun r = Start(Package(1), {"/S"}, json{{"windows", {{"mutexes_held_elsewhere", {"ROOK_SCCM_TOOL_MUTEX"}}}}});
    EXPECT_EQ(r.code, 255);
    EXPECT_EQ(r.m->ui().BroughtToFront(), 1);
    EXPECT_EQ(r.log, "");
    EXPECT_FALSE(r.m->ui().WindowEverShown());
}

TEST(Startup, PowerBroadcastIsDeniedOnlyWhenGuarded) {
    auto m = test::MakeMachine();
    const auto block = Package(1);
    TKestrelMain main(m->platform(), PackageView(block), {"/S"});
    main.StartUp();
    EXPECT_EQ(main.WMPowerBroadcast(0), 0u);  // guard off: neither denied nor reported
    main.bPowerGuard = true;
    EXPECT_EQ(main.WMPowerBroadcast(0), 0x424D5144u);
    EXPECT_EQ(main.WMPowerBroadcast(2), 0u);  // PBT_APMQUERYSUSPENDFAILED passes
    EXPECT_TRUE(m->ui().Boxes().empty());
    const std::string log = m->files().ReadWholeFile(kLog).value_or("");
    EXPECT_NE(log.find("Firmware is updating, all power change events are denied !"), std::string::npos);
}

TEST(Startup, LogLinesBeforeTheOptionsAreDropped) {
    auto m = test::MakeMachine();
    const auto block = Package(1);
    TKestrelMain main(m->platform(), PackageView(block), {});
    main.WriteLog("too early");
    EXPECT_FALSE(m->files().FileExists(kLog));
}

// An exception that escapes the start-up is shown in the application's box (also in silent runs),
// the window's end still runs, and the process returns the code the run had reached.
TEST(Startup, EscapingExceptionIsShownAndEndsWithTheCodeReached) {
    struct Case {
        const char* call;
        int code;
        bool logged;  // the options were read: the run's log holds its end
    } cases[] = {
        {"GetVersionExA", 255, false},       // while the window object is built
        {"VerifyVersionInfoA", 255, false},  // in the start-up, before the options
        {"IsAdministratorMember", 11, true}, // after "Init Vars done"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        const SimRun r = Start(Package(1), {"/S"}, json{{"windows", {{"throw_in", {c.call}}}}});
        EXPECT_EQ(r.code, c.code);
        ASSERT_EQ(r.m->ui().Boxes().size(), 1u);
        EXPECT_EQ(r.m->ui().Boxes()[0].text, std::string("Access violation in ") + c.call + ".");
        EXPECT_EQ(r.m->ui().Boxes()[0].flags, MB_OK_FLAG | MB_ICONERROR_FLAG);
        EXPECT_FALSE(r.m->ui().WindowEverShown());
        if (c.logged) {
            EXPECT_NE(r.log.find("] : New AtaDevice ...\r\n"), std::string::npos) << r.log;
            EXPECT_NE(r.log.find(Fmt("] : EXIT_ERROR: 0x%X\r\n", c.code)), std::string::npos) << r.log;
            EXPECT_EQ(r.log.find("bNAdmin"), std::string::npos) << r.log;
        } else {
            EXPECT_EQ(r.log, "");
        }
    }
}

// The options reader leaves 0 before anything is decided: an exception right then must not turn
// into "success" for a deployment system.
TEST(Startup, ExceptionWhileTheOptionsAreReadIsNeverSuccess) {
    struct ThrowingTemp : test::RecordingFiles {
        using RecordingFiles::RecordingFiles;
        std::string GetTempPath() override { throw std::runtime_error("no temporary folder"); }
    };
    auto m = test::MakeMachine();
    ThrowingTemp files(m->files(), kLog);
    Platform p = m->platform();
    p.files = &files;
    EXPECT_EQ(RunKestrel(p, PackageView(Package(1)), {"/S"}), 255);
    ASSERT_EQ(m->ui().Boxes().size(), 1u);
    EXPECT_EQ(m->ui().Boxes()[0].text, "no temporary folder.");
}

TEST(Startup, NotAnAdministratorEndsWith1) {
    struct Case {
        std::vector<std::string> args;
        std::string digits;
        bool box;
    } cases[] = {
        {{}, std::string(28, '0'), true},
        {{"/S"}, std::string(28, '0'), false},
        {{"/S"}, Digits({{25, '1'}}), true},  // unattended keeps the start-up boxes
    };
    for (const Case& c : cases) {
        const SimRun r = Start(Package(1, c.digits), c.args, json{{"windows", {{"administrator", false}}}});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.log.find("] : bNAdmin !\r\n"), std::string::npos) << r.log;
        EXPECT_EQ(r.log.find("Scan Device"), std::string::npos) << r.log;
        ASSERT_EQ(r.m->ui().Boxes().size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(r.m->ui().Boxes()[0].text, "Access denied ! You must have administrator privilege to flash SSD.");
            EXPECT_EQ(r.m->ui().Boxes()[0].title, "Error ...");
        }
    }
}
