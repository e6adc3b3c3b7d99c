// The update workflow over the simulated machine: from the Update handler to the exit level, with
// the drive's revision afterwards read from the state folder.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "support/Format.h"
#include "support/ScanFixture.h"
#include "support/WorkflowRun.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

constexpr const char* kSataModel = "KESTREL KS600 512GB";
constexpr const char* kSataSerial = "KS6A26130000123";
constexpr const char* kSataPath =
    "\\\\?\\scsi#disk&ven_&prod_kestrel_ks600_51#4&2f6a1b33&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// The default machine with changes to its SATA drive (merged into the drive object) and to the rest.
json SataMachine(const json& drive, const json& rest = json::object()) {
    json desc = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    json disks = desc["disks"];
    for (auto& d : disks)
        if (d.contains("drive") && d["drive"].value("kind", "") == "sata") d["drive"].merge_patch(drive);
    json patch = rest;
    patch["disks"] = disks;
    return patch;
}

// The C: volume on another disk: the SATA drive is then not the system drive.
const json kNotSystem = {{"volumes", json::array({{{"path", "\\\\.\\C:"}, {"device_number", 7}}})}};

// bUseFWExt, bReBoot, bNFlashAuto and bWindowsFlash, plus the given positions.
std::string Digits(std::initializer_list<std::pair<int, char>> more = {}) {
    std::string d = OptionDigits({{2, '1'}, {4, '1'}, {15, '1'}, {27, '1'}});
    for (auto [pos, c] : more) d[static_cast<size_t>(pos - 2)] = c;
    return d;
}

PackImage Img(const char* newFw, const char* fwExt, const char* model, const char* fits = "KESTREL*") {
    PackImage im;
    im.newFw = newFw;
    im.fwExt = fwExt;
    im.model = model;
    im.fits = {fits};
    return im;
}

std::vector<uint8_t> SataPackage(const std::string& digits, int8_t visual = 0) {
    PackSpec spec;
    spec.digits = digits;
    spec.visual = visual;
    spec.images.push_back(Img("KS6R0200", "S6R0200A", kSataModel));
    return BuildPackage(spec);
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The power guard is released whatever happened, and every hold was released once.
void ExpectGuardReleased(const RunResult& r) {
    const auto& calls = r.m->ui().ShutdownBlockCalls();
    const auto holds = std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return !c.empty() && c[0] == '+'; });
    EXPECT_EQ(holds * 2, static_cast<long>(calls.size()));
    EXPECT_EQ(r.m->ui().ShutdownBlockReason(), "");
    EXPECT_EQ(r.m->system().ExecutionState(), ES_CONTINUOUS_FLAG);
    EXPECT_FALSE(r.w->bPowerGuard);
}

struct Case {
    const char* name;
    json machine;
    std::string digits;
    std::vector<std::string> args;
    int code;
    const char* revision;  // in the state folder afterwards; "" when the drive never installed an image
    std::vector<std::string> has;
    std::vector<std::string> lacks;
    int guardHolds = -1;  // power guard holds (download and erase jobs); -1: not checked
};

void RunCases(const std::vector<Case>& cases) {
    StateDir state;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.Reset();
        const RunResult r = RunUpdate(SataPackage(c.digits), c.machine, state.path(), c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(StateRevision(state.path(), kSataSerial), c.revision);
        for (const auto& s : c.has) EXPECT_NE(r.log.find(s), std::string::npos) << "missing: " << s;
        for (const auto& s : c.lacks) EXPECT_EQ(r.log.find(s), std::string::npos) << "unexpected: " << s;
        EXPECT_TRUE(r.quit);
        EXPECT_NE(r.log.find(Fmt("Exit iErrorLevel: %d\r\n", c.code)), std::string::npos);
        ExpectGuardReleased(r);
        if (c.guardHolds >= 0) {
            EXPECT_EQ(static_cast<int>(r.m->ui().ShutdownBlockCalls().size()), 2 * c.guardHolds);
        }
    }
}

}  // namespace

