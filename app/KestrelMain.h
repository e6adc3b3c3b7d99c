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
#include "device/DriveIdentity.h"
#include "discovery/DriveTable.h"
#include "flash/FlashThread.h"
#include "package/AesCipher.h"
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

    // --- the flash thread (app/FlashThreadRunner.cpp)
    // Runs one job on the flash thread and returns its result (255 when the job stored none). The
    // GUI thread meanwhile pumps messages in 5 ms waits. A download or erase holds the power guard.
    int RunFlashThread(const MF_THREAD_PARAMETER& tMFThdParam);
    // The job's completion, on the GUI thread.
    void ThreadDone();
    bool bThreadDone = false;

    // --- target selection (app/Selection.cpp)
    // Makes the drive of the selected list entry the device object's current drive and shows what
    // it would be updated to; in a version-only run writes the version file instead.
    void cboDrivesChange();
    uint16_t iCurImage = 0;
    std::string sCurSerial;
    std::string sCurInstanceId;
    // --- drive identity (app/DriveIdentity.cpp): each fills m_CurIdentity from the selected drive.
    // ATA result code; the DEF field is never empty after a successful IDENTIFY.
    uint8_t ReadAtaIdentity();
    // ATA result code: the PPID from the drive's log 9Ah.
    uint8_t get_log_rook_ppid();
    // The PPID of an NVMe drive on the inbox driver, record `index` of the disk list.
    bool get_log_rook_ppid_nvme(int32_t index);
    // Identity, PPID and slot log of an NVMe drive behind Intel RST, by its SCSI path identifier.
    bool Identify_irst(int32_t pathId);
    // The firmware slot log through Intel RST; fills the slot and commit-action lists.
    bool getlog_irst(int32_t pathId);
    // The firmware slot information through the inbox driver: the current revision and the lists.
    bool LoadNvmeSlotInfo();

    // --- drive scan (app/DriveScan.cpp)
    // Kind 0: the disk list; kind 1: CSMI controllers. The number of filled elements (0 to 16), or
    // -1 when an exception ended the scan (iErrorLevel is then 3).
    int32_t ScanSSDDrive(int32_t kind);
    // 1 when the Intel RST controller's driver version text is not below "14.8.0.0" (byte-wise).
    int32_t CheckIrstDriver();
    // The Intel RST controller's driver version and description ("NA" until found).
    bool GetIrstDriverVersion(std::string& version, std::string& description);
    // Whether the disk at `path` holds the volume of the Windows system directory.
    bool IsSystemDrive(const char* path);
    // The start-up's scan step: kind 0 and, when it finds nothing and no device path was given,
    // kind 1. Sets gScanType and gCount.
    void ScanDrivesStep();

    // The scratch identity record of the identify operations.
    DRIVE_IDENTITY m_CurIdentity{};
    // The device object: null until the start-up creates it; the workflow replaces it around its rescan.
    std::unique_ptr<TAtaDevice> pAtaDevice;

    // --- the update workflow (app/UpdateChecks.cpp, app/FlashSequence.cpp, app/ProgressTimers.cpp)
    // One update attempt of the selected drive: what one cmdUpdateClick run keeps between its steps.
    struct UpdateState {
        UpdateState(IClock& clock, IUi* ui) : flashTimer(clock, ui), stepTimer(clock, ui) {}
        int32_t iLevel = 0;
        bool bFlashOk = false;
        bool bFound = true;
        bool bConfirmed = false;
        // The restart wait ran and some scan pass found the drive again.
        bool bRescanned = false;
        bool bEverFound = false;
        int32_t iResultKind = 0;
        std::string sRecordedFw;
        HiTimer flashTimer;
        HiTimer stepTimer;
        // The selected drive's element as it stood at the start: the rescan rewrites the table.
        DEV_INFO drive{};
        size_t driveIndex = 0;
    };
    // Shows progress from the start: the progress timer restarted and Timer2 running; unless
    // tickerOnly, also the bar and its percentage at 0.
    void ProgressStart(bool tickerOnly = false);
    // The NVMe firmware slot of the next download (1..7).
    int32_t iFlashSlot = 0;
    // The last failed download's result code and its detail (status register or Windows error).
    int32_t iFlashResult = 0;
    uint32_t iFlashDetail = 0;
    // The loaded image (the image buffer) once the normal road has loaded it.
    const uint8_t* pFwImage = nullptr;
    // Set while cmdUpdateClick runs: a second click (or timer) during a job is ignored.
    bool bUpdateRunning = false;
    HiTimer& progressTimer();

    // The boot-time road of the Update handler (app/BootTimeRoad.cpp): the image of the drive at
    // m_DevInfo[drive] is in the image buffer, deciphered, iBinSize its padded length; newFw and
    // fwExt are the target revisions the window shows. Writes FW.bin and the boot-time flasher,
    // registers it, asks for the reboot and ends the run (with 1 when the installation failed).
    void BootTimeRoad(TAtaDevice& device, size_t drive, const std::string& newFw, const std::string& fwExt);

    // Whether the main window is to be shown when the message loop starts.
    bool bShowMainWindow = true;
    uint32_t iOsVersionCode = 0;
    // The base directory of the log archive: the temporary directory as Windows gave it.
    std::string sTempDir;
    // Control captions set by the start-up (the window shows them).
    std::string sLabel1, sLblUpdateMsg, sLblTo, sLblMsg, sCmdUpdate, sCmdClose;

    const Platform& platform() const { return p_; }
    const PackageView& package() const { return pkg_; }
    const std::vector<std::string>& args() const { return args_; }
    HiTimer& timer() { return timer_; }
    OSInfo& osInfo() { return osInfo_; }
    std::vector<uint8_t>& imageBuffer() { return imageBuffer_; }

private:
    // The scan's kinds and the fills of one drive-table element from m_CurIdentity.
    int32_t ScanDiskList();
    int32_t ScanCsmiPreset();
    int32_t ScanCsmiControllers();
    void FillFromAtaIdentity(DEV_INFO& e, bool withPpid);
    void FillFromIrstIdentity(DEV_INFO& e, int32_t index);
    void RefreshFromInboxSlots(DEV_INFO& e, int32_t index);
    // The scan's 500 ms pause between identify attempts, window messages flowing.
    void ScanRetryWait();

    bool ShowStartupBoxes() const { return !(bSilent && !bUnattended); }
    std::string Text(const std::string& english) const;
    // Moves what the log holds so far into the log archive.
    void ArchiveLogStep();
    // Creates the device object; false when it cannot be created.
    bool CreateDeviceObject();
    void DestroyDeviceObject();

    // Steps of the update workflow.
    void ManualFileRoad(UpdateState& st);
    void NormalRoad(UpdateState& st);
    bool FatalDrive(const DEV_INFO& d);
    void FlashSequence(UpdateState& st);
    void RestartWaitAndRescan(UpdateState& st);
    void FinishUpdate(UpdateState& st);
    void CommonEnding(UpdateState& st);
    // A text for the user: the debug log in a silent run, otherwise a box with this title and icon.
    void ReportText(const std::string& text, const std::string& title, uint32_t icon);
    // The job's result with the other fields of the record zero.
    int RunJob(int32_t job, const std::string& devicePath = std::string());
    std::unique_ptr<HiTimer> progressTimer_;
    std::unique_ptr<ImageCipherContext> imageCipher_;

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
