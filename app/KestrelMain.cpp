#include "app/KestrelMain.h"

#include "app/CommandLine.h"
#include "app/Texts.h"
#include "package/PackageOptions.h"
#include "support/Big5.h"
#include "support/DebugLog.h"
#include "support/Format.h"
#include "support/ResultRecords.h"

namespace kestrel {
namespace {

constexpr uint32_t kErrorAccessDenied = 5;

}  // namespace

TKestrelMain::TKestrelMain(const Platform& platform, PackageView package, std::vector<std::string> args)
    : p_(platform),
      pkg_(package),
      args_(std::move(args)),
      timer_(*platform.clock, platform.ui),
      osInfo_(platform),
      imageBuffer_(kImageBufferSize, 0) {
    // The window's WM_POWERBROADCAST handler lives exactly as long as the window object. Tools that
    // only scan build the object without a ui.
    if (p_.ui) p_.ui->SetPowerBroadcastHandler([this](uint32_t event) { return WMPowerBroadcast(event); });
    BuildWindow();
}

TKestrelMain::~TKestrelMain() {
    if (p_.ui) p_.ui->SetPowerBroadcastHandler(nullptr);
    DestroyDeviceObject();
    if (instanceMutex_ != 0 && p_.ui) p_.ui->CloseMutex(instanceMutex_);
}

std::string TKestrelMain::Text(const std::string& english) const { return LocalText(english, iLanguage == 1); }

void TKestrelMain::WriteLog(std::string_view text) {
    if (!bLogEnabled) return;
    // Chinese texts go to the log in Big5, as the log's readers expect.
    AppendLogLine(*p_.files, *p_.clock, sLogFile, ToBig5(text), true);
}

void TKestrelMain::EndRun(int32_t code) {
    iErrorLevel = code;
    p_.ui->RequestQuit();
    runEnded_ = true;
}

bool TKestrelMain::FormCreate() {
    IUi& ui = *p_.ui;
    const MutexHandle other = ui.OpenNamedMutex(kInstanceMutexName);
    if (other != 0) {
        ui.CloseMutex(other);
        const std::string title = ui.ApplicationTitle();
        bShowMainWindow = false;
        ui.BringOtherInstanceToFront("TApplication", title);
        ui.RequestQuit();
        runEnded_ = true;
        return false;
    }
    instanceMutex_ = ui.CreateNamedMutex(kInstanceMutexName);
    return true;
}

bool TKestrelMain::InitPackageOptions() {
    std::string error;
    if (!ReadPackageOptions(pkg_, *this, error)) {
        p_.ui->MessageBox(Fmt("The package options cannot be read: %s.", error.c_str()), p_.ui->ApplicationTitle(),
                          MB_OK_FLAG | MB_ICONERROR_FLAG);
        return false;
    }
    if (bDeployMode) {
        p_.ui->SetSystemMenu(false);
        p_.ui->SetCaption("Updating firmware");
    } else {
        p_.ui->SetSystemMenu(true);
        p_.ui->SetCaption(Fmt("%s (%s)", pkg_.sTitle().c_str(), pkg_.sVersion().c_str()));
    }
    tmrCloseMsgInterval = static_cast<uint32_t>(iCloseMsgSeconds) * 1000u;

    iBinStart = 0;
    iBinSize = 0;
    iErrorLevel = exitcode::kOk;
    bErase = false;
    DestroyDeviceObject();
    bPowerGuard = false;
    DEV_PATH.clear();
    gScanType = 0;
    bEndOfUpdate = false;
    bLogEnabled = true;

    // sLogFile is set only once it names the log: a run that stops before has no log of its own,
    // and its archive steps must not touch what an earlier run left.
    const std::string tempDir = p_.files->GetTempPath();
    GetModelName(pkg_, *this, error);
    if (!error.empty()) {
        bLogEnabled = false;
        iErrorLevel = exitcode::kNotStarted;
        p_.ui->MessageBox(Fmt("The package cannot be read: %s.", error.c_str()), p_.ui->ApplicationTitle(),
                          MB_OK_FLAG | MB_ICONERROR_FLAG);
        return false;
    }
    sLogFile = tempDir + kDebugLogName;
    WriteLog(Fmt("GetModelName : gModelName=[%s] ", gModelName.c_str()));
    bNextDrive = false;
    return true;
}

void TKestrelMain::StartUp() {
    startUpRan_ = true;
    bIsSataIrst = 0;
    iOsVersionCode = osInfo_.GetOsVersionCode();
    if (!InitPackageOptions()) {
        EndRun(exitcode::kNotStarted);
        return;
    }
    WriteLog(Fmt("Init Vars done, OS: %Xh", iOsVersionCode));
    iErrorLevel = exitcode::kStartupOrDeclined;
    ArchiveLogStep();

    Label1.SetCaption(Text("Please select target device"));
    lblUpdateMsg.SetCaption(Text("it will be updated from"));
    lblTo.SetCaption(Text("To"));
    lblMsg.SetCaption(Text("Message"));
    cmdUpdate.SetCaption(Text("Update"));
    cmdClose.SetCaption(Text("Close"));

    WriteLog("Check usage ...");
    if (!ParseCommandLine(*this)) return;

    if (bSilent || iVisualStyle == 20) {
        bShowMainWindow = false;
        bSilent = true;
    }

    if (iImageCount == 0) {
        if (ShowStartupBoxes()) p_.ui->MessageBox(Text("No F/W in executable !"), "Error", MB_OK_FLAG | MB_ICONERROR_FLAG);
        EndRun(exitcode::kNoFirmware);
        return;
    }

    WriteLog("New AtaDevice ...");
    DestroyDeviceObject();
    if (!CreateDeviceObject()) {
        if (ShowStartupBoxes())
            p_.ui->MessageBox(Text("Device object initialize failed !"), Text("Error ..."), MB_OK_FLAG | MB_ICONERROR_FLAG);
        EndRun(exitcode::kFailure);
        return;
    }
    pAtaDevice->iVisualStyle = iVisualStyle;

    uint32_t lastError = pAtaDevice->dwLastError;
    if (osInfo_.bIsNT && !osInfo_.IsAdministrator()) lastError = kErrorAccessDenied;
    if (lastError == kErrorAccessDenied) {
        WriteLog("bNAdmin !");
        if (ShowStartupBoxes())
            p_.ui->MessageBox(Text("Access denied ! You must have administrator privilege to flash SSD."), Text("Error ..."),
                              MB_OK_FLAG | MB_ICONERROR_FLAG);
        EndRun(exitcode::kFailure);
        return;
    }

    ScanAndHandOver();
}

void TKestrelMain::FormDestroy() {
    // A second instance that quit at once never read its options: it must not touch the log that
    // the running instance is writing.
    if (startUpRan_) {
        WriteLog(Fmt("%s (%s)", pkg_.sTitle().c_str(), pkg_.sVersion().c_str()));
        WriteLog(Fmt("EXIT_ERROR: 0x%X\n", static_cast<uint32_t>(iErrorLevel)));
        ArchiveLogStep();
    }
    DestroyDeviceObject();
    p_.ui->SetMainWindowVisible(false);
}

uint32_t TKestrelMain::WMPowerBroadcast(uint32_t event) {
    if (!bPowerGuard || event == kPbtApmQuerySuspendFailed) return 0;
    const char* text = "Firmware is updating, all power change events are denied !";
    if (bSilent)
        WriteLog(text);
    else
        p_.ui->MessageBox(text, "Warning", MB_OK_FLAG | MB_ICONINFORMATION_FLAG | MB_TOPMOST_FLAG);
    return kBroadcastQueryDeny;
}

void TKestrelMain::ArchiveLogStep() {
    // A run whose log never started has nothing of its own to pack.
    if (!bLogEnabled || sLogFile.empty()) return;
    ArchiveLog(*p_.files, *p_.clock, sLogFile);
}

bool TKestrelMain::CreateDeviceObject() {
    try {
        pAtaDevice = std::make_unique<TAtaDevice>(p_);
    } catch (const std::exception&) {
        pAtaDevice.reset();
        return false;
    }
    return true;
}

void TKestrelMain::DestroyDeviceObject() { pAtaDevice.reset(); }

}  // namespace kestrel
