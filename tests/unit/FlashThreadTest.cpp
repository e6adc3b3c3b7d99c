#include <gtest/gtest.h>
#include <cstdio>


#include "app/KestrelMain.h"
#include "flash/FlashThread.h"
#include "package/FwPackage.h"
#include "support/AtaFixture.h"
#include "support/NvmeFixture.h"
#include "support/Format.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

constexpr uint32_t kPbtApmQuerySuspend = 0;

// A SATA drive behind a device object, and a main window over the same machine that runs the jobs.
class FlashThread : public AtaFixture {
protected:
    void On(json patch = json::object()) {
        json d = {{"model", "KESTREL SATA SSD 512GB"}, {"revision", "KS1.00A"}, {"serial", "KS00000001"}, {"def", "G1A2B3C1"},
                  {"transports", {"ata"}}, {"restart_ms", 0}};
        d.merge_patch(patch);
        main.reset();
        Build(d);
        main = std::make_unique<TKestrelMain>(machine->platform(), PackageView(OwnPackageBlock()), std::vector<std::string>{});
        main->sLogFile = DebugLogPath(machine->files());
        main->bLogEnabled = true;
        main->bSilent = true;
        ClearLog();
    }
    MF_THREAD_PARAMETER Download() {
        image = Image(300000);
        MF_THREAD_PARAMETER p;
        p.pDevice = dev.get();
        p.pImage = image.data();
        p.BinSize = static_cast<uint32_t>(image.size());
        p.max_sector = 1;
        p.bFwReboot = 1;
        p.iJob = kJobDownload;
        return p;
    }
    // The sector count of the first DOWNLOAD MICROCODE command of every attempt (each failing
    // attempt sends one command).
    std::vector<int> SectorCounts() const {
        std::vector<int> v;
        for (const auto& c : Downloads()) v.push_back(c.count);
        return v;
    }
    void TearDown() override {
        main.reset();
        AtaFixture::TearDown();
    }

    std::unique_ptr<TKestrelMain> main;
    std::vector<uint8_t> image;
};

TEST_F(FlashThread, JobsWithoutADeviceOrWithAnUnknownNumberLeaveThePreset) {
    On();
    struct Case {
        bool device;
        int32_t job;
        int expected;
    };
    for (const Case c : {Case{false, kJobDownload, 0xFF}, Case{false, kJobErase, 0xFF}, Case{true, 4, 0xFF}, Case{true, 0, 0xFF}}) {
        SCOPED_TRACE(testing::Message() << "device " << c.device << " job " << c.job);
        ClearLog();
        MF_THREAD_PARAMETER p = Download();
        if (!c.device) p.pDevice = nullptr;
        p.iJob = c.job;
        EXPECT_EQ(main->RunFlashThread(p), c.expected);
        EXPECT_TRUE(main->bThreadDone);
        EXPECT_TRUE(Downloads().empty());
        // The completion arrived on the GUI thread, which logged it.
        EXPECT_NE(Log().find("] : ThreadDone ok \r\n"), std::string::npos) << Log();
    }
}

TEST_F(FlashThread, AtaDownloadSucceedsAtTheFirstAttempt) {
    On();
    EXPECT_EQ(main->RunFlashThread(Download()), 0);
    EXPECT_EQ(model->Revision(), "KS2.00A");
    const std::string log = Log();
    EXPECT_NE(log.find("] :  Start UpdateFW , max_sector=1, bIsNvme=0, bIsNvmeIrstDriver=0, fwslot=0, commit action=0\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] : End of Download FW image \r\n\r\n"), std::string::npos);
    EXPECT_NE(log.find("] : End of UpdateFW , max_sector=1 , iRet=0h\r\n\r\n"), std::string::npos);
    EXPECT_EQ(log.find("retry"), std::string::npos);
    // The worker's lines come before the GUI thread's completion line.
    EXPECT_LT(log.find("End of UpdateFW"), log.find("ThreadDone ok"));
}

