// The main window's logic over the simulated window: the drive list, its owner drawing, the layout
// operations, the status line, the timers, and the texts of both languages.
#include <gtest/gtest.h>

#include <cstring>

#include "app/DriveList.h"
#include "app/KestrelMain.h"
#include "app/Texts.h"
#include "support/Big5.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace kestrel {
void PrintTo(const UiDrawOp& op, std::ostream* os) {
    *os << (op.kind == UiDrawOp::Kind::Fill ? "Fill" : op.kind == UiDrawOp::Kind::Icon ? "Icon" : "Text") << "{rect "
        << op.rect.left << "," << op.rect.top << "," << op.rect.right << "," << op.rect.bottom << " at " << op.x << "," << op.y
        << " icon " << op.icon << " color 0x" << std::hex << op.color << std::dec << " \"" << op.text << "\"}";
}
}  // namespace kestrel

namespace {

void Put(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

// A drive as the scan leaves it; the package's one record makes models "SSD A" eligible.
DEV_INFO Drive(const std::string& model, const std::string& fw, uint16_t ha = 0) {
    DEV_INFO d;
    std::memset(&d, 0, sizeof d);
    d.bExisted = 1;
    Put(d.szCheckModel, 40, model);
    Put(d.szModel, 40, model);
    Put(d.szFwRev, 8, fw);
    d.HA = ha;
    return d;
}

std::vector<uint8_t> OneRecordPackage() {
    auto b = test::TemplateBlock(0x391A);
    const size_t at = pkg::kRecords;
    std::memset(&b[at], 0, pkg::kRecordSize);
    std::memcpy(&b[at + 16], "SSD A", 5);
    return b;
}

struct Window : ::testing::Test {
    std::unique_ptr<sim::SimMachine> m = test::MakeMachine();
    std::vector<uint8_t> block = OneRecordPackage();
    std::unique_ptr<TKestrelMain> w;
    std::string log;

    void SetUp() override {
        w = std::make_unique<TKestrelMain>(m->platform(), PackageView(block), std::vector<std::string>{});
        w->iImageCount = 1;
        w->bLogEnabled = true;
        log = m->files().GetTempPath() + "KestrelLog.txt";
        w->sLogFile = log;
    }
    sim::SimUi& ui() { return m->ui(); }
    const UiControlState& C(const std::string& name) {
        const UiControlState* c = ui().Control(name);
        if (c == nullptr) throw std::runtime_error("no control " + name);
        return *c;
    }
    std::string Log() { return m->files().ReadWholeFile(log).value_or(""); }
    void Drives(std::vector<DEV_INFO> drives) {
        for (size_t i = 0; i < drives.size(); ++i) w->m_DevInfo[i] = drives[i];
        w->gCount = static_cast<int32_t>(drives.size());
    }
};

UiDrawOp Fill(int l, int t, int r, int b, uint32_t color) {
    UiDrawOp op;
    op.kind = UiDrawOp::Kind::Fill;
    op.rect = UiRect{l, t, r, b};
    op.color = color;
    return op;
}

UiDrawOp Text(int x, int y, const std::string& text) {
    UiDrawOp op;
    op.kind = UiDrawOp::Kind::Text;
    op.x = x;
    op.y = y;
    op.text = text;
    return op;
}

UiDrawOp Icon(int x, int y, int icon) {
    UiDrawOp op;
    op.kind = UiDrawOp::Kind::Icon;
    op.x = x;
    op.y = y;
    op.icon = icon;
    return op;
}

}  // namespace

TEST_F(Window, ControlsOfTheForm) {
    EXPECT_EQ(ui().ClientWidth(), 449);
    EXPECT_EQ(ui().ClientHeight(), 190);
    struct Case {
        const char* name;
        int left, top;
        bool visible, enabled;
    } cases[] = {
        {"Image1", 0, 0, true, true},        {"Label1", 12, 72, true, true},     {"cboDrives", 8, 96, true, true},
        {"lblUpdateMsg", 12, 141, true, true}, {"lblFWExt", 176, 72, false, true}, {"cmdUpdate", 368, 150, true, true},
        {"cmdClose", 291, 150, false, true},  {"lblMsg", 395, 70, false, true},   {"cbMsg", 8, 96, false, false},
        {"lblPercent", 328, 141, false, true}, {"cboFwSlot", 70, 162, false, true}, {"cboCommitAction", 280, 162, false, true},
        {"Panel1", 0, 168, false, true},     {"Label8", 16, 112, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(C(c.name).left, c.left);
        EXPECT_EQ(C(c.name).top, c.top);
        EXPECT_EQ(C(c.name).visible, c.visible);
        EXPECT_EQ(C(c.name).enabled, c.enabled);
    }
    EXPECT_EQ(C("cboDrives").width, 433);
    EXPECT_EQ(C("cboDrives").itemHeight, 32);
    EXPECT_EQ(C("cmdUpdate").width, 73);
    EXPECT_EQ(C("cmdUpdate").height, 33);
    EXPECT_EQ(C("lblOldFW").color, 0x800000u);
    EXPECT_TRUE(C("lblOldFW").bold);
    EXPECT_EQ(C("lblNewFW").color, 33023u);
    EXPECT_TRUE(C("lblNewFW").bold);
    EXPECT_EQ(C("Label7").color, 33023u);
    EXPECT_EQ(C("Label5").parent, C("Panel1").id);
    EXPECT_EQ(w->cboDrivesMeasureItem(), 30);
}

TEST_F(Window, RefreshComboBoxListsAndSelects) {
    struct Case {
        const char* what;
        bool hidden;
        std::vector<std::string> models;  // "SSD A" is eligible
        std::vector<int32_t> itemDrive;
        int selected;
    } cases[] = {
        {"all listed, last eligible selected", false, {"SSD A", "SSD A", "SSD C"}, {0, 1, 2}, 1},
        {"hidden drives map positions", true, {"SSD C", "SSD A", "SSD C", "SSD A"}, {1, 3}, 1},
        {"none eligible: the first", false, {"SSD C", "SSD D"}, {0, 1}, 0},
        {"hidden and none eligible: empty", true, {"SSD C"}, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<DEV_INFO> drives;
        for (size_t i = 0; i < c.models.size(); ++i) drives.push_back(Drive(c.models[i], "R0.9", static_cast<uint16_t>(i)));
        Drives(drives);
        w->bHiddenDrives = c.hidden;
        w->RefreshComboBox();
        ASSERT_EQ(w->cboDrives.ItemCount(), static_cast<int>(c.itemDrive.size()));
        std::string detected;
        for (size_t p = 0; p < c.itemDrive.size(); ++p) {
            EXPECT_EQ(w->iItemDrive[p], c.itemDrive[p]);
            const std::string text = DriveItemText(w->m_DevInfo[static_cast<size_t>(c.itemDrive[p])]);
            EXPECT_EQ(w->cboDrives.Items()[p], text);
            detected += text + "\n";
        }
        EXPECT_EQ(w->sDetectedDrives, detected);
        EXPECT_EQ(w->cboDrives.ItemIndex(), c.selected);
        // The window shows the same list.
        EXPECT_EQ(C("cboDrives").items, w->cboDrives.Items());
        EXPECT_EQ(C("cboDrives").itemIndex, c.selected);
    }
}

TEST_F(Window, RefreshComboBoxLogsEveryDriveWithTheLastText) {
    Drives({Drive("SSD A", "R0.9", 1), Drive("SSD C", "R0.9", 2)});
    w->bHiddenDrives = true;
    w->RefreshComboBox();
    const std::string log = Log();
    const auto refresh = log.find("RefreshComboBox: bHiddenDrives:1  gCount:2 \r\n");
    const std::string shown = "cboDrives: str:(S)  1-0-0-0 SSD A R0.9 \r\n";
    ASSERT_NE(refresh, std::string::npos) << log;
    EXPECT_LT(log.find("ChkConstraint"), refresh) << "the constraint check runs first";
    const auto first = log.find(shown);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(shown, first + 1), std::string::npos) << "an unlisted drive logs the last text built";
}

TEST(DriveItemText, Formats) {
    DEV_INFO d = Drive("KESTREL SSD", "R1.0");
    d.bIsSystemDrive = 1;
    d.HA = 2;
    d.PathId = 0;
    d.Target = 1;
    d.Lun = 0;
    EXPECT_EQ(DriveItemText(d), "(M)  2-0-1-0 KESTREL SSD R1.0");
    d.bIsSystemDrive = 0;
    d.HA = 12;
    Put(d.szModel, 40, "  SSD B \t");
    EXPECT_EQ(DriveItemText(d), "(S) 12-0-1-0 SSD B R1.0");
    // Full-width fields without terminators: 40 characters of model, 8 of revision, nothing more.
    std::memset(d.szModel, 'M', 40);
    std::memset(d.szFwRev, 'R', 8);
    d.szSerial[0] = 'X';
    EXPECT_EQ(DriveItemText(d), "(S) 12-0-1-0 " + std::string(40, 'M') + " " + std::string(8, 'R'));
}

TEST(GradientBands, ExactColoursOfA32PixelItem) {
    // Band colours per channel s + (e - s) * 2i / bands, truncated toward zero; the two rows left
    // below the last whole band belong to it.
    const GradientColors selected{0xFFF2F2, 0xFCF1DC, 0xFFDFC8, 0xFFCBA4};
    const GradientColors disabled{0xE0F2FF, 0x5BEAFF, 0x5BD7FF, 0x00CCFF};
    struct Case {
        GradientColors g;
        std::vector<uint32_t> bands;
    } cases[] = {
        {selected, {0xFFF2F2, 0xFFF2EE, 0xFEF2EA, 0xFEF2E5, 0xFDF2E1, 0xFFDFC8, 0xFFDBC1, 0xFFD7BA, 0xFFD3B3, 0xFFCFAC}},
        {disabled, {0xE0F2FF, 0xC6F1FF, 0xABEFFF, 0x91EEFF, 0x76ECFF, 0x5BD7FF, 0x49D5FF, 0x37D3FF, 0x25D1FF, 0x13CFFF}},
    };
    for (const Case& c : cases) {
        const auto ops = GradientBands(UiRect{3, 3, 413, 35}, c.g);
        ASSERT_EQ(ops.size(), c.bands.size());
        for (size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE(i);
            const int top = 3 + 3 * static_cast<int>(i);
            EXPECT_EQ(ops[i], Fill(3, top, 413, i + 1 == ops.size() ? 35 : top + 3, c.bands[i]));
        }
    }
    EXPECT_TRUE(GradientBands(UiRect{0, 0, 10, 2}, selected).empty());
}

TEST_F(Window, DriveItemsDraw) {
    Drives({Drive("SSD A", "R0.9"), Drive("SSD C", "R0.9"), Drive("SSD C", "R0.9")});
    w->RefreshComboBox();
    const UiRect r = sim::SimUi::SelectionFieldRect(C("cboDrives"));
    ASSERT_EQ(r.top, 3);
    const auto item = [&](int n) { return w->cboDrives.Items()[static_cast<size_t>(n)]; };
    // Not selected: white for even items, light grey for odd ones; icon 1 for the eligible drive.
    EXPECT_EQ(ui().DrawListItem("cboDrives", 0, false),
              (std::vector<UiDrawOp>{Fill(3, 3, r.right, r.bottom, 0xFFFFFF), Icon(13, 3, 1), Text(48, 9, item(0))}));
    EXPECT_EQ(ui().DrawListItem("cboDrives", 1, false),
              (std::vector<UiDrawOp>{Fill(3, 3, r.right, r.bottom, 0xEEEEEE), Icon(13, 3, 0), Text(48, 9, item(1))}));
    // Selected: the gradient, then icon and text.
    const auto sel = ui().DrawListItem("cboDrives", 2, true);
    ASSERT_EQ(sel.size(), 12u);
    EXPECT_EQ(sel[0].color, 0xFFF2F2u);
    EXPECT_EQ(sel[10], Icon(13, 3, 0));
    EXPECT_EQ(sel[11], Text(48, 9, item(2)));
    EXPECT_TRUE(ui().DrawListItem("cboDrives", 3, false).empty()) << "no such item";

    // A disabled list: the yellow gradient and only the text, centred in the whole control.
    w->cboDrives.SetEnabled(false);
    const auto dis = ui().DrawListItem("cboDrives", 0, false);
    ASSERT_EQ(dis.size(), 11u);
    EXPECT_EQ(dis[0].color, 0xE0F2FFu);
    const UiSize size = ui().MeasureText(item(0), false);
    EXPECT_EQ(dis[10], Text((433 - size.cx) / 2, (38 - size.cy) / 2, item(0)));
}

TEST_F(Window, ShowStatus) {
    w->ShowStatus("FW updating ...");
    w->ShowStatus("Scanning devices ...");
    EXPECT_TRUE(C("cbMsg").visible);
    EXPECT_FALSE(C("cbMsg").enabled);
    EXPECT_EQ(C("cbMsg").items, std::vector<std::string>{"Scanning devices ..."});
    EXPECT_EQ(C("cbMsg").itemIndex, 0);
    const auto ops = ui().DrawListItem("cbMsg", 0, true);
    ASSERT_EQ(ops.size(), 11u);
    EXPECT_EQ(ops[0].color, 0xE0F2FFu) << "the disabled look, never the selection";
    const UiSize size = ui().MeasureText("Scanning devices ...", false);
    EXPECT_EQ(ops[10], Text((433 - size.cx) / 2, (38 - size.cy) / 2, "Scanning devices ..."));

    // Deployment runs show no status line.
    auto other = test::MakeMachine();
    TKestrelMain deploy(other->platform(), PackageView(block), {});
    deploy.bDeployMode = true;
    deploy.ShowStatus("FW updating ...");
    EXPECT_FALSE(other->ui().Control("cbMsg")->visible);
    EXPECT_TRUE(other->ui().Control("cbMsg")->items.empty());
}

TEST_F(Window, FormShowChainsTheUpdateLine) {
    w->lblUpdateMsg.SetCaption("It will be updated from");
    w->lblOldFW.SetCaption("R0.9");
    w->lblNewFW.SetCaption("R1.0");
    // Heights that make the halves truncate.
    w->lblUpdateMsg.SetHeight(17);
    w->lblTo.SetHeight(13);
    w->iFlashStage = 3;
    w->FormShow();
    const int msgW = ui().MeasureText("It will be updated from", false).cx;
    const int oldW = ui().MeasureText("R0.9", true).cx;
    const int toW = ui().MeasureText("To", false).cx;
    EXPECT_EQ(C("lblOldFW").left, 12 + msgW + 10);
    EXPECT_EQ(C("lblTo").left, 12 + msgW + 10 + oldW + 10);
    EXPECT_EQ(C("lblNewFW").left, 12 + msgW + 10 + oldW + 10 + toW + 10);
    EXPECT_EQ(C("lblOldFW").top, 141 + 8 - 8);
    EXPECT_EQ(C("lblTo").top, 141 + 8 - 6);
    EXPECT_EQ(w->iFlashStage, 0);
    // The interactive branch.
    EXPECT_EQ(w->iTickInterval, 100);
    EXPECT_EQ(C("lblPercent").text, "0%");
    EXPECT_EQ(C("ProgressBar2").position, 0);
    EXPECT_TRUE(C("cboDrives").visible);
    EXPECT_FALSE(C("Panel1").visible);
    EXPECT_FALSE(w->Timer1.Enabled());
    EXPECT_NE(Log().find("FormShow: 2\r\n"), std::string::npos);
}

TEST_F(Window, FormShowInADeploymentRunShowsTheProgressPanel) {
    w->bDeployMode = true;
    w->FormShow();
    EXPECT_NE(Log().find("FormShow: 1\r\n"), std::string::npos);
    EXPECT_FALSE(C("Image1").visible);
    EXPECT_FALSE(C("cboDrives").visible);
    EXPECT_EQ(ui().WindowHeight(), 160);
    const int client = 160 - sim::SimUi::kNonClientHeight;
    EXPECT_EQ(w->ClientHeight(), client);
    const UiControlState& panel = C("Panel1");
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(std::vector<int>({panel.left, panel.top, panel.width, panel.height}), std::vector<int>({0, 0, 449, client}));
    // Captions right-aligned on Label3.
    EXPECT_EQ(C("Label2").left, C("Label3").width - C("Label2").width + 16);
    EXPECT_EQ(C("Label4").left, C("Label3").width - C("Label4").width + 16);
    EXPECT_EQ(C("Label2").left + C("Label2").width, C("Label3").left + C("Label3").width);
    // Timer1 starts the update 2500 ms later, once.
    EXPECT_TRUE(w->Timer1.Enabled());
    EXPECT_EQ(w->Timer1.Interval(), 2500u);
}

TEST_F(Window, FormActivateStartsTheAutomaticRun) {
    struct Case {
        bool autoMode, deploy, expectTimer;
    } cases[] = {{true, false, true}, {true, true, false}, {false, false, false}};
    for (const Case& c : cases) {
        auto mm = test::MakeMachine();
        TKestrelMain win(mm->platform(), PackageView(block), {});
        win.bAutoMode = c.autoMode;
        win.bDeployMode = c.deploy;
        win.FormActivate();
        EXPECT_EQ(win.tmrAutoFlash.Enabled(), c.expectTimer);
        EXPECT_EQ(mm->ui().Control("cmdUpdate")->enabled, !c.expectTimer);
        EXPECT_FALSE(mm->ui().Click("cmdUpdate") && c.expectTimer) << "a disabled button takes no click";
    }
}

TEST_F(Window, TimersRunTheirHandlersOnTheWindowClock) {
    w->tmrCloseMsg.SetInterval(2000);
    w->sMsgTitle = "Information";
    w->tmrCloseMsg.SetEnabled(true);
    m->clock().SleepUntilNs(m->clock().NowNs() + 1'999'000'000);
    ui().ProcessMessages();
    EXPECT_TRUE(ui().ClosedWindowTitles().empty());
    m->clock().SleepUntilNs(m->clock().NowNs() + 1'000'000);
    ui().ProcessMessages();
    EXPECT_EQ(ui().ClosedWindowTitles(), std::vector<std::string>{"Information"});
    EXPECT_FALSE(w->tmrCloseMsg.Enabled()) << "the handler stops its timer";
}

TEST_F(Window, UserChoosesADrive) {
    Drives({Drive("SSD A", "R0.9"), Drive("SSD A", "R0.8")});
    w->RefreshComboBox();
    ASSERT_EQ(w->cboDrives.ItemIndex(), 1);
    EXPECT_TRUE(ui().Choose("cboDrives", 0));
    EXPECT_EQ(w->cboDrives.ItemIndex(), 0);
    EXPECT_EQ(C("cboDrives").text, w->cboDrives.Items()[0]);
    EXPECT_FALSE(ui().Choose("cboDrives", 2));
}

// The percentage beside the bar is only as wide as its figure: a label of the update line left
// under it would show its end beside "8%" (seen under Wine with 8-character revisions).
TEST_F(Window, TheProgressLineReplacesTheUpdateLine) {
    const char* line[] = {"lblUpdateMsg", "lblOldFW", "lblTo", "lblNewFW"};
    for (const char* name : line) ASSERT_TRUE(C(name).visible) << name;
    w->ProgressStart(true);
    for (const char* name : line) EXPECT_TRUE(C(name).visible) << name << ": the ticker alone leaves the line";
    EXPECT_FALSE(C("ProgressBar2").visible);

    w->ProgressStart();
    for (const char* name : line) EXPECT_FALSE(C(name).visible) << name;
    EXPECT_TRUE(C("ProgressBar2").visible);
    EXPECT_TRUE(C("lblPercent").visible);
    EXPECT_EQ(C("lblPercent").text, "0%");
}

TEST(WindowTexts, CaptionsInBothLanguages) {
    for (int language : {0, 1}) {
        // No drive: the selection of an eligible drive would replace the update line's caption.
        auto m = test::MakeMachine({{"disks", nlohmann::json::array()}});
        auto b = test::TemplateBlock(0x391A);
        test::PutOptions(b, 1, std::string(28, '0'));
        b[pkg::kLanguage] = static_cast<uint8_t>(language);
        TKestrelMain w(m->platform(), PackageView(b), {});
        w.StartUp();
        const auto text = [&](const char* n) { return m->ui().Control(n)->text; };
        if (language == 0) {
            EXPECT_EQ(text("Label1"), "Please select target device");
            EXPECT_EQ(text("lblUpdateMsg"), "it will be updated from");
            EXPECT_EQ(text("lblTo"), "To");
            EXPECT_EQ(text("lblMsg"), "Message");
            EXPECT_EQ(text("cmdUpdate"), "Update");
            EXPECT_EQ(text("cmdClose"), "Close");
        } else {
            EXPECT_EQ(text("Label1"), "請選擇您要更新的SSD");
            EXPECT_EQ(text("lblUpdateMsg"), "SDD韌體將被更新 , 從");
            EXPECT_EQ(text("lblTo"), "到");
            EXPECT_EQ(text("lblMsg"), "狀態訊息");
            EXPECT_EQ(text("cmdUpdate"), "更新");
            EXPECT_EQ(text("cmdClose"), "關閉");
            // Labels size themselves to the text they show.
            EXPECT_EQ(m->ui().Control("lblTo")->width, m->ui().MeasureText("到", false).cx);
        }
    }
}

TEST(Big5, TextsOfTheProgram) {
    EXPECT_EQ(ToBig5("更新"), "\xA7\xF3\xB7\x73");
    EXPECT_EQ(ToBig5("錯誤 ..."), "\xBF\xF9\xBB\x7E ...");
    // Bytes that are not one of the program's characters stay as they are.
    EXPECT_EQ(ToBig5("SSD \xE9\xA9\x9A \xFF\x80"), "SSD \xE9\xA9\x9A \xFF\x80");
    EXPECT_EQ(ToBig5("\xE6\x9B"), "\xE6\x9B") << "a cut sequence is copied";
    // Every Chinese text of the program converts completely: no UTF-8 lead byte remains.
    for (const auto& [english, chinese] : TextTable()) {
        const std::string big5 = ToBig5(chinese);
        for (size_t i = 0; i < big5.size(); ++i) {
            const auto c = static_cast<unsigned char>(big5[i]);
            if (c >= 0x81) {
                EXPECT_TRUE(c >= 0xA1 && c <= 0xF9) << english;
                ++i;  // second byte of the pair
            }
        }
        EXPECT_LT(big5.size(), chinese.size()) << english;
    }
}

TEST_F(Window, ChineseLogLinesAreBig5) {
    w->WriteLog("更新");
    EXPECT_NE(Log().find("\xA7\xF3\xB7\x73\r\n"), std::string::npos);
}

TEST_F(Window, SimulatorDrawsTheWindowAsText) {
    Drives({Drive("SSD A", "R0.9", 1), Drive("SSD C", "R0.7", 2)});
    w->RefreshComboBox();
    w->FormShow();
    const std::string frame = ui().Render();
    EXPECT_NE(frame.find("  > [ok] (S)  1-0-0-0 SSD A R0.9"), std::string::npos) << frame;
    EXPECT_NE(frame.find("    [--] (S)  2-0-0-0 SSD C R0.7"), std::string::npos) << frame;
    EXPECT_NE(frame.find("[ Update ]"), std::string::npos) << frame;
    // The status line lies over the drive list; the person sees only the status.
    w->ShowStatus("FW updating ...");
    const std::string updating = ui().Render();
    EXPECT_NE(updating.find("[FW updating ...  ]"), std::string::npos) << updating;
    EXPECT_EQ(updating.find("SSD A R0.9"), std::string::npos) << updating;
}
