#include "app/Entry.h"

#include <exception>
#include <memory>

#include "app/KestrelMain.h"

namespace kestrel {
namespace {

// The application's exception box: the message, ended with a full stop, under the application's
// title. A foreign exception carries no message.
void ShowException(IUi& ui, std::string message) {
    if (!message.empty() && message.back() != '.') message += '.';
    ui.MessageBox(message, ui.ApplicationTitle(), MB_OK_FLAG | MB_ICONERROR_FLAG);
}

}  // namespace

int RunKestrel(const Platform& platform, PackageView package, std::vector<std::string> args) {
    IUi& ui = *platform.ui;
    std::unique_ptr<TKestrelMain> main;
    // Nothing may escape to the process entry: the C runtime would abort, and Windows reports an
    // abort as exit code 3, which a deployment system reads as "no eligible drive". The box is
    // shown, the window's end still runs (exit-code line, log archive) and the code is the one the
    // run had reached.
    bool failed = false;
    try {
        main = std::make_unique<TKestrelMain>(platform, package, std::move(args));
        // The single-instance check runs before the start-up, so a second instance never reaches the drives.
        if (main->FormCreate()) {
            main->StartUp();
            if (main->bDeployMode) ui.SetCloseEnabled(false);
            if (!ui.QuitRequested() && main->bShowMainWindow) {
                // OnShow runs as the window becomes visible, OnActivate once it is the active window.
                main->FormShow();
                ui.SetMainWindowVisible(true);
                main->FormActivate();
            }
        }
        ui.RunMessageLoop();
    } catch (const std::exception& e) {
        failed = true;
        ShowException(ui, e.what());
    } catch (...) {
        failed = true;
        ShowException(ui, "");
    }
    if (!main) return exitcode::kNotStarted;
    if (failed) {
        // A run cut short by an exception never reports success: 0 is also the value the options
        // reader leaves before the start-up has decided anything.
        if (main->iErrorLevel == exitcode::kOk) main->iErrorLevel = exitcode::kNotStarted;
        main->WriteLog("Exception: the run ends here");
    }
    try {
        main->FormDestroy();
    } catch (...) {
        // The window's end is best effort once the run has failed; the exit code stands.
    }
    return main->iErrorLevel;
}

}  // namespace kestrel
