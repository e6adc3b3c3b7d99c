#pragma once
// The process exit codes: the one failure channel a deployment system sees. iErrorLevel holds the
// run's outcome; the process returns its final value.
#include <cstdint>

namespace kestrel::exitcode {

constexpr int32_t kNotStarted = 255;      // ended before the package options were read
constexpr int32_t kOk = 0;                // updated, already up to date, erased, version file written
constexpr int32_t kFailure = 1;           // device object, rights, fatal drive, erase or download failure
constexpr int32_t kNoDrive = 2;           // no drive found; deployment run without arguments or target
constexpr int32_t kNoEligibleDrive = 3;   // none eligible; no drive in a deployment run; scan exception; erase on the system drive
constexpr int32_t kNoFirmware = 4;        // package without firmware (also: an image that does not fit its buffer or region)
constexpr int32_t kRstRequired = 7;       // NVMe on the inbox driver under an old Windows
constexpr int32_t kBadTargetAddress = 8;  // deployment target address not parsable
constexpr int32_t kStartupOrDeclined = 11;  // start-up in progress; closed without update; notice declined; boot-time install

}  // namespace kestrel::exitcode
