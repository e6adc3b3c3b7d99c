#include <gtest/gtest.h>

#include "app/Entry.h"
#include "app/KestrelMain.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace {

constexpr uint32_t kPbtApmQuerySuspend = 0;
const char* kDenied = "Firmware is updating, all power change events are denied !";
const char* kLog = "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt";

std::vector<uint8_t> OneImagePackage() {
    auto b = test::TemplateBlock(0x391A);
    test::PutOptions(b, 1, std::string(28, '0'));
    test::PutText(b, pkg::kNewFw + 8, std::string("R1.0\0\0\0\0", 8));
    return b;
}

}  // namespace

// The main window's handler is the window's for as long as the run lasts: a suspend query that
// arrives while the start-up's box is open reaches it (and, unguarded, is neither denied nor
// reported), and after the run nothing is left to reach.
TEST(PowerBroadcastHook, InstalledForTheRunAndClearedAfterIt) {
    auto m = test::MakeMachine();
    bool setDuringRun = false;
    uint32_t answer = 99;
    size_t boxesBefore = 0;
    m->ui().WhileBoxShown([&] {
        setDuringRun = m->ui().PowerBroadcastHandlerSet();
        boxesBefore = m->ui().Boxes().size();
        answer = m->ui().DeliverPowerBroadcast(kPbtApmQuerySuspend);
    });
    EXPECT_EQ(RunKestrel(m->platform(), PackageView(test::TemplateBlock(0x391A)), {}), 4);
    ASSERT_EQ(m->ui().Boxes().size(), 1u);
    EXPECT_EQ(m->ui().Boxes()[0].text, "No F/W in executable !");
    EXPECT_TRUE(setDuringRun);
    EXPECT_EQ(answer, 0u);
    EXPECT_EQ(boxesBefore, 0u);
    EXPECT_FALSE(m->ui().PowerBroadcastHandlerSet());
}

// What the handler answers, delivered as Windows delivers it: denied with a topmost box, or in a
// silent run a log line, only while the guard is up and never for PBT_APMQUERYSUSPENDFAILED.
TEST(PowerBroadcastHook, AnswersAsTheGuardSays) {
    struct Case {
        bool silent, guard;
        uint32_t event;
        uint32_t answer;
        bool box, logged;
    } cases[] = {
        {false, true, kPbtApmQuerySuspend, kBroadcastQueryDeny, true, false},
        {true, true, kPbtApmQuerySuspend, kBroadcastQueryDeny, false, true},
        {false, true, 4, kBroadcastQueryDeny, true, false},  // PBT_APMSUSPEND
        {false, true, kPbtApmQuerySuspendFailed, 0, false, false},
        {true, true, kPbtApmQuerySuspendFailed, 0, false, false},
        {false, false, kPbtApmQuerySuspend, 0, false, false},
        {true, false, kPbtApmQuerySuspend, 0, false, false},
    };
    const auto block = OneImagePackage();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "silent " << c.silent << ", guard " << c.guard << ", event " << c.event);
        auto m = test::MakeMachine();
        {
            TKestrelMain main(m->platform(), PackageView(block), c.silent ? std::vector<std::string>{"/S"} : std::vector<std::string>{});
            main.StartUp();
            main.bPowerGuard = c.guard;
            const size_t boxes = m->ui().Boxes().size();
            EXPECT_EQ(m->ui().DeliverPowerBroadcast(c.event), c.answer);
            ASSERT_EQ(m->ui().Boxes().size(), boxes + (c.box ? 1 : 0));
            if (c.box) {
                const sim::ShownBox& b = m->ui().Boxes().back();
                EXPECT_EQ(b.text, kDenied);
                EXPECT_EQ(b.title, "Warning");
                EXPECT_EQ(b.flags, MB_OK_FLAG | MB_ICONINFORMATION_FLAG | MB_TOPMOST_FLAG);
            }
            const std::string log = m->files().ReadWholeFile(kLog).value_or("");
            EXPECT_EQ(log.find(std::string(kDenied) + "\r\n") != std::string::npos, c.logged) << log;
        }
        EXPECT_FALSE(m->ui().PowerBroadcastHandlerSet()) << "the handler outlived the window";
    }
}