// A SATA update: download, restart, the drive found again by serial with both new revisions; a
// second run on the same machine finds it up to date.
TEST(UpdateWorkflow, SataUpdateThenLatestFirmware) {
    StateDir state;
    const auto block = SataPackage(Digits());
    const json machine = SataMachine({{"restart_ms", 3000}});
    RunResult r = RunUpdate(block, machine, state.path(), {"/S"});
    if (::testing::Test::HasFailure() || r.code != 0) std::printf("%s\n", r.log.c_str());
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(StateRevision(state.path(), kSataSerial), "KS6R0200");
    EXPECT_EQ(StateRevision(state.path(), kSataSerial, "def"), "S6R0200A");
    for (const char* line : {"<Flash Timer> Flash done. Waiting FW reboot and rescan device - Elapsed time : ",
                             "] : SCAN DEVICES\r\n", "] : SN0: KS6A26130000123      | KS6A26130000123     \r\n", "] : FW_CMP_1:(0) KS6R0200 | KS6R0200 \r\n",
                             "] : FW_CMP_2:(0) S6R0200A | S6R0200A \r\n", "] : ATACMD_RET: 0x0 ", "] : Flash finished \r\n",
                             "] : Exit iErrorLevel: 0\r\n"})
        EXPECT_NE(r.log.find(line), std::string::npos) << line;
    EXPECT_EQ(Occurrences(r.log, "] : SCAN DEVICES\r\n"), 1u) << "found on the first pass";
    EXPECT_EQ(r.w->iFlashStage, 5);
    EXPECT_TRUE(r.m->ui().Boxes().empty());
    ExpectGuardReleased(r);
    EXPECT_EQ(r.m->ui().ShutdownBlockCalls(), (std::vector<std::string>{"+Updating SSD firmware", "-"}));

    r = RunUpdate(block, machine, state.path(), {"/S"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.log.find("] : bUseFWExt=true,This drive is the latest firmware\r\n"), std::string::npos);
    EXPECT_EQ(r.log.find("Flash FW START"), std::string::npos);
    EXPECT_EQ(r.w->cbMsg.Text(), "This drive is the latest firmware.");
    EXPECT_TRUE(r.m->ui().ShutdownBlockCalls().empty()) << "nothing was sent";
}

TEST(UpdateWorkflow, SataRoads) {
    const auto fault = [](json f) { return json{{"faults", json::array({f})}}; };
    RunCases({
        {"every download command fails with an error status", SataMachine(fault({{"command", "92h"}, {"features", 3}, {"status", "51h"}})),
         Digits(), {"/S"}, 1, "",
         {"] : retry2 : max_sector=64 \r\n", "] : retry8 : max_sector=8 \r\n", "] : retry12 : max_sector=64 \r\n",
          "] : End of UpdateFW , max_sector=8 , iRet=1h\r\n", "] : ERROR: ATACMD_ERR, STATUS_REGISTER:0x51\r\n",
          "KESTREL KS600 512GB KS6R0100 Flash Fail ! ERROR: ATACMD_ERR, STATUS_REGISTER:0x51"},
         {"Flash finished"}, 1},
        {"download times out", SataMachine(fault({{"command", "92h"}, {"features", 3}, {"win_error", 1460}})), Digits(), {"/S"}, 1, "",
         {"iRet=2h", "There is something wrong, please check your drive !"}, {}},
        {"download fails in Windows", SataMachine(fault({{"command", "92h"}, {"features", 3}, {"win_error", 31}})), Digits(), {"/S"}, 1,
         "", {"iRet=FEh", "ERROR: ATACMD_FAIL, ERROR_CODE: 0x1F"}, {}},
        {"download not supported", SataMachine(fault({{"command", "92h"}, {"features", 3}, {"win_error", 50}})), Digits(), {"/S"}, 1,
         "", {"iRet=FFh", "ERROR: ATACMD_SYS_NOT_SUPPORT"}, {}},
        {"download reported failed, the drive installed it: the rescan confirms",
         SataMachine({{"restart_ms", 500}, {"faults", json::array({{{"command", "92h"}, {"features", 7}, {"status", "51h"}, {"executed", true}}})}}),
         Digits(), {"/S"}, 0, "KS6R0200", {"] : ATACMD_RET: 0x1 ", "] : FW_CMP_2:(0) S6R0200A | S6R0200A \r\n", "] : Flash finished \r\n"},
         {"Flash Fail"}},
        {"drive does not come back", SataMachine({{"restart_ms", 600000}}, kNotSystem), Digits(), {"/S"}, 1, "KS6R0200",
         {"FW reboot, retry rescan device 1", "FW reboot, retry rescan device 2", "] : SCAN BUS\r\n",
          "] : ERROR: DEVICE NOT FOUND AFTER FW REBOOT\r\n"},
         {"Flash finished"}},
        {"system drive does not come back: no bus rescan, still three passes", SataMachine({{"restart_ms", 600000}}), Digits(), {"/S"}, 1,
         "KS6R0200", {"FW reboot, retry rescan device 1", "ERROR: DEVICE NOT FOUND AFTER FW REBOOT"},
         {"retry rescan device 2", "SCAN BUS"}},
        {"erase-all run", SataMachine(json::object()), Digits(), {"/S", "/ERASE"}, 0, "", {"] : EraseAll START\r\n", "<Flash Timer> End of EraseAll"},
         {"Flash FW START", "compare fw version"}, 1},
        {"erase-all fails", SataMachine({{"new_erase", false}, {"vendor_commands", false}}), Digits(), {"/S", "/ERASE"}, 1, "",
         {"] : ERASE_ERROR:0x"}, {"Flash FW START"}},
        {"before- and after-preformat", SataMachine({{"restart_ms", 1000}, {"erase_ms", 2000}}, kNotSystem), Digits({{22, '1'}, {23, '1'}}),
         {"/S"}, 0, "KS6R0200", {"] : B_Preformat START\r\n", "<Flash Timer> Preformat start", "<Flash Timer> End of Preformat"}, {}, 3},
        {"before-preformat fails", SataMachine({{"new_erase", false}, {"vendor_commands", false}}, kNotSystem), Digits({{23, '1'}}),
         {"/S"}, 1, "", {"] : BPF_ERROR:0x"}, {"Flash FW START"}},
        {"preformat on the boot drive", SataMachine(json::object()), Digits({{22, '1'}}), {"/S"}, 3, "",
         {"] : Because this tool contains erase function and the SSD you selected is primary boot drive.\r\nKestrel recommends"},
         {"Flash FW START"}, 0},
        {"password-locked drive: no restart wait, the image waits for the next power cycle", SataMachine({{"security", 2}}), Digits(),
         {"/S"}, 0, "", {"] : HDD password locked (Identify word128 bit1 =1)\r\n", "] : ReBoot:0, AHCI:0, Preformat:0\r\n"},
         {"Waiting FW reboot"}},
        {"fatal-error drive", SataMachine({{"def", "KV315011"}}), Digits(), {"/S"}, 1, "",
         {"] : Fatal error is found, please return this drive to the vendor !\r\n"}, {"Flash FW START"}, 0},
        {"an equal revision is flashed again without bNFlashAuto", SataMachine({{"def", "S6R0200A"}, {"restart_ms", 1000}}),
         OptionDigits({{2, '1'}, {4, '1'}, {27, '1'}}), {"/S"}, 0, "KS6R0200", {"] : Flash FW START\r\n"}, {"latest firmware"}},
        {"a newer drive is up to date without bFOld", SataMachine({{"def", "S6R0300A"}}), OptionDigits({{2, '1'}, {4, '1'}, {27, '1'}}),
         {"/S"}, 0, "", {"] : bUseFWExt=true,This drive is the latest firmware\r\n"}, {"Flash FW START"}, 0},
    });
}

// The questions after a successful update, answered both ways, and the silent reboot.
TEST(UpdateWorkflow, RebootAndShutdownQuestions) {
    struct Q {
        const char* name;
        std::string digits;
        std::vector<std::string> args, answers;
        std::vector<std::string> titles;  // boxes shown, by title
        std::vector<uint32_t> exits;
    } cases[] = {
        {"reboot yes", Digits({{12, '1'}}), {}, {"ok", "yes"}, {"Information", "Question"}, {EWX_REBOOT_FLAG | EWX_FORCE_FLAG}},
        {"reboot no", Digits({{12, '1'}}), {}, {"ok", "no"}, {"Information", "Question"}, {}},
        {"silent reboot", Digits({{12, '1'}}), {"/S"}, {}, {}, {EWX_REBOOT_FLAG | EWX_FORCE_FLAG}},
        {"shutdown yes", Digits({{6, '1'}}), {}, {"ok", "yes"}, {"Information", "Question"}, {EWX_SHUTDOWN_FLAG | EWX_FORCE_FLAG}},
        {"shutdown no", Digits({{6, '1'}}), {}, {"ok", "no"}, {"Information", "Question"}, {}},
        {"silent run: no shutdown question", Digits({{6, '1'}}), {"/S"}, {}, {}, {}},
    };
    StateDir state;
    for (const Q& q : cases) {
        SCOPED_TRACE(q.name);
        state.Reset();
        const RunResult r = RunUpdate(SataPackage(q.digits), SataMachine({{"restart_ms", 1000}}), state.path(), q.args, q.answers);
        EXPECT_EQ(r.code, 0);
        std::vector<std::string> titles;
        for (const auto& b : r.m->ui().Boxes()) titles.push_back(b.title);
        EXPECT_EQ(titles, q.titles);
        if (!titles.empty()) {
            EXPECT_EQ(r.m->ui().Boxes()[0].text, "Flash finished !");
        }
        if (titles.size() > 1) {
            EXPECT_EQ(r.m->ui().Boxes()[1].text.rfind(q.digits[10] == '1' ? "Reboot Confirmation:\n" : "Shutdown Confirmation:\n", 0), 0u);
        }
        EXPECT_EQ(r.m->system().ExitRequests(), q.exits);
    }
}

// An NVMe drive on the inbox driver under Windows 7 needs the Intel RST driver: nothing is sent.
TEST(UpdateWorkflow, RstRequiredOnOldWindows) {
    StateDir state;
    const json win7 = {{"windows",
                        {{"version", {{"major", 6}, {"minor", 1}, {"build", 7601}}},
                         {"reported_version", {{"major", 6}, {"minor", 1}, {"build", 7601}}},
                         {"rtl_get_version", {{"major", 6}, {"minor", 1}, {"build", 7601}}}}}};
    const RunResult r = RunUpdate(SataPackage(Digits()), SataMachine(json::object(), win7), state.path(), {"/S"}, {}, Entry::Click,
                                  [](TKestrelMain& w, sim::SimMachine&) {
                                      DEV_INFO& d = w.m_DevInfo[static_cast<size_t>(w.iItemDrive[static_cast<size_t>(w.cboDrives.ItemIndex())])];
                                      d.bIsNvme = 1;
                                      d.bIsNvmeIrstDriver = 0;
                                  });
    EXPECT_EQ(r.code, 7);
    EXPECT_NE(r.log.find(Fmt("] : Intel iRST driver v14.8 and above is required for Windows7/8 (ERR:%Xh) \r\n", r.w->iOsVersionCode)),
              std::string::npos);
    EXPECT_LE(r.w->iOsVersionCode, 0x10000000u);
    EXPECT_EQ(r.log.find("Flash FW START"), std::string::npos);
    EXPECT_TRUE(r.m->ui().ShutdownBlockCalls().empty());
}

// A deployment run: Timer1 starts the update 2.5 s after the window shows, Timer2 ends the program
// once the bar has reached 100 at stage 5.
TEST(UpdateWorkflow, DeploymentRunEndsThroughTheProgressTimer) {
    StateDir state;
    const RunResult r = RunUpdate(SataPackage(Digits({{20, '1'}})), SataMachine({{"restart_ms", 1000}}), state.path(),
                                  {std::string("/T:") + kSataPath}, {}, Entry::Deploy);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.quit);
    EXPECT_EQ(StateRevision(state.path(), kSataSerial), "KS6R0200");
    EXPECT_NE(r.log.find("] : Updater ok. iErrorLevel: 0\r\n"), std::string::npos);
    EXPECT_NE(r.log.find("] : Flash finished \r\n"), std::string::npos);
    EXPECT_EQ(r.w->ProgressBar1.Position(), 100);
    EXPECT_EQ(r.w->iFlashStage, 5);
    EXPECT_EQ(r.w->Label8.Caption().rfind("5 | ", 0), 0u) << r.w->Label8.Caption();
    EXPECT_EQ(r.w->Label8.Caption().substr(r.w->Label8.Caption().size() - 5), "| 100") << r.w->Label8.Caption();
    // At stage 5 the bar jumps to 100 only once the progress timer shows more than 10 s.
    EXPECT_GT(static_cast<double>(r.w->progressTimer().Elapsed()), 10.0);
    EXPECT_TRUE(r.m->ui().Boxes().empty());
}

