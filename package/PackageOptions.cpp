#include "package/PackageOptions.h"

#include "support/Format.h"

namespace kestrel {
namespace {

// A position read as a one-character text and converted as the platform's text-to-number
// conversion would: only a decimal digit converts.
bool Digit(const PackageView& v, int pos, int32_t& out, std::string& error) {
    const uint8_t c = v.OptionByte(pos);
    if (c < '0' || c > '9') {
        error = c == 0 ? Fmt("option position %d is missing", pos)
                       : Fmt("option position %d holds '%c' (0x%02X), not a digit", pos, c >= 0x20 && c < 0x7F ? c : '?', c);
        return false;
    }
    out = c - '0';
    return true;
}

bool Flag(const PackageView& v, int pos, bool& out, std::string& error) {
    int32_t d = 0;
    if (!Digit(v, pos, d, error)) return false;
    out = d != 0;
    return true;
}

}  // namespace

bool ReadPackageOptions(const PackageView& v, PackageOptions& ctx, std::string& error) {
    ctx.iVisualStyle = v.iVisualStyle();
    ctx.iLanguage = v.iLanguage();
    ctx.iFlashMode = v.iFlashMode();
    ctx.iImageCount = v.iImageCount();
    bool unused = false;
    // The order in which the program reads the positions.
    return Flag(v, 2, ctx.bUseFWExt, error) && Flag(v, 4, ctx.bReBoot, error) && Flag(v, 5, ctx.bAutoMode, error) &&
           Flag(v, 6, ctx.bShutdownAfter, error) && Digit(v, 7, ctx.iNoticeStyle, error) && Flag(v, 8, unused, error) &&
           Flag(v, 10, ctx.bHiddenDrives, error) && Flag(v, 19, ctx.bBootcode, error) && Flag(v, 22, ctx.bPreformat, error) &&
           Flag(v, 23, ctx.bBeforePreformat, error) && Flag(v, 27, ctx.bWindowsFlash, error) && Flag(v, 11, unused, error) &&
           Flag(v, 12, ctx.bRebootAfter, error) && Flag(v, 15, ctx.bNFlashAuto, error) && Flag(v, 17, unused, error) &&
           Flag(v, 20, ctx.bDeployMode, error) && Flag(v, 24, ctx.bFOld, error) && Flag(v, 25, ctx.bUnattended, error) &&
           Digit(v, 26, ctx.iCloseMsgSeconds, error);
}

bool GetModelName(const PackageView& v, PackageOptions& ctx, std::string& error) {
    ctx.gModelName = "Unknown";
    if (ctx.iImageCount == 0) return false;
    const std::string rev = v.NEW_FW(0);
    if (rev.empty()) {
        error = "the first image's target revision (NEW_FW1) is empty";
        return false;
    }
    switch (rev[0]) {
    case 'H': case 'R': case '5': case '6': ctx.gModelName = "Q7"; break;
    case 'T': ctx.gModelName = "RP5"; break;
    case 'F': case '3': case '7': case 'G': case 'W': ctx.gModelName = "J6"; break;
    case '4': ctx.gModelName = "RM8"; break;
    default: break;
    }
    return true;
}

}  // namespace kestrel
