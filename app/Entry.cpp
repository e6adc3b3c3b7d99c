#include "app/Entry.h"

#include "app/KestrelMain.h"

namespace kestrel {

int RunKestrel(const Platform& platform, PackageView package, std::vector<std::string> args) {
    TKestrelMain main(platform, package, std::move(args));
    // The single-instance check runs before the start-up, so a second instance never reaches the drives.
    if (main.FormCreate()) {
        main.StartUp();
        if (main.bDeployMode) platform.ui->SetCloseEnabled(false);
        if (!platform.ui->QuitRequested() && main.bShowMainWindow) platform.ui->SetMainWindowVisible(true);
    }
    platform.ui->RunMessageLoop();
    main.FormDestroy();
    return main.iErrorLevel;
}

}  // namespace kestrel