// The default SATA drive and a second one of the same model on the next target; each drive object
// may be patched (faults, revision).
json TwoSataDrives(const json& first, const json& second_drive) {
    json desc = SataMachine(first);
    json base = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    json nodes = base["device_tree"]["nodes"];
    json second = desc["disks"][0];
    json node;
    for (const auto& n : nodes)
        if (n["id"] == second["node"]) node = n;
    node["id"] = "SCSI\\Disk&Ven_&Prod_KESTREL_KS600_51\\4&2F6A1B33&0&000100";
    nodes.push_back(node);
    second["node"] = node["id"];
    second["path"] = "\\\\?\\scsi#disk&ven_&prod_kestrel_ks600_51#4&2f6a1b33&0&000100#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    second["scsi_address"]["target"] = 1;
    second["serial_number"] = "KS6A26130000456";
    second["device_number"] = 2;
    second["drive"]["serial"] = "KS6A26130000456";
    second["drive"].erase("faults");
    second["drive"].merge_patch(second_drive);
    desc["disks"].insert(desc["disks"].begin() + 1, second);
    desc["device_tree"] = {{"nodes", nodes}};
    return desc;
}

// The automatic run over two drives: "Next" after the first, one finish at the end, both updated.
TEST(UpdateWorkflow, AutomaticRunOverTwoDrives) {
    const json desc = TwoSataDrives({{"restart_ms", 1000}}, json::object());
    StateDir state;
    const RunResult r = RunUpdate(SataPackage(Digits({{5, '1'}, {10, '1'}})), desc, state.path(), {"/S"}, {}, Entry::Auto);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.quit);
    EXPECT_EQ(StateRevision(state.path(), kSataSerial), "KS6R0200");
    EXPECT_EQ(StateRevision(state.path(), "KS6A26130000456"), "KS6R0200");
    EXPECT_NE(r.log.find("] : INDEX: 0, NEXT: 1\r\n"), std::string::npos);
    EXPECT_NE(r.log.find("] : INDEX: 1, NEXT: 0\r\n"), std::string::npos);
    EXPECT_EQ(Occurrences(r.log, "] : Flash FW START\r\n"), 2u);
    EXPECT_EQ(Occurrences(r.log, "] : Flash finished \r\n"), 1u);
    EXPECT_EQ(Occurrences(r.log, "Waiting FW reboot"), 1u) << "only the last drive waits for its restart";
    EXPECT_EQ(Occurrences(r.log, "] : Exit iErrorLevel: 0\r\n"), 2u);
}

