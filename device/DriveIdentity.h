#pragma once
// The scratch identity record that the identify operations fill and the drive scan copies into the
// drive table. Fixed-width byte fields without terminators, as the drives report them.
#include <cstdint>

namespace kestrel {

struct DRIVE_IDENTITY {
    char szFwRev[8];
    char szModel[40];
    char szSerial[20];
    char szDefRev[8];  // seven characters of the DEF revision and its index character (byte 7)
    char szPPID[32];
    uint8_t bSlotCount;  // NVMe firmware slot count (Identify Controller FRMW bits 1-3)
};

}  // namespace kestrel
