#pragma once
// The option header and option digits of the package block, turned into run flags.
#include <cstdint>
#include <string>

#include "package/PackageView.h"

namespace kestrel {

// What the package fixes about a run: the option header, the option digits and the model name
// derived from the first image. The run context of the main window holds these among its values;
// the package layer sees only this part of it.
struct PackageOptions {
    // Option header.
    int32_t iVisualStyle = 0;
    int32_t iLanguage = 0;
    int32_t iFlashMode = 0;
    int16_t iImageCount = 0;
    // Option digits.
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

    std::string gModelName = "Unknown";
};

// Reads the header bytes and the option positions into opts, in the order the program reads them.
// False (with the position named in error) when a position is missing or is not a digit: the
// start-up then ends with 255, as a failed conversion does.
bool ReadPackageOptions(const PackageView& view, PackageOptions& opts, std::string& error);

// gModelName from the first image's target revision; true when the package holds an image. When
// the package claims images but NEW_FW(0) is empty the result is false and error says why (the
// conversion failure that ends the start-up with 255); otherwise error is left empty.
bool GetModelName(const PackageView& view, PackageOptions& opts, std::string& error);

}  // namespace kestrel
