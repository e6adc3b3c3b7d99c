#pragma once
// Process entry: the main window, its start-up, the message loop, the window's end, the exit code.
#include <string>
#include <vector>

#include "package/PackageView.h"
#include "platform/Platform.h"

namespace kestrel {

// Returns the process exit code (the final iErrorLevel).
int RunKestrel(const Platform& platform, PackageView package, std::vector<std::string> args);

}  // namespace kestrel
