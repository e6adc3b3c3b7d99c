// kestrel.exe: the program over the real Windows adapters.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "package/FwPackage.h"
#include "platform/win32/Win32Platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
    // The arguments as the C runtime splits the command line, without the program's own name.
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i] != nullptr ? __argv[i] : "");
    kestrel::win32::Win32Platform platform(instance);
    return kestrel::RunKestrel(platform.Get(), kestrel::PackageView(kestrel::OwnPackageBlock(), kestrel::OwnProgramSlotSize()), std::move(args));
}
