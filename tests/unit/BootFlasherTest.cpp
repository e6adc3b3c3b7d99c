// InstallBootFlasher over the simulated machine: which flasher each Windows gets, how its keys are
// patched, where it is written, what BootExecute holds afterwards, and the failure results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/BootFlasher.h"
#include "support/SimFixture.h"

using namespace kestrel;
using nlohmann::json;

namespace {

using test::MultiSz;

const std::string kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A stand-in flasher: its slot's name, then every key with the room the flasher reserves after it.
std::string StandIn(const std::string& name) {
    return name + "|UPDATEBOOT=_|B_PREFORMAT=_|A_PREFORMAT=_|PROTOCOL=__|SSDREBOOT=_|_____FW=________|_FW_EXT=________|"
                  "DRIVECOUNT=____|VENDID1=" +
           std::string(40, '.') + "|FW1=________|SN1=" + std::string(20, '.') + "|";
}

struct Install {
    std::vector<std::string> programs;  // by flasher slot
    std::vector<ProgramBytes> table;
    std::vector<std::string> log;

    explicit Install(std::vector<std::string> p = {}) : programs(std::move(p)) {
        if (programs.empty())
            for (const char* n : kBootFlasherSlotNames) programs.push_back(StandIn(n));
        for (const std::string& s : programs) table.push_back({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
    }
    uint32_t Run(sim::SimMachine& m, const std::string& flasherName = "NtMFlash.exe") {
        OSInfo os(m.platform());
        return InstallBootFlasher(m.platform(), os, table.data(), flasherName, true, false, true, false, 16, "KV31502",
                                  "KS2.00A", "KS6A26130000123", "KS6R0100", "KESTREL KS600 512GB", "FW.bin",
                                  [this](std::string_view l) { log.emplace_back(l); });
    }
    bool Logged(const std::string& part) const {
        for (const std::string& l : log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
};

std::optional<std::string> FileAt(sim::SimMachine& m, const std::string& path) {
    const auto all = m.files().Snapshot();
    for (const auto& [p, bytes] : all)
        if (sim::NormaliseWindowsPath(p) == path) return bytes;
    return std::nullopt;
}

std::vector<uint8_t> BootExecute(sim::SimMachine& m) {
    const auto v = m.registry().Get(kSessionManager, "BootExecute");
    if (!v) return {};
    EXPECT_EQ(v->type, REG_MULTI_SZ_TYPE);
    return v->data;
}

}  // namespace

// The flasher slot for each Windows, for a 32-bit process, a 32-bit process under WOW64 and a
// 64-bit process; a WOW64 process's System32 is SysWOW64, so its flasher lands there.
TEST(InstallBootFlasher, ChoosesTheSlotByOsCodeAndWindowsWidth) {
    struct Os {
        const char* name;
        json windows;
        uint32_t topByte;
        const char* x86;
        const char* x64;
    };
    const Os systems[] = {
        {"XP", {{"version", {{"major", 5}, {"minor", 1}, {"build", 2600}}}}, 0x07, "EXE_XP_X86", "EXE_XP_X86"},
        {"2003", {{"version", {{"major", 5}, {"minor", 2}, {"build", 3790}, {"product_type", 3}}}}, 0x08, "EXE_2003_X86", "EXE_2003_X64"},
        {"2003 R2", {{"version", {{"major", 5}, {"minor", 2}, {"build", 3790}, {"product_type", 3}}}, {"server_r2", 1}}, 0x09,
         "EXE_2003_X86", "EXE_2003_X64"},
        {"Vista", {{"version", {{"major", 6}, {"minor", 0}, {"build", 6002}}}}, 0x0A, "EXE_2008_X86", "EXE_2008_X64"},
        {"2008", {{"version", {{"major", 6}, {"minor", 0}, {"build", 6002}, {"product_type", 3}}}}, 0x0C, "EXE_2008_X86",
         "EXE_2008_X64"},
        {"2008 R2", {{"version", {{"major", 6}, {"minor", 1}, {"build", 7601}, {"product_type", 3}}}}, 0x0D, "EXE_2008_X86",
         "EXE_2008_X64"},
        {"7", {{"version", {{"major", 6}, {"minor", 1}, {"build", 7601}}}}, 0x0E, "EXE_WIN7_X86", "EXE_WIN7_X64"},
        {"8", {{"version", {{"major", 6}, {"minor", 2}, {"build", 9200}}}}, 0x10, "EXE_WIN7_X86", "EXE_WIN7_X64"},
        {"10", json::object(), 0x14, "EXE_WIN7_X86", "EXE_WIN7_X64"},
    };
    struct Width {
        const char* name;
        bool process64;
        bool wow64;
        const char* flasherPath;
    };
    const Width widths[] = {
        {"32-bit", false, false, "C:\\Windows\\system32\\NtMFlash.exe"},
        {"WOW64", false, true, "C:\\Windows\\SysWOW64\\NtMFlash.exe"},
        {"64-bit", true, false, "C:\\Windows\\system32\\NtMFlash.exe"},
    };
    for (const Os& os : systems) {
        for (const Width& w : widths) {
            SCOPED_TRACE(std::string("Windows ") + os.name + ", " + w.name);
            json win = os.windows;
            // A Windows older than 8.1 reports its own version to the version search.
            if (win.contains("version")) win["reported_version"] = win["version"];
            win["process_64bit"] = w.process64;
            win["wow64"] = w.wow64;
            auto m = test::MakeMachine({{"windows", win}});
            OSInfo info(m->platform());
            ASSERT_EQ(info.GetOsVersionCode() >> 24, os.topByte);
            Install in;
            EXPECT_EQ(in.Run(*m), BOOT_INSTALLED);
            const auto flasher = FileAt(*m, w.flasherPath);
            ASSERT_TRUE(flasher);
            const std::string want = (w.process64 || w.wow64) ? os.x64 : os.x86;
            EXPECT_EQ(flasher->substr(0, flasher->find('|')), want);
            EXPECT_EQ(flasher->size(), StandIn(want).size()) << "the slot's full length";
        }
    }
}

TEST(InstallBootFlasher, PatchesTheFirstOccurrenceOfEachKeyInsideTheSlot) {
    struct Case {
        const char* name;
        std::string slot;
        std::string patched;
        const char* logged;
    };
    const std::string all = StandIn("S");
    const Case cases[] = {
        {"every key", all,
         "S|UPDATEBOOT=0|B_PREFORMAT=1|A_PREFORMAT=0|PROTOCOL=16|SSDREBOOT=1|_____FW=KS2.00A_|_FW_EXT=KV31502_|DRIVECOUNT=0001|"
         "VENDID1=KESTREL KS600 512GB.....................|FW1=KS6R0100|SN1=KS6A26130000123.....|",
         nullptr},
        {"a key twice", "PROTOCOL=__|PROTOCOL=__|", "PROTOCOL=16|PROTOCOL=__|", nullptr},
        {"a value longer than the rest of the slot", "SN1=....|", "SN1=....|", "[SN1=] (15 characters) does not fit"},
        {"a missing key", "nothing to patch here", "nothing to patch here", "key [UPDATEBOOT=] not in the flasher"},
        {"a value at the very end", "SSDREBOOT=", "SSDREBOOT=", "[SSDREBOOT=] (1 characters) does not fit"},
        {"a key cut by the end", "XYZ_____F", "XYZ_____F", "key [_____FW=] not in the flasher"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = test::MakeMachine();
        Install in({c.slot, c.slot, c.slot, c.slot, c.slot, c.slot, c.slot});
        EXPECT_EQ(in.Run(*m), BOOT_INSTALLED);
        EXPECT_EQ(FileAt(*m, "C:\\Windows\\system32\\NtMFlash.exe"), c.patched);
        if (c.logged) {
            EXPECT_TRUE(in.Logged(c.logged));
        }
    }
}

TEST(InstallBootFlasher, KeepsOtherBootExecuteEntriesAndAddsOursOnce) {
    struct Case {
        const char* name;
        json before;  // null: no value
        std::vector<uint8_t> after;
    };
    const Case cases[] = {
        {"the Windows default", json::array({"autocheck autochk *"}), MultiSz({"autocheck autochk *", "NtMFlash FW.bin"})},
        {"other programs' entries and an earlier entry of ours",
         json::array({"autocheck autochk *", "sdnclean64.exe", "NtMFlash OLD.bin", "vendor-check /q"}),
         MultiSz({"autocheck autochk *", "sdnclean64.exe", "vendor-check /q", "NtMFlash FW.bin"})},
        {"ours twice, in another case", json::array({"ntmflash fw.bin", "autocheck autochk *", "NTMFLASH FW.bin"}),
         MultiSz({"autocheck autochk *", "NtMFlash FW.bin"})},
        {"without autocheck", json::array({"other.exe"}), MultiSz({"autocheck autochk *", "other.exe", "NtMFlash FW.bin"})},
        {"no value", nullptr, MultiSz({"autocheck autochk *", "NtMFlash FW.bin"})},
        {"a plain string", "autocheck autochk /p \\??\\C:", MultiSz({"autocheck autochk *", "autocheck autochk /p \\??\\C:", "NtMFlash FW.bin"})},
        {"a list whose last string lacks its zeros", {{"type", "REG_MULTI_SZ"}, {"hex", "6f7468657200782e657865"}},
         MultiSz({"autocheck autochk *", "other", "x.exe", "NtMFlash FW.bin"})},
        {"a list with an empty string inside: what follows it is not part of the list",
         {{"type", "REG_MULTI_SZ"}, {"hex", "61000062000000"}}, MultiSz({"autocheck autochk *", "a", "NtMFlash FW.bin"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json keys = {{"HKLM\\" + kSessionManager, {{"BootExecute", c.before}}}};
        auto m = test::MakeMachine({{"windows", {{"registry", keys}}}});
        Install in;
        EXPECT_EQ(in.Run(*m), BOOT_INSTALLED);
        EXPECT_EQ(BootExecute(*m), c.after);
        // A second installation changes nothing.
        EXPECT_EQ(in.Run(*m), BOOT_INSTALLED);
        EXPECT_EQ(BootExecute(*m), c.after);
    }
    // The key is opened with all access, as the installation asks for.
    auto m = test::MakeMachine();
    Install().Run(*m);
    ASSERT_FALSE(m->registry().Requests().empty());
    EXPECT_EQ(m->registry().Requests().back(), std::make_pair(kSessionManager, KEY_ALL_ACCESS_MASK));
    EXPECT_EQ(m->registry().OpenHandles(), 0u);
}

TEST(InstallBootFlasher, FailureResults) {
    struct Case {
        const char* name;
        json windows;
        bool protectFlasher;
        bool emptySlot;
        uint32_t result;
        bool flasherWritten;
    };
    const json denyOpen = {{"registry_faults", {{"HKLM\\" + kSessionManager, {{"open_error", 5}}}}}};
    const json denySet = {{"registry_faults", {{"HKLM\\" + kSessionManager, {{"set_error", 5}}}}}};
    const Case cases[] = {
        {"flasher file cannot be created", json::object(), true, false, BOOT_FLASHER_NOT_WRITTEN, false},
        {"Session Manager key does not open", denyOpen, false, false, BOOT_KEY_NOT_OPENED, true},
        {"BootExecute cannot be set", denySet, false, false, BOOT_EXECUTE_NOT_SET, true},
        {"no flasher for this Windows in the package", json::object(), false, true, BOOT_FLASHER_NOT_WRITTEN, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = test::MakeMachine({{"windows", c.windows}});
        if (c.protectFlasher) m->files().SetWriteProtected("C:\\Windows\\system32\\NtMFlash.exe");
        Install in;
        if (c.emptySlot) in.table[BOOT_WIN7_X64] = {nullptr, 0};
        EXPECT_EQ(in.Run(*m), c.result);
        EXPECT_EQ(FileAt(*m, "C:\\Windows\\system32\\NtMFlash.exe").has_value(), c.flasherWritten);
        EXPECT_EQ(BootExecute(*m), MultiSz({"autocheck autochk *"})) << "BootExecute is left as it was";
        EXPECT_EQ(m->registry().OpenHandles(), 0u);
    }
    // A list too large to read cannot be kept, so it is not replaced either.
    {
        const std::string huge(70000, 'x');
        auto big = test::MakeMachine({{"windows", {{"registry", {{"HKLM\\" + kSessionManager, {{"BootExecute", json::array({huge})}}}}}}}});
        Install in;
        EXPECT_EQ(in.Run(*big), BOOT_EXECUTE_NOT_SET);
        const std::vector<uint8_t> kept = BootExecute(*big);
        EXPECT_EQ(kept.size(), huge.size() + 2);
        EXPECT_TRUE(in.Logged("BootExecute cannot be read (234), not changed"));
    }
    // Nothing to install: no flasher name, or no slot table.
    auto m = test::MakeMachine();
    Install in;
    EXPECT_EQ(in.Run(*m, ""), BOOT_INSTALLED);
    OSInfo os(m->platform());
    EXPECT_EQ(InstallBootFlasher(m->platform(), os, nullptr, "NtMFlash.exe", false, false, false, false, 1, "", "", "", "", "",
                                 "FW.bin", nullptr),
              BOOT_INSTALLED);
    EXPECT_FALSE(FileAt(*m, "C:\\Windows\\system32\\NtMFlash.exe"));
    EXPECT_EQ(BootExecute(*m), MultiSz({"autocheck autochk *"}));
}
