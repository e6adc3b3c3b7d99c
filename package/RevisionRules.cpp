#include "package/RevisionRules.h"

#include <algorithm>
#include <cstring>

#include "support/Format.h"

namespace kestrel {
namespace {

// The number of images the records can describe: the count byte, bounded to the block's slots.
size_t ImagesToCheck(const PackageOptions& ctx) {
    return ctx.iImageCount <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(ctx.iImageCount), kImageSlots);
}

const char* MatchWord(bool match) { return match ? "match" : "mis-match"; }

// Evaluates record j of image i for a drive; true when it matches.
bool RecordMatches(const FLSH_RECORD& r, size_t j, const std::string& cur, const std::string& currModel, const LogSink& log) {
    const std::string start = PackageView::RecordField(r.START, sizeof r.START);
    const std::string end = PackageView::RecordField(r.END, sizeof r.END);
    const std::string cmodel = PackageView::RecordField(r.CMODEL, sizeof r.CMODEL);
    log(Fmt("  _FC STR: START=%.8s END=%.8s CMODEL=%.40s \n", start.c_str(), end.c_str(), cmodel.c_str()));

    // The template's unfilled first record: the image has no constraints.
    if (j == 0 && UnfilledRecord(r)) {
        log("NO constraint was set, exit check");
        return true;
    }

    int level = 0;
    if (cmodel.empty()) {
        level = 1;
    } else {
        log(Fmt("   CURR_MODEL:%.40s\n  CMODEL:%.40s", currModel.c_str(), cmodel.c_str()));
        if (currModel == cmodel) level = 1;
    }
    log(Fmt("  iPassLevel:%d %s\n", level, MatchWord(level == 1)));
    if (level != 1) return false;

    level = 2;
    if (start.empty()) {
        level = 3;
    } else {
        log(Fmt("   FWS[%.8s]|CFW[%.8s]", cur.c_str(), start.c_str()));
        if (cur.size() != start.size()) {
            log(Fmt("LEN ERR : FW%d CFWS%d CFWE%d \n", static_cast<int>(cur.size()), static_cast<int>(start.size()),
                    static_cast<int>(end.size())));
            return false;
        }
        if (cur >= start) level = 3;
    }
    log(Fmt("  iPassLevel:%d %s\n", level, MatchWord(level == 3)));
    if (level != 3) return false;

    if (end.empty()) {
        level = 4;
    } else {
        log(Fmt("   FWE[%.8s]|CFW[%.8s]", cur.c_str(), end.c_str()));
        if (cur <= end) level = 4;
    }
    log(Fmt("  iPassLevel:%d %s\n", level, MatchWord(level == 4)));
    return level == 4;
}

int Compare(const char* a, const char* b, size_t n) { return n == 0 ? 0 : std::memcmp(a, b, n); }

}  // namespace

