#pragma once
// The run context: the values through which every part of the program learns how this run is to
// behave. They are members of the main window (TKestrelMain derives from this record); nothing here
// is global. Only the GUI thread touches them.
#include <cstdint>
#include <string>

#include "app/ExitCodes.h"
#include "package/PackageOptions.h"

namespace kestrel {

// The package's option header and digits and gModelName come from PackageOptions, the part of the
// run context that the package layer reads and fills.
struct RunContext : PackageOptions {
    int32_t iErrorLevel = exitcode::kNotStarted;

    // Command-line switches.
    bool bSilent = false;
    bool bErase = false;
    bool bVersionOnly = false;

    // Deployment target.
    std::string DEV_PATH;
    int32_t SCSI_PORT = 0;
    int32_t INDEX = 0;
    int32_t PORT = 0;
    uint64_t SAS_ADDR = 0;

    bool bEndOfUpdate = false;
    bool bNextDrive = false;
    std::string sLogFile;
    bool bLogEnabled = false;
    bool bPowerGuard = false;

    // Image loading.
    uint32_t iBinStart = 0;
    uint32_t iBinSize = 0;
    uint32_t tmrCloseMsgInterval = 0;  // ms
};

}  // namespace kestrel
