#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace kestrel {

bool ParseCommandLine(TKestrelMain& main) {
    // The plain switches only; deployment targeting arrives with the command-line code.
    for (const std::string& a : main.args()) {
        std::string up = a;
        std::transform(up.begin(), up.end(), up.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (up == "/S") main.bSilent = true;
        else if (up == "/ERASE") main.bErase = true;
        else if (up == "/VER") main.bVersionOnly = true;
    }
    return true;
}

}  // namespace kestrel
