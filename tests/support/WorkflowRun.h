#pragma once
// One update run of the main window over a simulated machine: a package built from sim images, the
// machine's drives scanned into the list, the selection made, and the update entered by a click, the
// deployment timer or the automatic timer. What a test reads afterwards: the exit level, the debug
// log, the boxes, the events and the drives' revisions in the state folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/CommandLine.h"
#include "app/KestrelMain.h"
#include "package/FwPackage.h"
#include "package/RevisionRules.h"
#include "sim/SimImage.h"
#include "support/SimFixture.h"

namespace kestrel::test {

struct PackImage {
    std::string newFw;             // NEW_FW entry
    std::string fwExt;             // FW_EXT entry
    std::string model;             // CMODEL of record 0 ("" : no constraint record, every drive fits)
    std::vector<std::string> fits = {"KESTREL*"};  // model patterns the sim image carries
    std::string imageRev;          // revision the image installs ("" : newFw)
    std::string imageExt;          // extended revision it installs ("" : fwExt)
    uint32_t payload = 4096;
};

struct PackSpec {
    std::string digits = std::string(28, '0');
    int8_t visual = 0;
    int8_t flashMode = 0;
    std::vector<PackImage> images;
};

// Option digits with the given positions (2..29) set.
inline std::string OptionDigits(std::initializer_list<std::pair<int, char>> set) {
    std::string d(28, '0');
    for (auto [pos, c] : set) d[static_cast<size_t>(pos - 2)] = c;
    return d;
}

inline std::vector<uint8_t> BuildPackage(const PackSpec& spec) {
    std::vector<std::vector<uint8_t>> images;
    size_t total = 0;
    for (const auto& im : spec.images) {
        sim::SimImageSpec s;
        s.models = im.fits;
        s.revision = im.imageRev.empty() ? im.newFw : im.imageRev;
        s.extRevision = im.imageExt.empty() ? im.fwExt : im.imageExt;
        s.payloadSize = im.payload;
        std::string why;
        images.push_back(sim::BuildSimImage(s, why));
        EXPECT_FALSE(images.back().empty()) << why;
        total += (images.back().size() + 511) / 512 * 512;
    }
    auto b = TemplateBlock(pkg::kImageRegion + total);
    PutOptions(b, static_cast<uint8_t>(spec.images.size()), spec.digits);
    b[pkg::kVisualStyle] = static_cast<uint8_t>(spec.visual);
    b[pkg::kFlashMode] = static_cast<uint8_t>(spec.flashMode);
    PutText(b, pkg::kTitle, std::string("Kestrel SSD Update\0", 19));
    size_t offset = 0;
    for (size_t k = 0; k < spec.images.size(); ++k) {
        const PackImage& im = spec.images[k];
        std::string rev = im.newFw, ext = im.fwExt;
        rev.resize(8, '\0');
        ext.resize(8, '\0');
        PutText(b, pkg::kNewFw + pkg::kRevEntrySize * k + pkg::kRevValueOffset, rev);
        PutText(b, pkg::kFwExt + pkg::kRevEntrySize * k + pkg::kRevValueOffset, ext);
        char num[16];
        std::snprintf(num, sizeof num, "%010zu", offset);
        PutText(b, pkg::kBinStart + pkg::kNumEntrySize * k + pkg::kNumValueOffset, num);
        std::snprintf(num, sizeof num, "%010zu", images[k].size());
        PutText(b, pkg::kBinSize + pkg::kNumEntrySize * k + pkg::kNumValueOffset, num);
        std::copy(images[k].begin(), images[k].end(), b.begin() + static_cast<std::ptrdiff_t>(pkg::kImageRegion + offset));
        offset += (images[k].size() + 511) / 512 * 512;
        if (!im.model.empty()) {
            // Record 0 of the image: this model, any revision; records 1..7 stay unfilled.
            FLSH_RECORD r{};
            std::memcpy(r.CMODEL, im.model.data(), std::min<size_t>(im.model.size(), 40));
            std::memcpy(b.data() + pkg::kRecords + pkg::kRecordGroupSize * k, &r, sizeof r);
        }
    }
    return b;
}

// Until the selection handler lands, the harness makes the selected drive current the way the
// selection does for the ATA and NVMe routes: the device object's drive, the serial and instance ID
// for the rescan, the image and the target texts.
inline void SelectListedDrive(TKestrelMain& w) {
    w.cboDrivesChange();
    if (!w.sCurSerial.empty()) return;  // the real handler ran
    const int pos = w.cboDrives.ItemIndex();
    if (pos < 0) return;
    const DEV_INFO& d = w.m_DevInfo[static_cast<size_t>(w.iItemDrive[static_cast<size_t>(pos)])];
    if (d.bIsNvme && d.bIsNvmeIrstDriver)
        w.pAtaDevice->SelectPort(d.order, nullptr, d.HA, SELECT_NVME);
    else if (d.bIsNvme)
        w.pAtaDevice->SelectPort(d.order, d.DevicePath, -1, SELECT_NVME);
    else
        w.pAtaDevice->SelectPort(d.order, w.DEV_PATH.empty() ? nullptr : w.DEV_PATH.c_str(), -1, SELECT_ATA);
    w.sCurSerial = ::kestrel::FieldText(d.szSerial, sizeof d.szSerial);
    w.sCurInstanceId = ::kestrel::FieldText(d.szInstanceId, sizeof d.szInstanceId);
    w.iCurImage = d.bEnabled ? d.iImageIndex : 0;
    const std::string old = ::kestrel::FieldText(d.szFwRev, sizeof d.szFwRev);
    const TargetRevision t = ChkO2N(d, old, w.package(), w.iCurImage, w, [&w](std::string_view l) { w.WriteLog(l); });
    w.lblOldFW.SetCaption(old);
    w.lblNewFW.SetCaption(t.lblNewFW);
    w.lblFWExt.SetCaption(t.lblFWExt);
    w.cmdUpdate.SetEnabled(d.bEnabled == 1);
}

constexpr const char* kWorkflowLog = "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt";

enum class Entry { Click, Deploy, Auto };

struct RunResult {
    RunResult() = default;
    RunResult(RunResult&&) = default;
    // The window holds handles of its machine: it goes first.
    RunResult& operator=(RunResult&& o) {
        w.reset();
        m = std::move(o.m);
        w = std::move(o.w);
        code = o.code;
        log = std::move(o.log);
        quit = o.quit;
        return *this;
    }
    ~RunResult() { w.reset(); }
    std::unique_ptr<sim::SimMachine> m;
    std::unique_ptr<TKestrelMain> w;
    int32_t code = -1;
    std::string log;
    bool quit = false;
};


// Runs one update from the scan to the end of the handler (or of the message loop for the timer
// entries) and saves the machine's state.
inline RunResult RunUpdate(const std::vector<uint8_t>& block, const nlohmann::json& patch, const std::filesystem::path& state,
                           std::vector<std::string> args = {}, std::vector<std::string> answers = {}, Entry entry = Entry::Click,
                           const std::function<void(TKestrelMain&, sim::SimMachine&)>& before = {}, bool virtualClock = true) {
    RunResult r;
    sim::SimOptions o;
    o.virtualClock = virtualClock;
    o.stateDir = state;
    o.answers = std::move(answers);
    r.m = MakeMachine(patch, o);
    // With a state folder an earlier run's log is still there: this run's lines are what follows.
    const size_t logStart = r.m->files().ReadWholeFile(kWorkflowLog).value_or("").size();
    r.w = std::make_unique<TKestrelMain>(r.m->platform(), PackageView(block), std::move(args));
    TKestrelMain& w = *r.w;
    EXPECT_TRUE(w.InitPackageOptions());
    EXPECT_TRUE(ParseCommandLine(w));
    if (w.iVisualStyle == 20) w.bSilent = true;
    w.pAtaDevice = std::make_unique<TAtaDevice>(r.m->platform());
    w.pAtaDevice->iVisualStyle = w.iVisualStyle;
    w.gScanType = 0;
    w.gCount = w.ScanSSDDrive(0);
    w.RefreshComboBox();
    SelectListedDrive(w);
    if (before) before(w, *r.m);
    switch (entry) {
        case Entry::Click: w.cmdUpdateClick(); break;
        case Entry::Deploy:
            w.FormShow();  // starts Timer1
            r.m->ui().RunMessageLoop();
            break;
        case Entry::Auto: w.tmrAutoFlashTimer(); break;
    }
    r.code = w.iErrorLevel;
    r.quit = r.m->ui().QuitRequested();
    r.m->SaveState();
    const std::string log = r.m->files().ReadWholeFile(kWorkflowLog).value_or("");
    r.log = log.size() >= logStart ? log.substr(logStart) : log;
    return r;
}

// The revision a drive reports now, from the state folder ("" when it was never written).
inline std::string StateRevision(const std::filesystem::path& state, const std::string& serial, const char* key = "revision") {
    std::ifstream in(state / "drives.json");
    if (!in) return "";
    const auto j = nlohmann::json::parse(in, nullptr, false);
    if (!j.is_object() || !j.contains(serial) || !j[serial].contains(key)) return "";
    return j[serial][key].get<std::string>();
}

// A fresh state folder per test, removed afterwards.
class StateDir {
public:
    StateDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("kestrel-wf-") + info->test_suite_name() + "-" + info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~StateDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    // A clean folder for the next case of a table.
    void Reset() {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }

private:
    std::filesystem::path path_;
};

}  // namespace kestrel::test
