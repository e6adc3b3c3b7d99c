#pragma once
// The command line: "/S", "/ERASE", "/VER" (and, in deployment packages, the drive target).
#include "app/KestrelMain.h"

namespace kestrel {

// Sets the switches from main.args(); false when it ended the run.
bool ParseCommandLine(TKestrelMain& main);

}  // namespace kestrel
