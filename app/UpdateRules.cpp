#include "app/UpdateRules.h"

#include <algorithm>
#include <cstring>

#include "package/PackageView.h"
#include "support/Format.h"

namespace kestrel {
namespace {

// Characters from..from+count-1 (counted from 1), cut at the end of the text, trimmed.
std::string Piece(const std::string& s, size_t from, size_t count) {
    if (from - 1 >= s.size()) return std::string();
    return TrimText(s.substr(from - 1, count));
}

}  // namespace

bool IsRevTFamily(const std::string& revision) {
    if (Piece(revision, 4, 3) == "DQT") return true;
    const std::string two = Piece(revision, 4, 2);
    if (two == "DQ" || two == "RD" || two == "TT" || two == "BG") return true;
    return Piece(revision, 6, 1) == "V";
}

int32_t ChooseFirmwareSlot(const std::vector<std::string>& slotItems, const std::string& newFw, int32_t currentSlot,
                           const LogSink& log) {
    const std::string target = TrimText(newFw);
    if (IsRevTFamily(target)) {
        log("rev.t -> slot1");
        return 1;
    }
    int32_t slot = currentSlot;
    std::string smallest;
    bool haveSmallest = false;
    for (size_t j = 1; j < slotItems.size(); ++j) {
        const std::string item = TrimText(slotItems[j]);
        const std::string fw = item.size() > 3 ? TrimText(item.substr(3)) : std::string();
        const int32_t n = static_cast<int32_t>(j);
        log(Fmt("slotNO+slotFW(sTmp)=[%s], sCurrentSlotFw=[%s]", item.c_str(), fw.c_str()));
        if (fw == target) {
            log(Fmt("result: rev.eq slot%d", n));
            slot = n;
            break;
        }
        if (IsRevTFamily(fw)) {
            log(Fmt("result: rev.t slot%d", n));
            slot = n;
            break;
        }
        if (fw == "NA") {
            slot = n;
            log(Fmt("result: rev.na slot%d", n));
            break;
        }
        if (!haveSmallest) {
            smallest = fw;
            haveSmallest = true;
            slot = n;
            log(Fmt("assign smallest sTmpFw=%s slot%d", fw.c_str(), n));
        } else if (fw < smallest) {
            smallest = fw;
            slot = n;
            log(Fmt("smaller , assign sTmpFw=%s slot%d", fw.c_str(), n));
        }
    }
    if (slot < 1 || slot > 7) slot = 1;
    log(Fmt("iFlashSlot=%d, ", slot));
    return slot;
}

bool HasFatalDefCode(const char* szDefRev) {
    static constexpr const char* kCodes[] = {"KV3150", "KV4150", "KV5150", "KV6150"};
    const bool known = std::any_of(std::begin(kCodes), std::end(kCodes), [&](const char* c) { return std::memcmp(szDefRev, c, 6) == 0; });
    return known && szDefRev[6] >= '1' && szDefRev[6] <= '8';
}

std::string FlashErrorText(int32_t result, uint32_t detail) {
    switch (result) {
        case 1: return Fmt("ERROR: ATACMD_ERR, STATUS_REGISTER:0x%X", detail);
        case 2: return "There is something wrong, please check your drive !";
        case 0xFE: return Fmt("ERROR: ATACMD_FAIL, ERROR_CODE: 0x%X", detail);
        case 0xFF: return "ERROR: ATACMD_SYS_NOT_SUPPORT";
        default: return std::string();
    }
}

ProgressTick NextProgress(int32_t stage, int32_t position, double e, bool deployMode, uint32_t interval) {
    ProgressTick t{false, position, interval};
    int32_t& p = t.position;
    switch (stage) {
        case 1:
            if (p > 75) t.hold = true;
            else if (p > 55) t.interval = 1000;
            else if (p > 40) t.interval = 500;
            break;
        case 2:
            if (p > 85) t.hold = true;
            else if (p > 60) t.interval = 1000;
            else if (p > 40) t.interval = 500;
            break;
        case 3:
            if (p > 90) t.hold = true;
            else if (p > 80) t.interval = 1000;
            else if (p > 60) t.interval = 500;
            else if (e > 10 && p < 80) p = 80;
            break;
        case 4:
            if (p > 95) t.hold = true;
            else if (p > 90) t.interval = 1000;
            else if (e > 8) t.interval = 500;
            break;
        case 5:
            if (deployMode ? e > 10 : e > 3) p = 100;
            break;
        default: break;
    }
    // The bar's range is 0..100: a step at the top stays there.
    if (!t.hold) p = std::min(p + 1, 100);
    return t;
}

}  // namespace kestrel
