#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/UpdateRules.h"

using namespace kestrel;

namespace {

struct Lines {
    std::vector<std::string> v;
    LogSink sink() {
        return [this](std::string_view s) { v.emplace_back(s); };
    }
    bool Has(const std::string& s) const {
        for (const auto& l : v)
            if (l == s) return true;
        return false;
    }
};

}  // namespace

TEST(UpdateRules, RevTFamily) {
    struct Case {
        const char* rev;
        bool family;
    } cases[] = {
        {"ABCDQT01", true}, {"ABCDQ001", true}, {"ABCRD001", true}, {"ABCTT001", true}, {"ABCBG001", true},
        {"ABCDEV01", true},   // 6th character V
        {"ABC DQ01", false},  // the piece at 4-5 is " D", trimmed "D"
        {"ABCXYZ01", false}, {"ABC", false}, {"", false}, {"ABCdq001", false},
        {"ABCRD", true},      // a piece cut at the end of the text still counts
    };
    for (const auto& c : cases) EXPECT_EQ(IsRevTFamily(c.rev), c.family) << c.rev;
}

TEST(UpdateRules, SlotChoice) {
    struct Case {
        const char* name;
        std::vector<std::string> items;
        std::string target;
        int32_t current;
        int32_t slot;
        std::vector<std::string> lines;  // lines that must be logged
    } cases[] = {
        {"target of the rev.t family goes to slot 1", {"Default", "1. KN9R0100", "2. NA"}, "KN9DQT01", 3, 1, {"rev.t -> slot1"}},
        {"first decisive slot: NA before the equal one", {"Default", "1. NA", "2. KN9R0200", "3. KN9R0100"}, "KN9R0200", 0, 1,
         {"slotNO+slotFW(sTmp)=[1. NA], sCurrentSlotFw=[NA]", "result: rev.na slot1", "iFlashSlot=1, "}},
        {"slot holding the target", {"Default", "1. KN9R0100", "2. KN9R0200", "3. NA"}, " KN9R0200 ", 0, 2,
         {"assign smallest sTmpFw=KN9R0100 slot1", "result: rev.eq slot2", "iFlashSlot=2, "}},
        {"slot holding a rev.t revision", {"Default", "1. KN9R0100", "2. KN9DQ001"}, "KN9R0200", 0, 2, {"result: rev.t slot2"}},
        {"only older revisions: the smallest", {"Default", "1. KN9R0150", "2. KN9R0100", "3. KN9R0120", "4. KN9R0100"}, "KN9R0200", 0, 2,
         {"assign smallest sTmpFw=KN9R0150 slot1", "smaller , assign sTmpFw=KN9R0100 slot2", "iFlashSlot=2, "}},
        {"no slots: a slot out of range becomes 1", {"Default"}, "KN9R0200", 9, 1, {"iFlashSlot=1, "}},
        {"no slots: a slot in range stays", {"Default"}, "KN9R0200", 4, 4, {"iFlashSlot=4, "}},
    };
    for (const auto& c : cases) {
        Lines log;
        EXPECT_EQ(ChooseFirmwareSlot(c.items, c.target, c.current, log.sink()), c.slot) << c.name;
        for (const auto& l : c.lines) EXPECT_TRUE(log.Has(l)) << c.name << ": " << l;
    }
}

TEST(UpdateRules, FatalDefCodes) {
    struct Case {
        const char def[9];
        bool fatal;
    } cases[] = {
        {"KV315011", true}, {"KV415081", true}, {"KV515031", true}, {"KV615041", true},
        {"KV315001", false},  // 7th character 0
        {"KV315091", false},  // 9
        {"KV715011", false}, {"KV3150A1", false}, {"kv315011", false}, {"\0\0\0\0\0\0\0", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasFatalDefCode(c.def), c.fatal) << c.def;
}

TEST(UpdateRules, FlashErrorTexts) {
    EXPECT_EQ(FlashErrorText(1, 0x51), "ERROR: ATACMD_ERR, STATUS_REGISTER:0x51");
    EXPECT_EQ(FlashErrorText(2, 7), "There is something wrong, please check your drive !");
    EXPECT_EQ(FlashErrorText(0xFE, 0x79), "ERROR: ATACMD_FAIL, ERROR_CODE: 0x79");
    EXPECT_EQ(FlashErrorText(0xFF, 3), "ERROR: ATACMD_SYS_NOT_SUPPORT");
    EXPECT_EQ(FlashErrorText(3, 0), "");
}

// The animation: where each stage holds, how the interval slows, and the jumps of the last stages.
TEST(UpdateRules, ProgressStages) {
    struct Case {
        int32_t stage, p;
        double e;
        bool deploy;
        bool hold;
        int32_t next;
        uint32_t interval;
    } cases[] = {
        {0, 10, 0, false, false, 11, 100}, {7, 99, 0, false, false, 100, 100},
        {1, 40, 0, false, false, 41, 100}, {1, 41, 0, false, false, 42, 500}, {1, 56, 0, false, false, 57, 1000},
        {1, 75, 0, false, false, 76, 1000}, {1, 76, 0, false, true, 76, 100},
        {2, 61, 0, false, false, 62, 1000}, {2, 85, 0, false, false, 86, 1000}, {2, 86, 0, false, true, 86, 100},
        {3, 30, 11, false, false, 81, 100}, {3, 30, 9, false, false, 31, 100}, {3, 61, 11, false, false, 62, 500},
        {3, 81, 0, false, false, 82, 1000}, {3, 91, 0, false, true, 91, 100},
        {4, 50, 9, false, false, 51, 500}, {4, 91, 0, false, false, 92, 1000}, {4, 96, 0, false, true, 96, 100},
        {5, 20, 3.5, false, false, 100, 100}, {5, 20, 3.5, true, false, 21, 100}, {5, 20, 10.5, true, false, 100, 100},
        {5, 100, 0, false, false, 100, 100},
    };
    for (const auto& c : cases) {
        const ProgressTick t = NextProgress(c.stage, c.p, c.e, c.deploy, 100);
        EXPECT_EQ(t.hold, c.hold) << c.stage << "/" << c.p;
        EXPECT_EQ(t.position, c.next) << c.stage << "/" << c.p;
        EXPECT_EQ(t.interval, c.interval) << c.stage << "/" << c.p;
    }
    // However long the download takes, stage 1 stops at 76 and stage 2 at 86.
    for (int32_t stage : {1, 2}) {
        ProgressTick t{false, 0, 100};
        for (int i = 0; i < 500; ++i) t = NextProgress(stage, t.position, i, false, t.interval);
        EXPECT_EQ(t.position, stage == 1 ? 76 : 86);
    }
}
