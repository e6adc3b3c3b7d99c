// The Update handler: the entry, the NVMe slot choice, the manual-file road, and the checks that may
// end an update before anything is written to the drive. The flashing itself is FlashSequence.cpp.
#include <algorithm>
#include <cstring>

#include "app/KestrelMain.h"
#include "app/UpdateRules.h"
#include "package/RevisionRules.h"
#include "support/Format.h"
#include "support/ResultRecords.h"

namespace kestrel {
namespace {

constexpr int kVkControl = 0x11;
constexpr int kVkMenu = 0x12;  // Alt
constexpr int kVkT = 0x54;
constexpr int kVkF5 = 0x74;

constexpr uint32_t kNvmeImageLimit = static_cast<uint32_t>(kImageBufferSize);

// Clears the flag on every way out of the handler.
struct RunningFlag {
    bool& flag;
    explicit RunningFlag(bool& f) : flag(f) { flag = true; }
    ~RunningFlag() { flag = false; }
};

}  // namespace

HiTimer& TKestrelMain::progressTimer() {
    if (!progressTimer_) progressTimer_ = std::make_unique<HiTimer>(*p_.clock, p_.ui);
    return *progressTimer_;
}

void TKestrelMain::ReportText(const std::string& text, const std::string& title, uint32_t icon) {
    if (bSilent)
        WriteLog(text);
    else
        p_.ui->MessageBox(text, title, MB_OK_FLAG | icon);
}

int TKestrelMain::RunJob(int32_t job, const std::string& devicePath) {
    MF_THREAD_PARAMETER tMFThdParam{};
    tMFThdParam.pDevice = job == kJobRescan ? nullptr : pAtaDevice.get();
    tMFThdParam.iJob = job;
    tMFThdParam.sDevicePath = devicePath;
    return RunFlashThread(tMFThdParam);
}

void TKestrelMain::cmdUpdateClick() {
    // The manual-file road leaves the button enabled while its job runs; a click then, or a timer
    // that fires while an update waits, must not start a second one.
    if (bUpdateRunning) return;
    RunningFlag running(bUpdateRunning);

    const uint32_t osCode = osInfo_.GetOsVersionCode();
    iOsVersionCode = osCode;
    if (!imageCipher_) imageCipher_ = std::make_unique<ImageCipherContext>();
    ImageCipherPrepare(*imageCipher_);

    UpdateState st(*p_.clock, p_.ui);
    const int pos = cboDrives.ItemIndex();
    const int32_t idx = pos >= 0 && pos < static_cast<int>(kMaxDrives) ? iItemDrive[static_cast<size_t>(pos)] : -1;
    if (idx < 0 || idx >= static_cast<int32_t>(kMaxDrives) || static_cast<size_t>(idx) >= Count()) {
        // Nothing listed or selected: there is no drive to change.
        WriteLog("cmdUpdateClick - no drive selected");
        return;
    }
    st.driveIndex = static_cast<size_t>(idx);
    st.drive = m_DevInfo[st.driveIndex];
    if (st.drive.bEnabled != 1) {
        // The automatic run walks every listed drive, eligible or not: a drive that no image was
        // chosen for must never receive one.
        WriteLog(Fmt("cmdUpdateClick - drive not allowed to be updated: %.40s %.8s", st.drive.szModel, st.drive.szFwRev));
        return;
    }

    WriteLog(Fmt("cmdUpdateClick - iFlashSlot=%d, SlotCount=%d ", iFlashSlot, cboFwSlot.ItemCount()));
    if (cboFwSlot.ItemCount() > 0)
        iFlashSlot = ChooseFirmwareSlot(cboFwSlot.Items(), lblNewFW.Caption(), iFlashSlot, [this](std::string_view s) { WriteLog(s); });
    WriteLog("cmdUpdateClick");
    st.flashTimer.Start(true);

    IUi& ui = *p_.ui;
    const auto down = [&ui](int key) { return ui.GetKeyState(key) < 0; };
    if (down(kVkControl) && down(kVkMenu) && (down(kVkT) || down(kVkF5)))
        ManualFileRoad(st);
    else
        NormalRoad(st);
}

void TKestrelMain::ManualFileRoad(UpdateState& st) {
    const auto path = p_.ui->OpenFileDialog("Open", "Firmware Files (*.BIN) |*.BIN");
    if (!path || !p_.files->FileExists(*path)) {
        st.flashTimer.Stop();
        return;
    }
    iFlashSlot = 1;
    if (!bDeployMode) ProgressStart(true);

    // The file is refused before anything is sent when it is empty or larger than what the route
    // can carry: the device object's read buffer for ATA, the image buffer for NVMe.
    const auto bytes = p_.files->ReadWholeFile(*path);
    const uint32_t limit = st.drive.bIsNvme ? kNvmeImageLimit : kDeviceBufferSize;
    std::string refusal;
    if (!bytes)
        refusal = Fmt("The firmware file cannot be read: %s", path->c_str());
    else if (bytes->empty())
        refusal = Fmt("The firmware file is empty: %s", path->c_str());
    else if (bytes->size() > limit)
        refusal = Fmt("The firmware file is too large for this drive (%zu bytes, at most %u): %s", bytes->size(), limit,
                      path->c_str());
    if (!refusal.empty()) {
        WriteLog(refusal);
        p_.ui->MessageBox(refusal, "Error", MB_OK_FLAG | MB_ICONERROR_FLAG);
        st.flashTimer.Stop();
        return;
    }
    std::vector<uint8_t> image(bytes->begin(), bytes->end());

    MF_THREAD_PARAMETER tMFThdParam{};
    tMFThdParam.pDevice = pAtaDevice.get();
    tMFThdParam.pImage = image.data();
    tMFThdParam.BinSize = static_cast<uint32_t>(image.size());
    tMFThdParam.bFwReboot = 0;
    tMFThdParam.bUpdateBoot = 0;
    tMFThdParam.iFlashMode = iFlashMode;
    tMFThdParam.max_sector = 1;
    tMFThdParam.iJob = kJobDownload;
    tMFThdParam.HA = static_cast<int16_t>(st.drive.HA);
    tMFThdParam.Target = st.drive.Target;
    tMFThdParam.PathId = st.drive.PathId;
    tMFThdParam.Lun = st.drive.Lun;
    tMFThdParam.bIsNvme = st.drive.bIsNvme;
    tMFThdParam.bIsNvmeIrstDriver = st.drive.bIsNvmeIrstDriver;
    tMFThdParam.iNvmeFwSlot = iFlashSlot;
    tMFThdParam.iCommitAction = 1;
    WriteLog(Fmt("HA:%d,PathId:%d,Target:%d,Lun:%d,IsNVMe:%d,IsIrst:%d,FwSlot:%d ", tMFThdParam.HA, tMFThdParam.PathId,
                 tMFThdParam.Target, tMFThdParam.Lun, tMFThdParam.bIsNvme, tMFThdParam.bIsNvmeIrstDriver, iFlashSlot));
    if (RunFlashThread(tMFThdParam) == 0)
        p_.ui->MessageBox("Flash OK!", "Information", MB_OK_FLAG | MB_ICONINFORMATION_FLAG);
    else
        p_.ui->MessageBox("Flash Failed!", "Error", MB_OK_FLAG | MB_ICONERROR_FLAG);
    st.flashTimer.Stop();
    WriteLog(Fmt("Flash Total Time : %.2f\n", static_cast<double>(st.flashTimer.Total())));
}

bool TKestrelMain::FatalDrive(const DEV_INFO& d) {
    if (!HasFatalDefCode(d.szDefRev) || !pAtaDevice) return false;
    uint8_t* buf = pAtaDevice->GetReadBuffer();
    std::memset(buf, 0, 512);
    if (pAtaDevice->ReadVendorBuffer(3, 0) != ATACMD_OK) return false;
    return std::any_of(buf, buf + 512, [](uint8_t b) { return b != 0; });
}

void TKestrelMain::NormalRoad(UpdateState& st) {
    const DEV_INFO& d = st.drive;
    const auto elapsed = [&st](const char* what) {
        return Fmt("<Flash Timer> %s - Elapsed time : %.2f\n", what, static_cast<double>(st.flashTimer.Elapsed()));
    };
    const LogSink log = [this](std::string_view s) { WriteLog(s); };

    cmdUpdate.SetEnabled(false);
    WriteLog(elapsed("Start to flash now"));
    WriteLog(Fmt("iVisualStyle:%d, iFlashMode:%d, bNFlashAuto:%d, bFOld:%d, iFlashMode:%d\n", iVisualStyle, iFlashMode,
                 bNFlashAuto, bFOld, iFlashMode));

    if (d.bIsNvme == 1 && d.bIsNvmeIrstDriver == 0 && iOsVersionCode <= 0x10000000u) {
        ReportText(Fmt("Intel iRST driver v14.8 and above is required for Windows7/8 (ERR:%Xh) ", iOsVersionCode), "Error",
                   MB_ICONERROR_FLAG);
        st.iLevel = exitcode::kRstRequired;
        CommonEnding(st);
        return;
    }
    if (FatalDrive(d)) {
        ReportText("Fatal error is found, please return this drive to the vendor !", "Error", MB_ICONERROR_FLAG);
        st.iLevel = exitcode::kFailure;
        CommonEnding(st);
        return;
    }
    if (bErase) {
        WriteLog(elapsed("Start to EraseAll"));
        WriteLog("EraseAll START\n");
        ShowStatus("Erasing ...");
        st.stepTimer.WaitMilliseconds(500);
        const int r = RunJob(kJobErase);
        WriteLog(elapsed("End of EraseAll"));
        if (r != 0) {
            const uint32_t err = pAtaDevice ? pAtaDevice->dwLastError : 0;
            ShowStatus(Fmt("ERASE ERROR:0x%X", err));
            WriteLog(Fmt("ERASE_ERROR:0x%X\n", err));
            st.iLevel = exitcode::kFailure;
        } else {
            st.iLevel = exitcode::kOk;
        }
        CommonEnding(st);
        return;
    }

    uint32_t padded = 0;
    const ImageLoadResult load = pkg_.LoadImage(iCurImage, imageBuffer_, padded);
    // The ATA flow carries at most the device object's read buffer; a larger image would only fail
    // thirteen times on the drive, so it is refused here like an image that does not fit its buffer.
    const bool tooLargeForAta = load == ImageLoadResult::Ok && d.bIsNvme != 1 && padded > kDeviceBufferSize;
    if (load != ImageLoadResult::Ok || tooLargeForAta) {
        iBinStart = static_cast<uint32_t>(pkg_.BIN_START(iCurImage));
        WriteLog(Fmt("Image %d cannot be loaded: BIN_START %llu, BIN_SIZE %llu (%s)\n", iCurImage,
                     static_cast<unsigned long long>(pkg_.BIN_START(iCurImage)),
                     static_cast<unsigned long long>(pkg_.BIN_SIZE(iCurImage)),
                     load == ImageLoadResult::TooLarge || tooLargeForAta ? "larger than the buffer" : "outside the image region"));
        ReportText("The firmware image in this package is damaged or too large.", "Error", MB_ICONERROR_FLAG);
        st.iLevel = exitcode::kNoFirmware;
        CommonEnding(st);
        return;
    }
    iBinStart = static_cast<uint32_t>(pkg_.BIN_START(iCurImage));
    iBinSize = padded;
    pFwImage = imageBuffer_.data();
    if (!bWindowsFlash) ImageCipherDecipher(*imageCipher_, imageBuffer_.data(), iBinSize);

    if ((bBeforePreformat || bPreformat) && d.bIsSystemDrive) {
        ReportText(
            "Because this tool contains erase function and the SSD you selected is primary boot drive.\nKestrel recommends "
            "that you back up your data before flashing and let your SSD be as a secondary drive.",
            "Information", MB_ICONWARNING_FLAG);
        st.iLevel = exitcode::kNoEligibleDrive;
        CommonEnding(st);
        return;
    }

    const TargetRevision target{lblNewFW.Caption(), lblFWExt.Caption()};
    WriteLog(elapsed("Start to compare fw version"));
    LogRevisionCompare(d, pkg_, iCurImage, target, *this, log);

    if (d.bIsNvme != 1) {
        if (!pAtaDevice || pAtaDevice->IdentifyDevice() != ATACMD_OK) {
            WriteLog("Identify fail - unable to check security enabled status ");
        } else if (pAtaDevice->GetReadBuffer()[256] & 0x02) {
            WriteLog("HDD password locked (Identify word128 bit1 =1)");
            bReBoot = false;
        } else {
            WriteLog("HDD password disabled (Identify word128 bit1 =0)");
        }
    }

    if (FirmwareUpToDate(d, pkg_, iCurImage, target, *this, log)) {
        st.iResultKind = 2;
        if (!bUseFWExt) st.sRecordedFw = FieldText(d.szFwRev, sizeof d.szFwRev);
        ShowStatus(kLatestFirmwareStatus);
        iFlashStage = 5;
        st.stepTimer.WaitMilliseconds(3000);
        st.iLevel = exitcode::kOk;
        CommonEnding(st);
        return;
    }
    WriteLog(elapsed("End of compare fw version"));

    if (!bWindowsFlash) {
        if (pAtaDevice) {
            BootTimeRoad(*pAtaDevice, st.driveIndex, target.lblNewFW, target.lblFWExt);
        } else {
            WriteLog("Boot-time installation: no device object\n");
            iErrorLevel = exitcode::kFailure;
        }
        cboDrives.SetEnabled(true);
        cmdUpdate.SetEnabled(true);
        p_.ui->RequestQuit();
        return;
    }
    FlashSequence(st);
}

void TKestrelMain::CommonEnding(UpdateState& st) {
    ++iEndedUpdates_;
    WriteLog(Fmt("Flash Total Time : %.2f\n", static_cast<double>(st.flashTimer.Total())));
    st.flashTimer.Stop();
    if (iVisualStyle == 20 && st.iResultKind > 0)
        WriteResultKeys(*p_.registry, [this](std::string_view s) { WriteLog(s); }, st.iResultKind, st.sRecordedFw);
    iErrorLevel = st.iLevel;
    ProgressBar2.Hide();
    lblPercent.Hide();
    if (bDeployMode) {
        if (iErrorLevel != 0) {
            WriteLog(Fmt("Updater fail. iErrorLevel: %d\n", iErrorLevel));
            bEndOfUpdate = true;
            p_.ui->RequestQuit();
        } else {
            WriteLog(Fmt("Updater ok. iErrorLevel: %d\n", iErrorLevel));
        }
    } else if (!bNextDrive) {
        p_.ui->RequestQuit();
    }
    WriteLog(Fmt("Exit iErrorLevel: %d\n", iErrorLevel));
}

}  // namespace kestrel
