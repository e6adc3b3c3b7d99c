#pragma once
// The three rules that decide what happens to a detected drive: the constraint check (may it be
// updated, and with which image), the target derivation (the exact revision text the drive will
// report afterwards) and the up-to-date decision (flash or not). All comparisons are byte-wise.
#include <cstddef>
#include <string>

#include "discovery/DriveTable.h"
#include "package/PackageOptions.h"
#include "package/PackageView.h"
#include "support/LogSink.h"

namespace kestrel {

constexpr const char* kLatestFirmwareStatus = "This drive is the latest firmware.";

// Sets bEnabled and iImageIndex of entries 0 to gCount-1 of the table from the package's
// constraint records (images 0 to iImageCount-1, at most the 15 the block has room for).
void ChkConstraint(DriveTable& drives, const PackageView& package, const PackageOptions& ctx, const LogSink& log);

struct TargetRevision {
    std::string lblNewFW;  // shown target
    std::string lblFWExt;  // derived target (hidden)
};

// The target derivation ("ChkO2N") for drive d and image k; lblOldFW is the drive's current
// revision as the window shows it (szFwRev, at most 8 characters).
TargetRevision ChkO2N(const DEV_INFO& d, const std::string& lblOldFW, const PackageView& package, size_t k,
                      const PackageOptions& ctx, const LogSink& log);

// The "UP." line the workflow logs before its checks: the drive's revisions against the targets
// (the labels for an NVMe drive, the package entries of image k for any other).
void LogRevisionCompare(const DEV_INFO& d, const PackageView& package, size_t k, const TargetRevision& target,
                        const PackageOptions& ctx, const LogSink& log);

// The up-to-date decision for drive d and image k: true when the drive is not to be flashed (it
// then logs the latest-firmware line; the status text is kLatestFirmwareStatus).
bool FirmwareUpToDate(const DEV_INFO& d, const PackageView& package, size_t k, const TargetRevision& target,
                      const PackageOptions& ctx, const LogSink& log);

// The template's unfilled record, as the constraint check reads it: START (trimmed) begins with
// "#FLS", END and CMODEL (trimmed) begin with "#". As an image's first record it leaves the image
// without constraints (every drive may take it); elsewhere it never matches.
bool UnfilledRecord(const FLSH_RECORD& r);

// A fixed-width field up to its first NUL (at most width characters).
std::string FieldText(const char* field, size_t width);

}  // namespace kestrel