// An automatic run goes on past a drive that fails or that no image fits, and its exit code never
// hides an earlier failure behind the last drive's success.
TEST(UpdateWorkflow, AutomaticRunKeepsAFailureAndPassesOverAnIneligibleDrive) {
    const json failing = {{"restart_ms", 1000}, {"faults", json::array({{{"command", "92h"}, {"features", 3}, {"status", "51h"}}})}};
    const struct {
        const char* name;
        json desc;
        std::string digits;
        int32_t code;
        const char* firstRevision;  // as the state keeps it: "" for a drive that was never written
        const char* secondRevision;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"the first drive fails, the second is updated", TwoSataDrives(failing, {{"restart_ms", 1000}}),
         Digits({{5, '1'}, {10, '1'}}), 1, "", "KS6R0200",
         {"] : An earlier drive failed: iErrorLevel: 1\r\n", "Flash Fail ! ERROR: ATACMD_ERR, STATUS_REGISTER:0x51"}, {}},
        // Without bHiddenDrives the drive no image fits is listed too, last.
        {"the last drive may not be updated", TwoSataDrives({{"restart_ms", 1000}}, {{"model", "KESTREL KS600 1TB"}}), Digits({{5, '1'}}),
         0, "KS6R0200", "",
         {"] : INDEX: 1, NEXT: 0\r\n", "] : ENABLED: 0, KESTREL KS600 1TB"}, {"An earlier drive failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StateDir state;
        const RunResult r = RunUpdate(SataPackage(c.digits), c.desc, state.path(), {"/S"}, {}, Entry::Auto);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.quit) << "the run must end by itself";
        EXPECT_EQ(StateRevision(state.path(), kSataSerial), c.firstRevision);
        EXPECT_EQ(StateRevision(state.path(), "KS6A26130000456"), c.secondRevision);
        for (const auto& line : c.present) EXPECT_NE(r.log.find(line), std::string::npos) << line << "\n" << r.log;
        for (const auto& line : c.absent) EXPECT_EQ(r.log.find(line), std::string::npos) << line;
    }
}

