#include "app/Entry.h"

#include "app/KestrelMain.h"

namespace kestrel {

int RunKestrel(const Platform& platform, PackageView package, std::vector<std::string> args) {
    TKestrelMain main(platform, package, std::move(args));
    platform.ui->SetPowerBroadcastHandler([&main](uint32_t event) { return main.WMPowerBroadcast(event); });
    // The single-instance check runs before the start-up, so a second instance never reaches the drives.
    if (main.FormCreate()) {
        main.StartUp();
        if (main.bDeployMode) platform.ui->SetCloseEnabled(false);
        if (!platform.ui->QuitRequested() && main.bShowMainWindow) {
            // OnShow runs as the window becomes visible, OnActivate once it is the active window.
            main.FormShow();
            platform.ui->SetMainWindowVisible(true);
            main.FormActivate();
        }
    }
    platform.ui->RunMessageLoop();
    main.FormDestroy();
    platform.ui->SetPowerBroadcastHandler(nullptr);
    return main.iErrorLevel;
}

}  // namespace kestrel