TEST_F(FlashThread, AtaDownloadThatAlwaysFailsMakesThirteenAttempts) {
    // Twelve attempts end with an aborted command, the thirteenth with a failed request: the job's
    // result is the thirteenth's.
    On({{"faults", json::array({{{"command", "92h"}, {"fail_first", 12}, {"status", "51h"}, {"error", 4}},
                                {{"command", "92h"}, {"win_error", 31}}})}});
    const int64_t start = machine->clock().NowNs();
    EXPECT_EQ(main->RunFlashThread(Download()), ATACMD_FAIL);
    EXPECT_EQ(SectorCounts(), (std::vector<int>{1, 1, 64, 64, 64, 64, 64, 64, 8, 7, 4, 1, 64}));
    // A second between attempts, also after the last one.
    EXPECT_GE(machine->clock().NowNs() - start, 13'000'000'000);
    EXPECT_LT(machine->clock().NowNs() - start, 14'000'000'000);
    EXPECT_EQ(model->Revision(), "KS1.00A");

    const std::string log = Log();
    std::vector<std::string> retries;
    for (size_t at = log.find("] : retry"); at != std::string::npos; at = log.find("] : retry", at + 1)) {
        const size_t end = log.find('\n', at);
        int n = 0, sectors = 0;
        ASSERT_EQ(std::sscanf(log.substr(at, end - at).c_str(), "] : retry%d : max_sector=%d ", &n, &sectors), 2);
        retries.push_back(std::to_string(n) + ":" + std::to_string(sectors));
    }
    EXPECT_EQ(retries, (std::vector<std::string>{"1:1", "2:64", "3:64", "4:64", "5:64", "6:64", "7:64", "8:8", "9:7", "10:4",
                                                 "11:1", "12:64", "13:8"}));
    EXPECT_EQ(log.find("End of Download FW image"), std::string::npos);
    EXPECT_NE(log.find("] : End of UpdateFW , max_sector=8 , iRet=FEh\r\n\r\n"), std::string::npos) << log;
}

TEST_F(FlashThread, AtaDownloadRecoversOnALaterAttempt) {
    On({{"faults", json::array({{{"command", "92h"}, {"fail_first", 2}, {"status", "51h"}, {"error", 4}}})}});
    EXPECT_EQ(main->RunFlashThread(Download()), 0);
    EXPECT_EQ(model->Revision(), "KS2.00A");
    const std::string log = Log();
    EXPECT_NE(log.find("retry2 : max_sector=64 \r\n"), std::string::npos);
    EXPECT_NE(log.find("End of UpdateFW , max_sector=64 , iRet=0h"), std::string::npos) << log;
}

TEST(FlashThreadSectors, CycleAfterTheEighthAttempt) {
    struct Case {
        int32_t attempt, before, after;
    };
    for (const Case c : {Case{1, 1, 1}, Case{1, 64, 1}, Case{2, 1, 64}, Case{7, 8, 64}, Case{8, 64, 8}, Case{9, 8, 7},
                         Case{10, 7, 4}, Case{11, 4, 1}, Case{12, 1, 64}, Case{13, 64, 8}, Case{9, 16, 16}, Case{20, 3, 3}}) {
        EXPECT_EQ(NextMaxSector(c.attempt, c.before), c.after) << c.attempt << " " << c.before;
    }
}

TEST_F(FlashThread, EraseRetriesOnce) {
    struct Case {
        const char* name;
        json drive;
        int expected;
        int erases;        // erases the drive performed
        int legacyErases;  // FFh/FDh erase commands sent
    };
    // The transport probe's DEF read (FFh/FDh as well) is the first match when the drive is selected.
    const json legacyFailsOnce = {{"new_erase", false}, {"faults", json::array({{{"command", "FFh"}, {"features", "FDh"}, {"fail_first", 2}, {"status", "51h"}, {"error", 4}}})}};
    const json legacyFails = {{"new_erase", false}, {"faults", json::array({{{"command", "FFh"}, {"features", "FDh"}, {"status", "51h"}, {"error", 4}}})}};
    for (const Case& c : {Case{"legacy drive, first pass fails", legacyFailsOnce, ATACMD_OK, 1, 2},
                          Case{"legacy drive, both passes fail", legacyFails, ATACMD_ERR, 0, 2},
                          Case{"new erase", {{"new_erase", true}}, ATACMD_OK, 1, 0},
                          // Longer than the request's timeout: both passes time out, the drive erases anyway.
                          Case{"new erase, times out", {{"new_erase", true}, {"erase_ms", 61000}}, ATACMD_TIMEOUT, 2, 0}}) {
        SCOPED_TRACE(c.name);
        json d = c.drive;
        if (!d.contains("erase_ms")) d["erase_ms"] = 1000;
        On(d);
        MF_THREAD_PARAMETER p;
        p.pDevice = dev.get();
        p.iJob = kJobErase;
        EXPECT_EQ(main->RunFlashThread(p), c.expected);
        EXPECT_EQ(model->EraseCount(), c.erases);
        int legacy = 0;
        for (const auto& cmd : model->Commands())
            if (cmd.command == 0xFF && cmd.features == 0xFD && cmd.count == 0) ++legacy;
        EXPECT_EQ(legacy, c.legacyErases);
    }
}

TEST_F(FlashThread, RescanRemovesTheDiskOnlyWhenNamed) {
    On();
    const std::string node = machine->description()["disks"][0]["node"].get<std::string>();
    for (const std::string& path : {std::string(), node}) {
        SCOPED_TRACE(path);
        const size_t removedBefore = machine->deviceTree().Removed().size();
        const size_t rescansBefore = machine->deviceTree().Reenumerated().size();
        MF_THREAD_PARAMETER p;
        p.iJob = kJobRescan;
        p.sDevicePath = path;
        const int64_t start = machine->clock().NowNs();
        EXPECT_EQ(main->RunFlashThread(p), 1);
        const int64_t took = machine->clock().NowNs() - start;
        EXPECT_GT(machine->deviceTree().Reenumerated().size(), rescansBefore);
        if (path.empty()) {
            EXPECT_EQ(machine->deviceTree().Removed().size(), removedBefore);
            EXPECT_LT(took, 1'000'000'000);
        } else {
            ASSERT_EQ(machine->deviceTree().Removed().size(), removedBefore + 1);
            EXPECT_EQ(machine->deviceTree().Removed().back(), node);
            EXPECT_GE(took, 1'000'000'000);
        }
    }
}

// While a download or an erase runs, the machine is kept awake, shutdown is blocked with a reason
// and power requests are denied; all of it ends with the job, also when the job failed.
TEST_F(FlashThread, PowerGuardHeldExactlyAroundDownloadAndErase) {
    struct Case {
        const char* name;
        int32_t job;
        bool failing;
        bool guarded;
    };
    for (const Case c : {Case{"download", kJobDownload, false, true}, Case{"failing download", kJobDownload, true, true},
                         Case{"failing erase", kJobErase, true, true}, Case{"rescan", kJobRescan, false, false}}) {
        SCOPED_TRACE(c.name);
        json faults = json::array();
        if (c.failing) faults.push_back({{"win_error", 31}});
        On({{"faults", faults}, {"erase_ms", 1000}});
        MF_THREAD_PARAMETER p = Download();
        p.iJob = c.job;
        if (c.job == kJobRescan) p.pDevice = nullptr;
        // What the GUI thread's timers see while the job runs.
        struct Sample {
            uint32_t state;
            std::string reason;
            uint32_t answer;
        };
        std::vector<Sample> during;
        machine->ui().SetTimer(77, 100, [&] {
            during.push_back({machine->system().ExecutionState(), machine->ui().ShutdownBlockReason(),
                              main->WMPowerBroadcast(kPbtApmQuerySuspend)});
        });
        EXPECT_EQ(main->WMPowerBroadcast(kPbtApmQuerySuspend), 0u);
        const int result = main->RunFlashThread(p);
        machine->ui().KillTimer(77);
        EXPECT_EQ(result == 0 || result == 1, !c.failing) << result;

        if (c.guarded) {
            ASSERT_FALSE(during.empty()) << "the job took less than one timer interval";
            for (const Sample& s : during) {
                EXPECT_EQ(s.state, ES_CONTINUOUS_FLAG | ES_SYSTEM_REQUIRED_FLAG);
                EXPECT_EQ(s.reason, "Updating SSD firmware");
                EXPECT_EQ(s.answer, kBroadcastQueryDeny);
            }
            EXPECT_EQ(machine->system().ExecutionStateCalls(),
                      (std::vector<uint32_t>{ES_CONTINUOUS_FLAG | ES_SYSTEM_REQUIRED_FLAG, ES_CONTINUOUS_FLAG}));
            EXPECT_EQ(machine->ui().ShutdownBlockCalls(), (std::vector<std::string>{"+Updating SSD firmware", "-"}));
            EXPECT_NE(Log().find("Firmware is updating, all power change events are denied !"), std::string::npos);
        } else {
            for (const Sample& s : during) EXPECT_EQ(s.answer, 0u);
            EXPECT_TRUE(machine->system().ExecutionStateCalls().empty());
            EXPECT_TRUE(machine->ui().ShutdownBlockCalls().empty());
        }
        // Released: the machine may sleep and shut down again.
        EXPECT_EQ(machine->system().ExecutionState(), ES_CONTINUOUS_FLAG);
        EXPECT_TRUE(machine->ui().ShutdownBlockReason().empty());
        EXPECT_TRUE(machine->ui().QueryEndSession());
        EXPECT_FALSE(main->bPowerGuard);
        EXPECT_EQ(main->WMPowerBroadcast(kPbtApmQuerySuspend), 0u);
    }
}

// The worker's waits and the GUI thread's timers share one virtual time: a GUI timer fires at every
// interval, in order, while the worker waits between attempts, and no thread runs ahead of the other.
TEST_F(FlashThread, GuiTimersSeeTheWorkersWaitsInOrder) {
    On({{"faults", json::array({{{"command", "92h"}, {"win_error", 31}}})}, {"latency_us", 0}});
    std::vector<int64_t> fired;
    machine->ui().SetTimer(5, 250, [&] { fired.push_back(machine->clock().NowNs()); });
    const int64_t start = machine->clock().NowNs();
    EXPECT_EQ(main->RunFlashThread(Download()), ATACMD_FAIL);
    machine->ui().KillTimer(5);
    const int64_t took = machine->clock().NowNs() - start;
    // Thirteen one-second waits of the worker; the GUI's 5 ms polls add at most one poll.
    EXPECT_GE(took, 13'000'000'000);
    EXPECT_LE(took, 13'010'000'000 + 13 * 100'000'000) << "time ran ahead of the worker";
    ASSERT_GE(fired.size(), 52u);
    for (size_t i = 0; i < fired.size(); ++i) EXPECT_EQ(fired[i] - start, static_cast<int64_t>(i + 1) * 250'000'000) << i;
}

}  // namespace

namespace {

// NVMe drives: one attempt through the inbox driver or Intel RST, a second's pause after a failure.
class FlashThreadNvme : public ::testing::Test {
protected:
    void Build(bool rst, const json& drive) {
        main.reset();
        dev.reset();
        if (rst) {
            machine = MachineFile("rst15-nvme.json", [&](json& d) { d["disks"][0]["drive"].merge_patch(drive); });
            dev = std::make_unique<TAtaDevice>(machine->platform());
            ASSERT_TRUE(dev->SelectPort(0, nullptr, 2, SELECT_NVME));
            nvme = std::dynamic_pointer_cast<sim::SimRstController>(machine->storage().Find("\\\\.\\Scsi2:"))->DriveAt(1, 0, 0);
        } else {
            machine = MakeMachine();
            ASSERT_TRUE(AttachInboxDrive(*machine, drive, std::nullopt, nvme, records, dev));
        }
        ASSERT_TRUE(nvme);
        main = std::make_unique<TKestrelMain>(machine->platform(), PackageView(OwnPackageBlock()), std::vector<std::string>{});
        main->sLogFile = DebugLogPath(machine->files());
        main->bLogEnabled = true;
    }
    void TearDown() override {
        main.reset();
        dev.reset();
    }
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<TAtaDevice> dev;
    std::shared_ptr<sim::SimNvmeDrive> nvme;
    std::vector<REG_DATA> records;
    std::unique_ptr<TKestrelMain> main;
};

TEST_F(FlashThreadNvme, OneAttemptAndASecondAfterAFailure) {
    struct Case {
        const char* name;
        bool rst;
        json drive;
        int expected;
    };
    const json reject = {{"reject_images", true}, {"activate_ms", 0}};
    for (const Case& c : {Case{"inbox", false, {{"activate_ms", 0}}, 0}, Case{"inbox, image refused", false, reject, ATACMD_FAIL},
                          Case{"RST", true, {{"activate_ms", 0}}, 0}, Case{"RST, image refused", true, reject, ATACMD_FAIL}}) {
        SCOPED_TRACE(c.name);
        Build(c.rst, c.drive);
        if (HasFatalFailure()) return;
        const auto image = NvmeImage(8192);
        MF_THREAD_PARAMETER p;
        p.pDevice = dev.get();
        p.pImage = image.data();
        p.BinSize = 8192;
        p.max_sector = 1;
        p.iJob = kJobDownload;
        p.bIsNvme = 1;
        p.bIsNvmeIrstDriver = c.rst ? 1 : 0;
        p.iNvmeFwSlot = 3;
        p.iCommitAction = 1;
        p.HA = 2;
        p.PathId = 1;
        const int64_t start = machine->clock().NowNs();
        EXPECT_EQ(main->RunFlashThread(p), c.expected);
        const int64_t took = machine->clock().NowNs() - start;
        int activations = 0;
        for (const auto& r : nvme->Requests())
            if (r.rfind("activate", 0) == 0) ++activations;
        EXPECT_EQ(activations, 1);
        const std::string log = DebugLog(*machine);
        EXPECT_TRUE(InOrder(log, {Fmt(" Start UpdateFW , max_sector=1, bIsNvme=1, bIsNvmeIrstDriver=%d, fwslot=3, commit action=1\r\n", c.rst ? 1 : 0),
                                  "End of Download FW image \r\n\r\n",
                                  Fmt("End of UpdateFW , max_sector=1 , iRet=%Xh\r\n\r\n", static_cast<unsigned>(c.expected)),
                                  "ThreadDone ok"}))
            << log;
        if (c.expected == 0) {
            EXPECT_EQ(nvme->Revision(), "KN9R0300");
            EXPECT_LT(took, 1'000'000'000);
            EXPECT_EQ(log.find("retry count"), std::string::npos);
        } else {
            EXPECT_EQ(nvme->Revision(), "KN9R0200");
            EXPECT_GE(took, 1'000'000'000);
            EXPECT_LT(took, 1'100'000'000);
            EXPECT_EQ(Count(log, "] : retry count = 1, iRet=254 (delay 1 sec) \r\n\r\n"), 1u);
        }
    }
}

}  // namespace