std::string FieldText(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

bool UnfilledRecord(const FLSH_RECORD& r) {
    const std::string start = PackageView::RecordField(r.START, sizeof r.START);
    const std::string end = PackageView::RecordField(r.END, sizeof r.END);
    const std::string cmodel = PackageView::RecordField(r.CMODEL, sizeof r.CMODEL);
    return start.compare(0, 4, "#FLS") == 0 && !cmodel.empty() && cmodel[0] == '#' && !end.empty() && end[0] == '#';
}

void ChkConstraint(DriveTable& drives, const PackageView& package, const PackageOptions& ctx, const LogSink& log) {
    const size_t images = ImagesToCheck(ctx);
    for (size_t d = 0; d < drives.Count(); ++d) {
        DEV_INFO& dev = drives.m_DevInfo[d];
        log(Fmt("ChkConstraint: bExisted:%d, bUseFWExt:%d\n", dev.bExisted, ctx.bUseFWExt ? 1 : 0));
        dev.bEnabled = 0;
        if (dev.bExisted == 0) continue;

        const std::string cur = ctx.bUseFWExt ? TrimText(FieldText(dev.szDefRev, sizeof dev.szDefRev))
                                              : TrimText(FieldText(dev.szFwRev, sizeof dev.szFwRev));
        const std::string currModel = TrimText(FieldText(dev.szCheckModel, sizeof dev.szCheckModel));
        if (dev.bIsNvme == 1) {
            log(Fmt("  CURR0 | %40s | %.8s", currModel.c_str(), cur.c_str()));
        } else {
            // The variant character: the DEF index character (8th) or the revision's first.
            const std::string variant = ctx.bUseFWExt ? (cur.size() > 7 ? cur.substr(7, 1) : "") : cur.substr(0, 1);
            log(Fmt("  CURR%.1s | %40s | %.7s", variant.c_str(), currModel.c_str(), cur.c_str()));
        }

        for (size_t i = 0; i < images && dev.bEnabled == 0; ++i) {
            for (size_t j = 0; j < kRecordsPerImage; ++j) {
                if (RecordMatches(package.Record(i, j), j, cur, currModel, log)) {
                    dev.bEnabled = 1;
                    dev.iImageIndex = static_cast<uint16_t>(i);
                    break;
                }
            }
        }
    }
}

TargetRevision ChkO2N(const DEV_INFO& d, const std::string& lblOldFW, const PackageView& package, size_t k,
                      const PackageOptions& ctx, const LogSink& log) {
    const std::string old = lblOldFW.substr(0, strnlen(lblOldFW.c_str(), std::min<size_t>(lblOldFW.size(), 8)));
    const std::string rawTarget = ctx.bUseFWExt ? package.FwExtRaw(k) : package.NewFwRaw(k);
    std::string t = FieldText(rawTarget.data(), 8);
    log(Fmt("ChkO2N1: [%s][%s] ", old.c_str(), t.c_str()));

    const std::string oldTrim = TrimText(old);
    const std::string tTrim = TrimText(t);
    const bool longEnough = oldTrim.size() >= 5 && tTrim.size() >= 5;
    if (d.bIsNvme == 1 && longEnough && t.find("CVNFW") == std::string::npos && t.find('$') != std::string::npos) {
        // The capacity placeholder: a code from the drive's display model.
        struct Capacity {
            const char* texts[3];
            const char* five;   // both trimmed texts are 5 long
            const char* other;  // null: no change
        };
        static const Capacity kCodes[] = {{{"128"}, "3", "7"},  {{"256"}, "4", "8"},
                                          {{"512"}, "5", "9"},  {{"960"}, "8", "W"},
                                          {{"1024", "102", "1T"}, "6", "A"}, {{"2048", "204", "2T"}, "7", nullptr}};
        const std::string model = FieldText(d.szModel, sizeof d.szModel);
        const bool five = oldTrim.size() == 5 && tTrim.size() == 5;
        for (const Capacity& c : kCodes) {
            const bool found = std::any_of(std::begin(c.texts), std::end(c.texts),
                                           [&](const char* s) { return s && model.find(s) != std::string::npos; });
            if (!found) continue;
            const char* code = five ? c.five : c.other;
            if (code) t = five ? t.substr(0, 1) + code + (t.size() > 2 ? t.substr(2, 3) : "")
                               : t.substr(0, 2) + code + (t.size() > 3 ? t.substr(3, 5) : "");
            break;
        }
    } else if (longEnough && t.compare(0, 2, old, 0, 2) == 0) {
        // The drive keeps its own third revision character.
        t = t.substr(0, 2) + old[2] + (t.size() > 3 ? t.substr(3, 5) : "");
    }

    TargetRevision out;
    out.lblNewFW = d.bIsNvme == 1 ? t : FieldText(package.NewFwRaw(k).data(), 8);
    out.lblFWExt = t;
    log(Fmt("ChkO2N2: [%s][%s] ", old.c_str(), t.c_str()));
    return out;
}

void LogRevisionCompare(const DEV_INFO& d, const PackageView& package, size_t k, const TargetRevision& target,
                        const PackageOptions& ctx, const LogSink& log) {
    const bool nvme = d.bIsNvme == 1;
    const std::string fw = FieldText(d.szFwRev, sizeof d.szFwRev);
    const std::string def = FieldText(d.szDefRev, sizeof d.szDefRev);
    const std::string newFw = nvme ? target.lblNewFW : FieldText(package.NewFwRaw(k).data(), 8);
    const std::string fwExt = nvme ? target.lblFWExt : FieldText(package.FwExtRaw(k).data(), 8);
    log(Fmt("UP. bNFlash=%d,bFOld=%d, DEF7:%.8s%.8s DEF8:%.7s %.7s \n", ctx.bNFlashAuto ? 1 : 0, ctx.bFOld ? 1 : 0,
            fw.c_str(), newFw.c_str(), def.c_str(), fwExt.c_str()));
}

bool FirmwareUpToDate(const DEV_INFO& d, const PackageView& package, size_t k, const TargetRevision& target,
                      const PackageOptions& ctx, const LogSink& log) {
    int cmp = 0;
    if (ctx.bUseFWExt) {
        const std::string ext = package.FwExtRaw(k);
        cmp = Compare(d.szDefRev, ext.data(), 8);
    } else {
        // Over the length of the trimmed target, never past the drive's 8-byte field.
        const std::string wanted = d.bIsNvme == 1 ? TrimText(target.lblNewFW) : package.NewFwRaw(k);
        const size_t n = std::min<size_t>(d.bIsNvme == 1 ? wanted.size() : package.NEW_FW(k).size(), sizeof d.szFwRev);
        log(Fmt("FW compare size: %d\n", static_cast<int>(n)));
        std::string padded = wanted;
        padded.resize(std::max(padded.size(), n), '\0');
        cmp = Compare(d.szFwRev, padded.data(), n);
    }
    const bool upToDate = (ctx.bNFlashAuto && cmp == 0) || (!ctx.bFOld && cmp > 0);
    if (upToDate)
        log(ctx.bUseFWExt ? "bUseFWExt=true,This drive is the latest firmware\n" : "bUseFWExt=false,This drive is the latest firmware\n");
    return upToDate;
}

}  // namespace kestrel
