#include "app/WindowGallery.h"

#include <algorithm>
#include <cstring>

#include "app/KestrelMain.h"
#include "app/Texts.h"
#include "package/FwPackage.h"

namespace kestrel {
namespace {

constexpr uint32_t kGalleryCloseTimer = 0x6A11;

void Put(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

DEV_INFO Drive(const std::string& model, const std::string& fw, uint16_t ha, uint16_t target, bool system) {
    DEV_INFO d;
    std::memset(&d, 0, sizeof d);
    d.bExisted = 1;
    Put(d.szCheckModel, sizeof d.szCheckModel, model);
    Put(d.szModel, sizeof d.szModel, model);
    Put(d.szFwRev, sizeof d.szFwRev, fw);
    d.HA = ha;
    d.Target = target;
    d.bIsSystemDrive = system ? 1 : 0;
    return d;
}

// A package whose one constraint record admits the model "KESTREL K2 480GB".
std::vector<uint8_t> GalleryPackage() {
    const auto own = OwnPackageBlock();
    std::vector<uint8_t> b(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(0x391A, own.size())));
    if (b.size() < 0x391A) return b;
    std::memset(&b[pkg::kRecords], 0, pkg::kRecordSize);
    const char model[] = "KESTREL K2 480GB";
    std::memcpy(&b[pkg::kRecords + 16], model, sizeof model - 1);
    return b;
}

}  // namespace

const std::vector<std::string>& GalleryStates() {
    static const std::vector<std::string> s = {"drives", "notallowed", "updating", "deploy", "chinese"};
    return s;
}

int RunWindowGallery(const Platform& platform, const std::string& state, uint32_t closeAfterMs,
                     const std::function<void()>& onShown) {
    const auto& states = GalleryStates();
    if (std::find(states.begin(), states.end(), state) == states.end()) return 2;
    const std::vector<uint8_t> block = GalleryPackage();
    TKestrelMain w(platform, PackageView(block), {});
    IUi& ui = *platform.ui;
    const bool chinese = state == "chinese";
    w.iImageCount = 1;
    w.iLanguage = chinese ? 1 : 0;
    w.bDeployMode = state == "deploy";
    // As the package options leave the frame: no system menu in deployment runs.
    ui.SetSystemMenu(!w.bDeployMode);
    ui.SetCaption(w.bDeployMode ? "Updating firmware" : "Kestrel SSD Update (v1.0.0.1)");
    const auto text = [&](const std::string& english) { return LocalText(english, chinese); };
    w.Label1.SetCaption(text("Please select target device"));
    w.lblTo.SetCaption(text("To"));
    w.lblMsg.SetCaption(text("Message"));
    w.cmdUpdate.SetCaption(text("Update"));
    w.cmdClose.SetCaption(text("Close"));

    w.m_DevInfo[0] = Drive("KESTREL K2 480GB", "K2R0.90", 0, 0, true);
    w.m_DevInfo[1] = Drive("GENERIC SATA SSD 256GB", "SBFM61.3", 1, 0, false);
    w.gCount = 2;
    w.RefreshComboBox();

    // The update line as the selection leaves it for the chosen drive.
    const bool notAllowed = state == "notallowed";
    if (notAllowed) {
        w.cboDrives.SetItemIndex(1);
        w.cmdUpdate.SetEnabled(false);
        w.lblOldFW.Hide();
        w.lblTo.Hide();
        w.lblNewFW.Hide();
        w.lblUpdateMsg.SetCaption(text("This drive is not allowed to be updated."));
        w.lblUpdateMsg.SetFontColor(clMaroon);
    } else {
        w.lblUpdateMsg.SetCaption(text("It will be updated from"));
        w.lblOldFW.SetCaption("K2R0.90");
        w.lblNewFW.SetCaption("K2R1.00");
        w.Label5.SetCaption("KESTREL K2 480GB");
        w.Label6.SetCaption("K2R0.90");
        w.Label7.SetCaption("K2R1.00");
    }
    w.FormShow();
    if (w.bDeployMode) {
        // Timer1 would start the update; the gallery only shows the panel at work.
        w.Timer1.SetEnabled(false);
        w.ProgressBar1.SetPosition(60);
    }
    if (state == "updating") {
        w.cmdUpdate.SetEnabled(false);
        w.ShowStatus("FW updating ...");
        w.ShowProgressLine();
        w.ProgressBar2.SetPosition(40);
        w.lblPercent.SetCaption("40%");
    }
    ui.SetMainWindowVisible(true);
    if (onShown) onShown();
    if (closeAfterMs > 0) ui.SetTimer(kGalleryCloseTimer, closeAfterMs, [&ui] { ui.RequestQuit(); });
    ui.RunMessageLoop();
    ui.KillTimer(kGalleryCloseTimer);
    ui.SetMainWindowVisible(false);
    return 0;
}

}  // namespace kestrel
