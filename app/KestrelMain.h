#pragma once
// The main window object: it holds the run context and runs the start-up sequence, its controls and
// their handlers, and its destroy handler ends the run.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Controls.h"
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

// The main window's client area and the ids of its timers.
constexpr int kClientWidth = 449;
constexpr int kClientHeight = 190;
constexpr uint32_t kTimer1Id = 1;
constexpr uint32_t kTimer2Id = 2;
constexpr uint32_t kTmrAutoFlashId = 3;
constexpr uint32_t kTmrCloseMsgId = 4;
// The two icons of ImageList2.
constexpr int kIconNotEligible = 0;
constexpr int kIconEligible = 1;

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
    bool IrstAdminRead(TAtaDevice& dev, int32_t pathId, const wire::NVME_COMMAND& cmd, const char* caller);
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
    // The start-up from the scan on (app/StartupHandOver.cpp): the drive list, the eligible-drive
    // decision, the warnings and the hand-over to the update, the automatic timer or the window.
    void ScanAndHandOver();

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
    // tickerOnly, also the progress line (ShowProgressLine) at 0.
    void ProgressStart(bool tickerOnly = false);
    // The bar and its percentage take the update line's place; the line's labels go until a drive
    // is selected again.
    void ShowProgressLine();
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

    // ---- The window (app/MainWindow.cpp, app/DriveList.cpp) ----

    // Rebuild the drive list from the drive table (runs the constraint check first).
    void RefreshComboBox();
    // Show handler; also lays the update line's labels out (the selection calls it for that).
    void FormShow();
    void FormActivate();
    // The deployment layout: only the progress panel.
    void ShowProgressPanel();
    void tmrCloseMsgTimer();
    // The status line during an update: cbMsg, disabled, holding this one selected line. Nothing is
    // shown in deployment runs.
    void ShowStatus(const std::string& text);
    // Owner drawing of the two lists, as a list of draw operations in the list's coordinates.
    std::vector<UiDrawOp> cboDrivesDrawItem(int n, const UiRect& rect, bool selected);
    std::vector<UiDrawOp> cbMsgDrawItem(int n, const UiRect& rect, bool selected);
    static constexpr int cboDrivesMeasureItem() { return 30; }
    // Sets the window's outer height (ShowProgressPanel sets 160).
    void SetWindowHeight(int height);
    int ClientHeight() const { return iClientHeight; }

    // Handlers written with the selection and update workflow code; the window calls them.
    void cmdUpdateClick();
    void Timer1Timer();
    void Timer2Timer();
    void tmrAutoFlashTimer();

    // Controls, with their places in the client area (Panel1's children within the panel).
    TImage Image1{"Image1", 0, 0, kClientWidth, 65};
    TLabel Label1{"Label1", 12, 72, "Please select target device :"};
    TComboBox cboDrives{"cboDrives", 8, 96, 433, 32};
    TLabel lblUpdateMsg{"lblUpdateMsg", 12, 141, "it will be updated from"};
    TLabel lblOldFW{"lblOldFW", 150, 141, "", true, clNavy, true};
    TLabel lblTo{"lblTo", 200, 141, "To"};
    TLabel lblNewFW{"lblNewFW", 230, 141, "", true, clOrange, true};
    TLabel lblFWExt{"lblFWExt", 176, 72, "", false};
    TButton cmdUpdate{"cmdUpdate", 368, 150, 73, 33, "Update"};
    TButton cmdClose{"cmdClose", 291, 150, 73, 33, "Close", false};
    TLabel lblMsg{"lblMsg", 395, 70, "Message", false};
    TComboBox cbMsg{"cbMsg", 8, 96, 433, 32, false, false};
    // The bar sits on the update line, left of its percentage, so that the status line in the
    // list's place stays readable while both show.
    TProgressBar ProgressBar2{"ProgressBar2", 8, 141, 320, 16, false};
    TLabel lblPercent{"lblPercent", 328, 141, "0%", false};
    TLabel lblFwSlot{"lblFwSlot", 12, 165, "FW Slot :", false};
    TComboBox cboFwSlot{"cboFwSlot", 70, 162, 100, 0, false};
    TLabel lblCommitAction{"lblCommitAction", 186, 165, "Commit Action :", false};
    TComboBox cboCommitAction{"cboCommitAction", 280, 162, 60, 0, false};
    TPanel Panel1{"Panel1", 0, 168, kClientWidth, 152, false};
    TLabel Label2{"Label2", 16, 14, "Model :"};
    TLabel Label3{"Label3", 16, 38, "Current FW Version :"};
    TLabel Label4{"Label4", 16, 62, "New FW Version :"};
    TLabel Label5{"Label5", 160, 14, "", true, clNavy, true};
    TLabel Label6{"Label6", 160, 38, "", true, clNavy, true};
    TLabel Label7{"Label7", 160, 62, "", true, clOrange, true};
    TLabel Label8{"Label8", 16, 112, "", false};
    TProgressBar ProgressBar1{"ProgressBar1", 16, 88, 417, 18};
    TTimer tmrCloseMsg{kTmrCloseMsgId, 2000};
    TTimer Timer1{kTimer1Id, 2500};
    TTimer Timer2{kTimer2Id, 100};
    TTimer tmrAutoFlash{kTmrAutoFlashId, 2000};

    // Drive-list position to m_DevInfo index.
    std::array<int32_t, kMaxDrives> iItemDrive{};
    // One line per listed drive.
    std::string sDetectedDrives;
    // Update stage the progress timer reads (0; 1 to 5 during an update).
    int32_t iFlashStage = 0;
    // The progress timer's next interval, milliseconds.
    int32_t iTickInterval = 0;
    // The caption of the message that tmrCloseMsg would close.
    std::string sMsgTitle;

    // Whether the main window is to be shown when the message loop starts.
    bool bShowMainWindow = true;
    uint32_t iOsVersionCode = 0;

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
    // The slot item of the lists: number, period, blank and revision ("NA" for a blank one).
    static std::string SlotItem(int number, const char* revision);
    // Rebuilds the hidden slot and commit-action lists: slot item 0 and commit action 3 selected
    // (nothing selected in an empty list).
    void SetSlotLists(const std::vector<std::string>& slots, const std::vector<std::string>& actions);
    // The scan's 500 ms pause between identify attempts, window messages flowing.
    void ScanRetryWait();

    bool ShowStartupBoxes() const { return !(bSilent && !bUnattended); }
    std::string Text(const std::string& english) const;
    // Moves what the log holds so far into the log archive.
    void ArchiveLogStep();
    // Creates the device object; false when it cannot be created.
    bool CreateDeviceObject();
    void DestroyDeviceObject();
    // Gives every control its id and hands it to the ui port; wires the timers and events.
    void BuildWindow();
    // Every control, in creation (z) order.
    std::vector<TControl*> AllControls();
    void OnControlEvent(int control, UiEvent event, int value);
    std::vector<UiDrawOp> OnDrawItem(const UiDrawItem& item);
    // One list item: background, icon (none when icon < 0) and text.
    std::vector<UiDrawOp> ListItemOps(const TComboBox& list, int n, const UiRect& rect, bool selected, const std::string& text,
                                      int icon);

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
    // Updates that reached the common ending (the automatic run tells skipped drives apart).
    int32_t iEndedUpdates_ = 0;
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
    int iClientHeight = kClientHeight;
};

}  // namespace kestrel
