// kestrel-sim.exe: the program's real Windows window over a simulated machine (drives, device tree,
// services, files and registry), so the window can be seen with drives in it where no disk answers.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/WindowGallery.h"
#include "package/FwPackage.h"
#include "platform/win32/Win32Platform.h"
#include "sim/SimMachine.h"

int main(int argc, char** argv) {
    // The real window's timers run on real time; the simulated clock follows unless asked otherwise.
    if (std::getenv("KESTREL_SIM_CLOCK") == nullptr) _putenv_s("KESTREL_SIM_CLOCK", "real");
    std::unique_ptr<kestrel::sim::SimMachine> machine;
    try {
        machine = kestrel::sim::SimMachine::FromEnvironment(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-sim: %s\n", e.what());
        return 255;
    }
    kestrel::win32::Win32Platform win(::GetModuleHandleW(nullptr));
    kestrel::Platform platform = machine->platform();
    platform.ui = &win.ui();

    if (const char* state = std::getenv("KESTREL_SIM_GALLERY"); state && *state) {
        const char* seconds = std::getenv("KESTREL_SIM_GALLERY_SECONDS");
        const uint32_t closeAfterMs = seconds ? static_cast<uint32_t>(std::strtoul(seconds, nullptr, 10)) * 1000u : 0;
        HWND main = win.ui().MainWindow();
        const int code = kestrel::RunWindowGallery(platform, state, closeAfterMs, [main] {
            // Where the client area landed on the screen, for a check that reads pixels back.
            ::UpdateWindow(main);
            POINT origin{0, 0};
            ::ClientToScreen(main, &origin);
            RECT client{};
            ::GetClientRect(main, &client);
            std::printf("client %ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
            std::fflush(stdout);
        });
        if (code != 0) std::fprintf(stderr, "kestrel-sim: unknown gallery state \"%s\"\n", state);
        return code;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = kestrel::RunKestrel(platform, kestrel::PackageView(kestrel::OwnPackageBlock()), std::move(args));
    machine->SaveState();
    return code;
}
