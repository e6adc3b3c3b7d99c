#include "app/CommandLine.h"

#include <cctype>

#include "app/KestrelMain.h"
#include "package/PackageView.h"
#include "support/Format.h"

namespace kestrel {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A SCSI port number: decimal digits only, within a 32-bit int. A sign is refused: no controller
// has a negative number.
std::optional<int32_t> PortFromText(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(v);
}

}  // namespace

std::optional<uint64_t> SasAddressFromText(std::string_view text) {
    if (text.size() > 16) return std::nullopt;
    const size_t bytes = (text.size() + 1) / 2;
    uint64_t v = 0;
    // Pair k counted from the end (k = 0: the last two digits) is byte B-1-k of the memory image.
    for (size_t k = 0; k < bytes; ++k) {
        const size_t end = text.size() - 2 * k;
        const size_t begin = end >= 2 ? end - 2 : 0;
        uint32_t byte = 0;
        for (size_t i = begin; i < end; ++i) {
            const int h = HexValue(text[i]);
            if (h < 0) return std::nullopt;
            byte = byte * 16 + static_cast<uint32_t>(h);
        }
        v |= static_cast<uint64_t>(byte) << (8 * (bytes - 1 - k));
    }
    return v;
}

std::optional<int32_t> ParseCommandLine(RunContext& ctx, DriveTable& drives, const std::vector<std::string>& args,
                                        const LogSink& log) {
    for (const std::string& a : args) {
        const std::string up = Upper(a);
        if (up == "/S") ctx.bSilent = true;
        else if (up == "/ERASE") ctx.bErase = true;
        else if (up == "/VER") ctx.bVersionOnly = true;
        // "/NS", "/LOGFILE" and "/VLOGFILE" are accepted and change nothing.
    }
    if (!ctx.bDeployMode) return std::nullopt;
    if (args.empty()) return exitcode::kNoDrive;

    ctx.DEV_PATH.clear();
    for (const std::string& a : args) {
        const std::string s = "_" + a;
        const size_t t = s.find("/T:");
        if (t != std::string::npos) {
            ctx.DEV_PATH = TrimText(std::string_view(s).substr(t + 3));
            if (!ctx.DEV_PATH.empty()) log(Fmt("DEV_PATH:%s\n", ctx.DEV_PATH.c_str()));
            continue;
        }
        const size_t c = s.find("/C:");
        if (c == std::string::npos) continue;
        log(Fmt("/C: %s\n", s.c_str()));
        drives.gScanType = 1;
        // Text before "/C:" in the same argument is not a target we can trust.
        if (c != 1) return exitcode::kBadTargetAddress;
        const std::string_view rest = std::string_view(s).substr(c + 3);
        const size_t comma = rest.find(',');
        if (comma == std::string_view::npos) return exitcode::kBadTargetAddress;
        const std::optional<int32_t> port = PortFromText(TrimText(rest.substr(0, comma)));
        if (!port) return exitcode::kBadTargetAddress;
        const std::optional<uint64_t> sas = SasAddressFromText(TrimText(rest.substr(comma + 1)));
        if (!sas) return exitcode::kBadTargetAddress;
        ctx.SCSI_PORT = *port;
        ctx.INDEX = 0;
        ctx.PORT = 0;
        ctx.SAS_ADDR = *sas;
        log(Fmt("SCSI_PORT:%d, INDEX:%X, PORT:%X, SAS_ADDR: %016llX\n", ctx.SCSI_PORT, static_cast<uint32_t>(ctx.INDEX),
                static_cast<uint32_t>(ctx.PORT), static_cast<unsigned long long>(ctx.SAS_ADDR)));
    }
    if (drives.gScanType == 0 && ctx.DEV_PATH.empty()) return exitcode::kNoDrive;
    return std::nullopt;
}

bool ParseCommandLine(TKestrelMain& main) {
    const std::optional<int32_t> end =
        ParseCommandLine(main, main, main.args(), [&main](std::string_view line) { main.WriteLog(line); });
    if (!end) return true;
    main.bEndOfUpdate = true;
    main.EndRun(*end);
    return false;
}

}  // namespace kestrel
