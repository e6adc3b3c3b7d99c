// The command line: arbitrary arguments, with and without deployment mode.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    RunContext ctx;
    ctx.bDeployMode = data[0] & 1;
    DriveTable drives;
    // Arguments separated by NUL bytes, as the platform hands them over.
    std::vector<std::string> args;
    std::string cur;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(data[i]);
        }
    }
    if (size > 1) args.push_back(cur);
    size_t logged = 0;
    const auto end = ParseCommandLine(ctx, drives, args, [&](std::string_view l) { logged += l.size(); });
    // A deployment run that goes on always has a target.
    if (ctx.bDeployMode && !end && drives.gScanType == 0 && ctx.DEV_PATH.empty()) __builtin_trap();
    if (end && *end != 2 && *end != 8) __builtin_trap();
    if (!ctx.bDeployMode && (end || drives.gScanType != 0 || logged != 0)) __builtin_trap();

    // The address conversion alone: more than 16 digits never converts.
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto sas = SasAddressFromText(text);
    if (sas && text.size() > 16) __builtin_trap();
    return 0;
}
