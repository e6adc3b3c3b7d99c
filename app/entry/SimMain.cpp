// kestrel-sim: the program over a simulated Windows machine.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Entry.h"
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
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = kestrel::RunKestrel(machine->platform(), kestrel::PackageView(kestrel::OwnPackageBlock(), kestrel::OwnProgramSlotSize()), std::move(args));
    machine->SaveState();
    return code;
}
