// kestrel-sim: the program over a simulated Windows machine.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/WindowGallery.h"
#include "package/FwPackage.h"
#include "sim/SimMachine.h"

int main(int argc, char** argv) {
    std::unique_ptr<kestrel::sim::SimMachine> machine;
    try {
        machine = kestrel::sim::SimMachine::FromEnvironment(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-sim: %s\n", e.what());
        return 255;
    }
    if (const char* state = std::getenv("KESTREL_SIM_GALLERY"); state && *state) {
        const char* seconds = std::getenv("KESTREL_SIM_GALLERY_SECONDS");
        const uint32_t closeAfterMs = seconds ? static_cast<uint32_t>(std::strtoul(seconds, nullptr, 10)) * 1000u : 0;
        const int code = kestrel::RunWindowGallery(machine->platform(), state, closeAfterMs);
        if (code != 0) std::fprintf(stderr, "kestrel-sim: unknown gallery state \"%s\"\n", state);
        return code;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = kestrel::RunKestrel(machine->platform(), kestrel::PackageView(kestrel::OwnPackageBlock(), kestrel::OwnProgramSlotSize()), std::move(args));
    machine->SaveState();
    return code;
}
