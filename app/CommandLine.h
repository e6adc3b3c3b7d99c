#pragma once
// The command line: "/S", "/ERASE", "/VER" (and, in deployment packages, the drive target "/T:" or
// "/C:" port "," SAS address).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/RunContext.h"
#include "discovery/DriveTable.h"
#include "support/LogSink.h"

namespace kestrel {

class TKestrelMain;

// Reads the switches from args (as the platform split the command line) into ctx and, for a
// deployment target, drives.gScanType; deployment lines go to log. The exit code with which the
// run must end (2 or 8), or nullopt when the run goes on. Sets nothing else.
std::optional<int32_t> ParseCommandLine(RunContext& ctx, DriveTable& drives, const std::vector<std::string>& args,
                                        const LogSink& log);

// The address text of "/C:" to the SAS_ADDR number: the bytes named most significant first become
// the number's little-endian memory image. nullopt for a non-hexadecimal digit or more than 16 digits.
std::optional<uint64_t> SasAddressFromText(std::string_view text);

// The start-up's step: parses main.args(); when the run must end, ends it (bEndOfUpdate set) and
// returns false.
bool ParseCommandLine(TKestrelMain& main);

}  // namespace kestrel
