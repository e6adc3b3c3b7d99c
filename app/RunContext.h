#pragma once
// The run context: the values through which every part of the program learns how this run is to
// behave. They are members of the main window (TKestrelMain derives from this record); nothing here
// is global. Only the GUI thread touches them.
#include <cstdint>
#include <string>

#include "app/ExitCodes.h"

namespace kestrel {

struct RunContext {
    int32_t iErrorLevel = exitcode::kNotStarted;

    // Package option header and digits.
    int32_t iVisualStyle = 0;
    int32_t iLanguage = 0;
    int32_t iFlashMode = 0;
    int16_t iImageCount = 0;
    bool bUseFWExt = false;
    bool bReBoot = false;
    bool bAutoMode = false;
    bool bShutdownAfter = false;
    bool bHiddenDrives = false;
    bool bRebootAfter = false;
    bool bNFlashAuto = false;
    bool bBootcode = false;
    bool bDeployMode = false;
    bool bPreformat = false;
    bool bBeforePreformat = false;
    bool bFOld = false;
    bool bUnattended = false;
    bool bWindowsFlash = false;
    int32_t iNoticeStyle = 0;
    int32_t iCloseMsgSeconds = 0;

    // Command-line switches.
    bool bSilent = false;
    bool bErase = false;
    bool bVersionOnly = false;

    std::string gModelName = "Unknown";

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
