#include <gtest/gtest.h>

#include "sim/SimRegistry.h"
#include "sim/SimSystem.h"
#include "support/OSInfo.h"

using namespace kestrel;
using sim::SimVersion;

namespace {

struct Machine {
    sim::SimSystem system;
    sim::SimRegistry registry{std::nullopt};
    Platform platform() {
        Platform p;
        p.system = &system;
        p.registry = &registry;
        return p;
    }
    explicit Machine(sim::SimSystemConfig c) : system(std::move(c)) {}
};

SimVersion V(uint32_t platform, uint32_t major, uint32_t minor, uint8_t productType, uint16_t suite = 0, uint16_t sp = 0,
             std::string csd = "") {
    SimVersion v;
    v.platform = platform;
    v.major = major;
    v.minor = minor;
    v.build = 1000;
    v.productType = productType;
    v.suite = suite;
    v.spMajor = sp;
    v.csd = std::move(csd);
    return v;
}

struct CodeCase {
    const char* name;
    SimVersion reported;
    std::optional<SimVersion> rtl;
    int32_t serverR2;
    bool verifyFails;
    const char* productTypeText;  // registry fallback value, or null for none
    bool q246009;
    uint32_t code;
};

class OsVersionCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(OsVersionCode, FromTheVersionFields) {
    const CodeCase& c = GetParam();
    sim::SimSystemConfig cfg;
    cfg.reported = c.reported;
    cfg.rtl = c.rtl;
    cfg.serverR2 = c.serverR2;
    cfg.verifyVersionFails = c.verifyFails;
    Machine m(cfg);
    if (c.productTypeText) m.registry.Put("SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType",
                                          RegValue{REG_SZ_TYPE, std::vector<uint8_t>(c.productTypeText, c.productTypeText + strlen(c.productTypeText) + 1)});
    if (c.q246009) m.registry.Put("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", "Installed", RegValue{REG_DWORD_TYPE, {1, 0, 0, 0}});
    OSInfo os(m.platform());
    EXPECT_EQ(os.GetOsVersionCode(), c.code) << std::hex << os.GetOsVersionCode();
}

const SimVersion kWin10 = V(2, 10, 0, 1, 0x100);

INSTANTIATE_TEST_SUITE_P(
    Table, OsVersionCode,
    ::testing::Values(
        CodeCase{"Win7ProSp1", V(2, 6, 1, 1, 0x100, 1), std::nullopt, 0, false, nullptr, false, 0x0E011000},
        CodeCase{"Win10ReportedAs62", V(2, 6, 2, 1, 0x100), kWin10, 0, false, nullptr, false, 0x14010000},
        CodeCase{"Win10Direct", kWin10, kWin10, 0, false, nullptr, false, 0x14010000},
        CodeCase{"Win8WithoutRtl", V(2, 6, 2, 1, 0x100), std::nullopt, 0, false, nullptr, false, 0x10010000},
        CodeCase{"Win8Home", V(2, 6, 2, 1, 0x300), std::nullopt, 0, false, nullptr, false, 0x10020000},
        CodeCase{"Server2016ReportedAs62", V(2, 6, 2, 3, 0x110), V(2, 10, 0, 3), 0, false, nullptr, false, 0x13070000},
        CodeCase{"Server2012R2Enterprise", V(2, 6, 3, 3, 0x112), std::nullopt, 0, false, nullptr, false, 0x11040000},
        CodeCase{"VistaBusiness", V(2, 6, 0, 1, 0, 2), std::nullopt, 0, false, nullptr, false, 0x0A012000},
        CodeCase{"Server2008", V(2, 6, 0, 3, 0), std::nullopt, 0, false, nullptr, false, 0x0C070000},
        CodeCase{"XpHomeSp3", V(2, 5, 1, 1, 0x200, 3), std::nullopt, 0, false, nullptr, false, 0x07023000},
        CodeCase{"Win2000Server", V(2, 5, 0, 3, 0, 4), std::nullopt, 0, false, nullptr, false, 0x06074000},
        CodeCase{"Win2000Datacenter", V(2, 5, 0, 3, 0x80), std::nullopt, 0, false, nullptr, false, 0x06080000},
        CodeCase{"Server2003Datacenter", V(2, 5, 2, 3, 0x82), std::nullopt, 0, false, nullptr, false, 0x08080000},
        CodeCase{"Server2003Enterprise", V(2, 5, 2, 2, 0x02), std::nullopt, 0, false, nullptr, false, 0x08040000},
        CodeCase{"Server2003BladeExactly", V(2, 5, 2, 3, 0x400), std::nullopt, 0, false, nullptr, false, 0x08110000},
        CodeCase{"Server2003BladeAndMore", V(2, 5, 2, 3, 0x410), std::nullopt, 0, false, nullptr, false, 0x08070000},
        CodeCase{"Server2003R2", V(2, 5, 2, 3, 0), std::nullopt, 1, false, nullptr, false, 0x09070000},
        // Windows 9x and NT 4 have no VerifyVersionInfoA: they always take the GetVersionExA road.
        CodeCase{"Nt4WorkstationSp6Hotfix", V(2, 4, 0, 1, 0, 6, "Service Pack 6"), std::nullopt, 0, true, "WinNT", true, 0x05136400},
        CodeCase{"Nt4WorkstationSp6", V(2, 4, 0, 1, 0, 6, "service pack 6"), std::nullopt, 0, true, "WinNT", false, 0x05130000},
        CodeCase{"Nt4ServerSp6a", V(2, 4, 0, 3, 0, 6, "Service Pack 6a"), std::nullopt, 0, true, "ServerNT", true, 0x05040000},
        CodeCase{"Win95Osr2", V(1, 4, 0, 0, 0, 0, " B"), std::nullopt, 0, true, nullptr, false, 0x02030000},
        CodeCase{"Win95", V(1, 4, 0, 0, 0, 0, ""), std::nullopt, 0, true, nullptr, false, 0x02000000},
        CodeCase{"Win98Se", V(1, 4, 10, 0, 0, 0, " A "), std::nullopt, 0, true, nullptr, false, 0x03030000},
        CodeCase{"WinMe", V(1, 4, 90, 0), std::nullopt, 0, true, nullptr, false, 0x04000000},
        CodeCase{"Unknown9x", V(1, 4, 50, 0), std::nullopt, 0, true, nullptr, false, 0},
        // The search path: a workstation of major version 4 gets the whole NT 4 workstation code.
        CodeCase{"Nt4WorkstationBySearch", V(2, 4, 0, 1, 0, 6), std::nullopt, 0, false, nullptr, false, 0x05136000},
        CodeCase{"Win32s", V(0, 3, 10, 0), std::nullopt, 0, false, nullptr, false, 0x01000000},
        CodeCase{"PlatformAbove2", V(3, 10, 0, 1), std::nullopt, 0, false, nullptr, false, 0},
        // The search fails: the basic record has no product type, so a workstation reads as "other",
        // and the edition comes from the registry.
        CodeCase{"FallbackWinNT", V(2, 6, 1, 1, 0x100, 1), std::nullopt, 0, true, "WinNT", false, 0x0D130000},
        CodeCase{"FallbackServerNT", V(2, 6, 3, 3), std::nullopt, 0, true, "SERVERNT", false, 0x11040000},
        CodeCase{"FallbackLanmanNT", V(2, 5, 2, 2), std::nullopt, 0, true, "LanmanNT", false, 0x08070000},
        CodeCase{"FallbackWithoutRegistry", V(2, 6, 1, 1), std::nullopt, 0, true, nullptr, false, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// Windows 8.1, Server 2012 R2 and Windows 10 all answer the search as 6.2 to this program (it has
// no compatibility manifest entry); RtlGetVersion tells them apart. Only major version 10 moves the
// code to 14h/13h: 8.1 and 2012 R2 keep the 6.2 codes (10h/0Fh), as does a failing RtlGetVersion.
TEST(OSInfo, ReportedAs62ThroughRtlGetVersion) {
    struct Case {
        const char* name;
        uint8_t productType;
        std::optional<SimVersion> rtl;
        bool rtlFails;
        uint32_t code;
    } cases[] = {
        {"Windows 8", 1, V(2, 6, 2, 1), false, 0x10010000},
        {"Server 2012", 3, V(2, 6, 2, 3), false, 0x0F070000},
        {"Windows 8.1", 1, V(2, 6, 3, 1), false, 0x10010000},
        {"Server 2012 R2", 3, V(2, 6, 3, 3), false, 0x0F070000},
        {"Windows 10", 1, V(2, 10, 0, 1), false, 0x14010000},
        {"Server 2016", 3, V(2, 10, 0, 3), false, 0x13070000},
        {"RtlGetVersion fails", 1, V(2, 10, 0, 1), true, 0x10010000},
        {"RtlGetVersion fails, server", 3, V(2, 10, 0, 3), true, 0x0F070000},
        {"no RtlGetVersion", 1, std::nullopt, false, 0x10010000},
    };
    for (const Case& c : cases) {
        sim::SimSystemConfig cfg;
        cfg.reported = V(2, 6, 2, c.productType, 0x100);
        cfg.rtl = c.rtl;
        cfg.rtlFails = c.rtlFails;
        Machine m(cfg);
        OSInfo os(m.platform());
        EXPECT_EQ(os.GetOsVersionCode(), c.code) << c.name << ": " << std::hex << os.GetOsVersionCode();
    }
}

TEST(OSInfo, SearchUsesFewQueriesPerField) {
    sim::SimSystemConfig cfg;
    cfg.reported = V(2, 10, 0, 1, 0x100);
    cfg.reported.build = 19045;
    Machine m(cfg);
    OSInfo os(m.platform());
    os.GetOsVersionCode();
    // Bisection: at most two queries per halving of each field's range.
    EXPECT_LT(m.system.VerifyCalls(), 2 * (32 + 32 + 5 + 32 + 16 + 16 + 16 + 8) + 16);
}

TEST(OSInfo, NtFlagsWow64AndAdministrator) {
    sim::SimSystemConfig cfg;
    cfg.reported = V(2, 4, 0, 1);
    cfg.wow64 = std::nullopt;  // kernel32 without IsWow64Process
    cfg.process64 = false;
    cfg.administrator = false;
    Machine m(cfg);
    OSInfo os(m.platform());
    EXPECT_TRUE(os.bIsNT);
    EXPECT_TRUE(os.bIsNT4);
    EXPECT_FALSE(os.IsWow64());
    EXPECT_FALSE(os.Is64BitWindows());
    EXPECT_FALSE(os.IsAdministrator());

    m.system.config().wow64 = true;
    EXPECT_TRUE(os.IsWow64());
    EXPECT_TRUE(os.Is64BitWindows());
    m.system.config().wow64 = false;
    m.system.config().process64 = true;
    EXPECT_TRUE(os.Is64BitWindows());
}

TEST(OSInfo, RebootAndShutdownAreForcedAndNeedThePrivilege) {
    sim::SimSystemConfig cfg;
    Machine m(cfg);
    OSInfo os(m.platform());
    ASSERT_TRUE(os.bIsNT);
    EXPECT_TRUE(os.Reboot());
    EXPECT_TRUE(os.Shutdown());
    EXPECT_EQ(m.system.ExitRequests(), (std::vector<uint32_t>{EWX_REBOOT_FLAG | EWX_FORCE_FLAG, EWX_SHUTDOWN_FLAG | EWX_FORCE_FLAG}));

    m.system.config().privilegeLastError = 1300;  // ERROR_NOT_ALL_ASSIGNED
    EXPECT_FALSE(os.Reboot());
    m.system.config().privilegeLastError = 0;
    m.system.config().shutdownPrivilege = false;
    EXPECT_FALSE(os.Shutdown());
    EXPECT_EQ(m.system.ExitRequests().size(), 2u);

    sim::SimSystemConfig nine;
    nine.reported = V(1, 4, 10, 0);
    nine.shutdownPrivilege = false;  // not asked for on 9x
    Machine m9(nine);
    OSInfo os9(m9.platform());
    EXPECT_FALSE(os9.bIsNT);
    EXPECT_TRUE(os9.Reboot());
    EXPECT_EQ(m9.system.ExitRequests().size(), 1u);
}

}  // namespace
