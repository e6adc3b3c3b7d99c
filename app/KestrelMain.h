#pragma once
// The main window object: it holds the run context and runs the start-up sequence, and its destroy
// handler ends the run. Window controls and their handlers arrive with the main-window code.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/RunContext.h"
#include "device/AtaDevice.h"
#include "discovery/DriveTable.h"
#include "package/PackageView.h"
#include "platform/Platform.h"
#include "support/HiTimer.h"
#include "support/OSInfo.h"

namespace kestrel {

class TAtaDevice;

constexpr const char* kInstanceMutexName = "ROOK_SCCM_TOOL_MUTEX";
constexpr uint32_t kBroadcastQueryDeny = 0x424D5144;
constexpr uint32_t kPbtApmQuerySuspendFailed = 2;

// The run context and the drive table are the main window's own members.
class TKestrelMain : public RunContext, public DriveTable {
public:
    TKestrelMain(const Platform& platform, PackageView package, std::vector<std::string> args);
    ~TKestrelMain();
    TKestrelMain(const TKestrelMain&) = delete;
    TKestrelMain& operator=(const TKestrelMain&) = delete;

    // The single-instance check. False when another instance holds the mutex: that instance has
    // been brought to the front and this run has been asked to quit (its exit code unchanged).
    bool FormCreate();
    // The start-up sequence (the window's construction).
    void StartUp();
    // The window's end: title and exit-code lines, the log archive step, the device object freed.
    void FormDestroy();
    // WM_POWERBROADCAST: the result to answer.
    uint32_t WMPowerBroadcast(uint32_t event);

    // One debug-log line from the main window: dropped until the package options have been read.
    void WriteLog(std::string_view text);
    // Ending the run with a code: set iErrorLevel, ask the message loop to quit, go no further.
    void EndRun(int32_t code);
    bool RunEnded() const { return runEnded_; }

    // Package options, caption, log file, gModelName; false when the options cannot be read (the
    // run then ends with 255).
    bool InitPackageOptions();

    // The boot-time road of the Update handler (app/BootTimeRoad.cpp): the image of the drive at
    // m_DevInfo[drive] is in the image buffer, deciphered, iBinSize its padded length; newFw and
    // fwExt are the target revisions the window shows. Writes FW.bin and the boot-time flasher,
    // registers it, asks for the reboot and ends the run (with 1 when the installation failed).
    void BootTimeRoad(TAtaDevice& device, size_t drive, const std::string& newFw, const std::string& fwExt);

    // Whether the main window is to be shown when the message loop starts.
    bool bShowMainWindow = true;
    uint32_t iOsVersionCode = 0;
    // Control captions set by the start-up (the window shows them).
    std::string sLabel1, sLblUpdateMsg, sLblTo, sLblMsg, sCmdUpdate, sCmdClose;

    const Platform& platform() const { return p_; }
    const PackageView& package() const { return pkg_; }
    const std::vector<std::string>& args() const { return args_; }
    HiTimer& timer() { return timer_; }
    OSInfo& osInfo() { return osInfo_; }
    std::vector<uint8_t>& imageBuffer() { return imageBuffer_; }

    // The one device object: null until the start-up creates it; the workflow replaces it around
    // its rescan.
    std::unique_ptr<TAtaDevice> pAtaDevice;

private:
    bool ShowStartupBoxes() const { return !(bSilent && !bUnattended); }
    std::string Text(const std::string& english) const;
    // Moves what the log holds so far into the log archive.
    void ArchiveLogStep();
    // Creates the device object; false when it cannot be created.
    bool CreateDeviceObject();
    void DestroyDeviceObject();

    Platform p_;
    PackageView pkg_;
    std::vector<std::string> args_;
    HiTimer timer_;
    OSInfo osInfo_;
    std::vector<uint8_t> imageBuffer_;
    MutexHandle instanceMutex_ = 0;
    bool startUpRan_ = false;
    bool runEnded_ = false;
};

}  // namespace kestrel
