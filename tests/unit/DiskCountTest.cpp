// The number of disks to expect: WMI with its service made ready, or the disk interfaces.
#include <gtest/gtest.h>

#include "discovery/DevMgr.h"
#include "unit/DiscoveryMachine.h"

using namespace kestrel;
using namespace kestrel::testing;
using nlohmann::json;

namespace {

struct ServiceCase {
    const char* name;
    json service;      // the "Winmgmt" entry
    bool winPE;        // the MiniNT key exists
    bool wmiUsable;
    int16_t expected;  // WMI says 7; the machine has 2 disk interfaces
    uint32_t starts;   // StartServiceA requests
    int64_t minSeconds, maxSeconds;  // virtual time the readiness took
};

class WmiService : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(WmiService, CountDependsOnTheServiceState) {
    const ServiceCase& c = GetParam();
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B");
    m["services"]["Winmgmt"] = c.service;
    m["wmi"] = {{"usable", c.wmiUsable}, {"disk_count", 7}};
    if (c.winPE) m["windows"]["registry"]["HKLM\\SYSTEM\\CurrentControlSet\\Control\\MiniNT"] = json::object();
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    const int64_t t0 = machine->clock().NowNs();
    EXPECT_EQ(mgr.CountDisks(), c.expected);
    const int64_t seconds = (machine->clock().NowNs() - t0) / 1000000000;
    EXPECT_EQ(machine->services().StartRequests(), c.starts);
    EXPECT_GE(seconds, c.minSeconds);
    EXPECT_LE(seconds, c.maxSeconds);
    EXPECT_EQ(machine->services().OpenHandles(), 0u);
    if (c.winPE) {
        EXPECT_EQ(machine->services().ManagerOpens(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WmiService,
    ::testing::Values(ServiceCase{"Running", {{"state", "running"}}, false, true, 7, 0, 0, 0},
                      ServiceCase{"StoppedAndStartable", {{"state", "stopped"}, {"start_polls", 3}}, false, true, 7, 1, 1, 2},
                      // 40 polls 500 ms apart, three times, then the interface count.
                      ServiceCase{"Disabled", {{"state", "disabled"}}, false, true, 2, 3, 60, 60},
                      ServiceCase{"StartPending", {{"state", "start_pending"}}, false, true, 2, 0, 0, 0},
                      ServiceCase{"StopPending", {{"state", "stop_pending"}}, false, true, 2, 0, 0, 0},
                      ServiceCase{"Paused", {{"state", "paused"}}, false, true, 2, 0, 0, 0},
                      ServiceCase{"CannotBeOpened", {{"state", "stopped"}, {"open_fails", true}}, false, true, 2, 0, 0, 0},
                      // Still pending after the first 40 polls: later attempts see a pending state.
                      ServiceCase{"StartsTooSlowly", {{"state", "stopped"}, {"start_polls", 45}}, false, true, 2, 1, 20, 20},
                      ServiceCase{"WinPE", {{"state", "running"}}, true, true, 2, 0, 0, 0},
                      ServiceCase{"WinPEStopped", {{"state", "stopped"}}, true, true, 2, 0, 0, 0},
                      ServiceCase{"WmiUnusable", {{"state", "running"}}, false, false, 2, 0, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DiskCount, QueryTextAndConnectFlag) {
    const struct {
        uint32_t major, minor, flags;
    } cases[] = {{5, 0, 0}, {5, 1, 0x80}, {5, 2, 0x80}, {6, 0, 0x80}, {10, 0, 0x80}, {4, 0, 0}};
    for (const auto& c : cases) {
        json m = BaseMachine();
        m["windows"]["version"] = {{"platform", 2}, {"major", c.major}, {"minor", c.minor}};
        auto machine = MakeMachine(m);
        TDevMgr mgr(machine->platform());
        uint32_t count = 99;
        EXPECT_TRUE(mgr.WmiQuery("Win32_DiskDrive", count));
        EXPECT_EQ(count, 0u);
        ASSERT_EQ(machine->services().WmiQueries().size(), 1u);
        EXPECT_EQ(machine->services().WmiQueries()[0].first, "Select * from Win32_DiskDrive");
        EXPECT_EQ(machine->services().WmiQueries()[0].second, c.flags) << c.major << "." << c.minor;
    }
}

// The fallback list holds 26 interfaces; a machine with more reports 26.
TEST(DiskCount, FallbackStopsAtTwentySix) {
    json m = BaseMachine();
    for (int i = 0; i < 30; ++i) AddDisk(m, "D" + std::to_string(i));
    m["wmi"]["usable"] = false;
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_EQ(mgr.CountDisks(), 26);
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDiskCount(), kMaxDisks);
}

TEST(DiskCount, WmiFindsNoDisks) {
    json m = BaseMachine();
    AddDisk(m, "A");
    m["wmi"]["disk_count"] = 0;
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_EQ(mgr.CountDisks(), 0);
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDiskCount(), 0);
}

TEST(DiskCount, FallbackWithoutDeviceTreeIsZero) {
    json m = BaseMachine();
    AddDisk(m, "A");
    m["wmi"]["usable"] = false;
    m["device_tree"]["libraries_failing"] = {"setupapi.dll"};
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_EQ(mgr.CountDisks(), 0);
}

}  // namespace