// Not a test: the process CPU time over the wall time of one update on the real clock, which waits
// through the 5 s restart wait and a 1 s restart. tools/bench/workflow-bench.sh runs it.
TEST(UpdateWorkflowBench, DISABLED_RealClockUpdate) {
    StateDir state;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = RunUpdate(SataPackage(Digits()), SataMachine({{"restart_ms", 1000}}), state.path(), {"/S"}, {},
                                  Entry::Click, {}, false);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_stime);
    EXPECT_EQ(r.code, 0);
    std::printf("real-clock update: exit %d, wall %.2f s, CPU %.3f s, CPU/wall %.2f %%\n", r.code, wall, cpu, 100.0 * cpu / wall);
}

// NVMe drives, on the inbox driver and behind Intel RST: no restart wait whatever bReBoot says, the
// slot chosen by the slot rules, and only activation answers 0 and 32 count as success.
TEST(UpdateWorkflow, NvmeRoutes) {
    const json rst = MachineFile("rst15-nvme.json");
    json inbox = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    for (auto& d : inbox["disks"])
        if (d.value("bus_type", 0) == 17)
            d["drive"] = {{"kind", "nvme"}, {"model", "KESTREL KN900 1TB"}, {"serial", "KN9A26130000457"}, {"revision", "KN9R0200"},
                          {"slot_count", 3}, {"slot_revisions", {"KN9R0100", "KN9R0200", ""}}, {"active_slot", 2}};
    const auto with = [](json m, const json& drive) {
        for (auto& d : m["disks"])
            if (d.contains("drive") && d["drive"].value("kind", "") == "nvme") d["drive"].merge_patch(drive);
        return m;
    };
    struct N {
        const char* name;
        json machine;
        int code;
        const char* revision;  // the revision the drive runs afterwards ("" : it never changed)
        const char* pending;   // the image waiting for the next power cycle
        std::vector<std::string> has;
    } cases[] = {
        {"RST, activation needs a reset", with(rst, {{"activate_return_code", 32}}), 0, "KN9R0200", "KN9R0300",
         {"Firmware activate succeeded. PLEASE REBOOT COMPUTER \r\n", "] : Flash finished \r\n"}},
        {"RST, image rejected", with(rst, {{"activate_return_code", 7}}), 1, "", "",
         {"Flash Fail ! ERROR: ATACMD_FAIL, ERROR_CODE: 0x"}},
        {"inbox driver", inbox, 0, "KN9R0300", "", {"] : Flash finished \r\n"}},
        {"inbox driver, activation needs a reset", with(inbox, {{"activate_return_code", 32}}), 0, "KN9R0200", "KN9R0300",
         {"Firmware activate succeeded. PLEASE REBOOT COMPUTER \r\n"}},
    };
    PackSpec spec;
    spec.digits = OptionDigits({{4, '1'}, {27, '1'}});
    spec.images.push_back(Img("KN9R0300", "", "KESTREL KN900 1TB", "KESTREL KN900*"));
    const auto block = BuildPackage(spec);
    StateDir state;
    for (const N& c : cases) {
        SCOPED_TRACE(c.name);
        state.Reset();
        const RunResult r = RunUpdate(block, c.machine, state.path(), {"/S"});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(StateRevision(state.path(), "KN9A26130000457"), c.revision);
        EXPECT_EQ(StateRevision(state.path(), "KN9A26130000457", "pending"), c.pending);
        // Slot 1 holds an older revision, slot 2 the running one, slot 3 nothing: the empty slot.
        EXPECT_NE(r.log.find("] : result: rev.na slot3\r\n"), std::string::npos);
        EXPECT_NE(r.log.find("] :  tMFThdParam.iNvmeFwSlot: 3\r\n"), std::string::npos);
        EXPECT_EQ(r.log.find("Waiting FW reboot"), std::string::npos);
        for (const auto& h : c.has) EXPECT_NE(r.log.find(h), std::string::npos) << h;
        ExpectGuardReleased(r);
        if (::testing::Test::HasFailure()) std::printf("%s\n", r.log.c_str());
    }
}

// The hidden manual-file road: Ctrl+Alt+T (or F5) at the click opens the file dialog; the file goes
// to the drive without any check, the window stays, the exit level is untouched. A file that does
// not fit the drive's buffer is refused before anything is sent.
TEST(UpdateWorkflow, ManualFileRoad) {
    struct M {
        const char* name;
        int key;
        uint32_t fileSize;  // 0: the dialog is cancelled
        const char* title;  // the one box shown ("" : none)
        const char* text;   // the start of its text
        const char* revision;
    } cases[] = {
        {"a file that fits, Ctrl+Alt+T", 0x54, 4096, "Information", "Flash OK!", "KS6R0900"},
        {"a file that fits, Ctrl+Alt+F5", 0x74, 4096, "Information", "Flash OK!", "KS6R0900"},
        {"a file larger than the read buffer", 0x54, 600000, "Error", "The firmware file is too large for this drive", ""},
        {"dialog cancelled", 0x54, 0, "", "", ""},
    };
    PackSpec spec;
    spec.digits = Digits();
    spec.flashMode = 1;  // data commands only: the drive installs once the whole image has arrived
    spec.images.push_back(Img("KS6R0200", "S6R0200A", kSataModel));
    const auto block = BuildPackage(spec);
    StateDir state;
    for (const M& c : cases) {
        SCOPED_TRACE(c.name);
        state.Reset();
        const RunResult r = RunUpdate(block, SataMachine({{"activate_after_download", true}, {"restart_ms", 1000}}), state.path(), {},
                                      {}, Entry::Click, [&c](TKestrelMain& w, sim::SimMachine& m) {
                                          w.iErrorLevel = exitcode::kStartupOrDeclined;
                                          m.ui().HoldKey(0x11, true);
                                          m.ui().HoldKey(0x12, true);
                                          m.ui().HoldKey(c.key, true);
                                          if (c.fileSize == 0) return;
                                          sim::SimImageSpec im;
                                          im.models = {"KESTREL*"};
                                          im.revision = "KS6R0900";
                                          im.payloadSize = c.fileSize - 128;
                                          std::string why;
                                          const auto bytes = sim::BuildSimImage(im, why);
                                          m.files().WriteWholeFile("C:\\Kestrel\\fw.bin",
                                                                   std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
                                          m.ui().SetOpenFileAnswer("C:\\Kestrel\\fw.bin");
                                      });
        EXPECT_EQ(r.code, exitcode::kStartupOrDeclined);
        EXPECT_FALSE(r.quit) << "the window stays";
        EXPECT_EQ(StateRevision(state.path(), kSataSerial), c.revision);
        const auto& boxes = r.m->ui().Boxes();
        if (*c.title) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].title, c.title);
            EXPECT_EQ(boxes[0].text.rfind(c.text, 0), 0u) << boxes[0].text;
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(r.log.find("Flash FW START"), std::string::npos);
        if (c.revision[0] == 0) {
            EXPECT_TRUE(r.m->ui().ShutdownBlockCalls().empty()) << "nothing was sent";
        }
    }
}

// A package that does not flash from Windows hands the deciphered image to the boot-time road
// instead of downloading it.
TEST(UpdateWorkflow, BootTimeRoadGetsTheDecipheredImage) {
    StateDir state;
    const auto block = SataPackage(OptionDigits({{2, '1'}, {4, '1'}, {15, '1'}}));
    const RunResult r = RunUpdate(block, SataMachine(json::object()), state.path(), {"/S"}, {"no"});
    EXPECT_EQ(r.log.find("Flash FW START"), std::string::npos);
    EXPECT_TRUE(r.m->ui().ShutdownBlockCalls().empty()) << "nothing was sent to the drive";
    EXPECT_TRUE(r.quit);
    const auto written = r.m->files().ReadWholeFile("C:\\Windows\\system32\\FW.bin");
    ASSERT_TRUE(written.has_value());
    // The image as the package holds it, padded to 512 and deciphered in place.
    const PackageView view(block);
    std::vector<uint8_t> expected(kImageBufferSize, 0);
    uint32_t padded = 0;
    ASSERT_EQ(view.LoadImage(0, expected, padded), ImageLoadResult::Ok);
    expected.resize(padded);
    ImageCipherContext ctx;
    ImageCipherDecipher(ctx, expected.data(), expected.size());
    EXPECT_EQ(*written, std::string(expected.begin(), expected.end()));
}
