// The flashing sequence of the Update handler: before-preformat, the download on the flash thread,
// the restart wait and the rescan by serial number, after-preformat, the disk refresh, the finish
// message and the reboot or shutdown question.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/KestrelMain.h"
#include "app/UpdateRules.h"
#include "package/RevisionRules.h"
#include "support/Format.h"

namespace kestrel {
namespace {

// -1, 0 or 1, as the byte comparison's sign: the log shows the same number on every C library.
int Sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

// Compares a fixed-width field with a text over the text's length. A text longer than the field
// cannot match it (the field is never read past its width).
int CompareField(const char* field, size_t width, const std::string& text) {
    const size_t n = std::min(text.size(), width);
    const int c = std::memcmp(field, text.data(), n);
    if (c != 0) return Sign(c);
    return text.size() > width ? -1 : 0;
}

// The field against a text padded with zero bytes to the width.
int CompareFieldPadded(const char* field, size_t width, const std::string& text) {
    std::string padded = text.substr(0, width);
    padded.resize(width, '\0');
    return Sign(std::memcmp(field, padded.data(), width));
}

// Drives whose DEF code starts with one of these (the SMI controller family) take the image with
// subcommand 03h only, without the closing command.
bool IsSmiDefCode(const DEV_INFO& d) {
    std::string def = TrimText(FieldText(d.szDefRev, sizeof d.szDefRev));
    std::transform(def.begin(), def.end(), def.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return def.size() >= 7 && std::strchr("FZ3GJLW7A", def[0]) != nullptr;
}

// A character of a fixed field for a "%c" log item: a zero byte would end up in the text log.
char Printable(char c) { return c == '\0' ? ' ' : c; }

}  // namespace

void TKestrelMain::ProgressStart(bool tickerOnly) {
    progressTimer().Stop();
    progressTimer().Start(true);
    Timer2.SetInterval(static_cast<uint32_t>(iTickInterval > 0 ? iTickInterval : 100));
    Timer2.SetEnabled(true);
    if (tickerOnly) return;
    ShowProgressLine();
    lblPercent.SetCaption("0%");
}

void TKestrelMain::ShowProgressLine() {
    // The bar covers the update line, but the percentage is only as wide as its figure: the end of
    // a long new revision would show beside "8%".
    for (TLabel* l : {&lblUpdateMsg, &lblOldFW, &lblTo, &lblNewFW}) l->Hide();
    ProgressBar2.Show();
    lblPercent.Show();
}

void TKestrelMain::FlashSequence(UpdateState& st) {
    const DEV_INFO& d = st.drive;
    const auto elapsed = [&st](const char* what) {
        return Fmt("<Flash Timer> %s - Elapsed time : %.2f\n", what, static_cast<double>(st.flashTimer.Elapsed()));
    };

    if (!bDeployMode) ProgressStart();
    WriteLog(elapsed("Start to Flash"));
    WriteLog("Windows Flash START\n");
    if (!DEV_PATH.empty()) WriteLog(Fmt("DEV_PATH: %s\n", DEV_PATH.c_str()));
    if (gScanType != 0) WriteLog(Fmt("SCSI_PORT: %d, SAS_ADDR: %llX\n", SCSI_PORT, static_cast<unsigned long long>(SAS_ADDR)));

    if (bBeforePreformat) {
        WriteLog(elapsed("Start to Before-Preformat"));
        WriteLog("B_Preformat START\n");
        ShowStatus("Preformating ...");
        st.stepTimer.WaitMilliseconds(500);
        const int r = RunJob(kJobErase);
        WriteLog(elapsed("End of Before-Preformat"));
        if (r != 0) {
            const uint32_t err = pAtaDevice ? pAtaDevice->dwLastError : 0;
            ShowStatus(Fmt("BPF_ERROR:0x%X", err));
            WriteLog(Fmt("BPF_ERROR:0x%X\n", err));
            st.iLevel = exitcode::kFailure;
            CommonEnding(st);
            return;
        }
    }

    WriteLog(elapsed("Start to Flash FW"));
    WriteLog("Flash FW START\n");
    WriteLog(Fmt("BinSize: 0x%X\n", iBinSize));
    ShowStatus("FW updating ...");
    st.bFlashOk = false;
    iFlashStage = 1;

    MF_THREAD_PARAMETER tMFThdParam{};
    tMFThdParam.pDevice = pAtaDevice.get();
    tMFThdParam.pImage = pFwImage;
    tMFThdParam.BinSize = iBinSize;
    tMFThdParam.bFwReboot = bReBoot ? 1 : 0;
    tMFThdParam.bUpdateBoot = bBootcode ? 1 : 0;
    tMFThdParam.bIsNvme = d.bIsNvme;
    tMFThdParam.bIsNvmeIrstDriver = d.bIsNvmeIrstDriver;
    tMFThdParam.iNvmeFwSlot = iFlashSlot;
    WriteLog(Fmt(" tMFThdParam.iNvmeFwSlot: %d", iFlashSlot));
    tMFThdParam.iCommitAction = 1;
    tMFThdParam.HA = static_cast<int16_t>(d.HA);
    tMFThdParam.Target = d.Target;
    tMFThdParam.PathId = d.PathId;
    tMFThdParam.Lun = d.Lun;

    if (iFlashMode != 1) {
        WriteLog(Fmt("iFlashMode=%d,DEF%c=%.7s [1st digit:%c]\n", iFlashMode, Printable(d.szDefRev[7]), d.szDefRev,
                     Printable(d.szDefRev[0])));
        if (IsSmiDefCode(d)) {
            // Stays 1 for the later drives of this process.
            iFlashMode = 1;
            WriteLog(Fmt("SMI - iFlashMode=mode3 (%d)\n", iFlashMode));
        }
    }
    tMFThdParam.iFlashMode = iFlashMode;
    tMFThdParam.max_sector = 1;
    WriteLog(Fmt("max_sector=%d\n", tMFThdParam.max_sector));
    tMFThdParam.iJob = kJobDownload;
    const int result = RunFlashThread(tMFThdParam);
    WriteLog(Fmt("ATACMD_RET: 0x%X       //0=OK, 1=ERR, 2=TIMEOUT, 0xFE=FAIL, 0xFF=SYS NOT SUPPORT\n", static_cast<unsigned>(result)));
    if (result == 0) {
        st.bFlashOk = true;
    } else {
        iFlashResult = result;
        iFlashDetail = !pAtaDevice ? 0 : result == ATACMD_ERR ? pAtaDevice->bStatusReg : result == ATACMD_FAIL ? pAtaDevice->dwLastError : 0;
    }
    WriteLog(Fmt("ReBoot:%d, AHCI:%d, Preformat:%d\n", bReBoot, 0, bPreformat));
    WriteLog(elapsed("End of flash FW"));
    iFlashStage = 2;

    if (!bNextDrive && bReBoot && d.bIsNvme != 1) RestartWaitAndRescan(st);

    WriteLog(elapsed("FW update finished process start... "));
    std::string error;
    if (!st.bFlashOk) {
        error = FlashErrorText(iFlashResult, iFlashDetail);
    } else if (st.bRescanned && !st.bEverFound) {
        // The download reported success, but the drive never came back: nothing confirms that it
        // runs the new firmware, or runs at all.
        error = "ERROR: DEVICE NOT FOUND AFTER FW REBOOT";
    }
    if (!error.empty() || !st.bFlashOk) {
        WriteLog(error);
        ShowStatus(error);
        st.iLevel = exitcode::kFailure;
        ReportText(cboDrives.Text() + " Flash Fail ! " + error, "Information", MB_ICONINFORMATION_FLAG);
        CommonEnding(st);
        return;
    }

    st.sRecordedFw = lblNewFW.Caption();
    st.iResultKind = 3;
    iFlashStage = 3;
    if (st.bFound && bPreformat) {
        WriteLog(elapsed("Preformat start"));
        ShowStatus("Preformating ...");
        st.stepTimer.WaitMilliseconds(500);
        const int r = RunJob(kJobErase);
        WriteLog(elapsed("End of Preformat"));
        if (r != 0) {
            const uint32_t err = pAtaDevice ? pAtaDevice->dwLastError : 0;
            ShowStatus(Fmt("APF_ERROR:0x%X", err));
            WriteLog(Fmt("APF_ERROR:0x%X\n", err));
            st.iLevel = exitcode::kFailure;
            CommonEnding(st);
            return;
        }
    }
    WriteLog(elapsed("End of FW update finished process"));
    FinishUpdate(st);
}

void TKestrelMain::RestartWaitAndRescan(UpdateState& st) {
    const auto elapsed = [&st](const char* what) {
        return Fmt("<Flash Timer> %s - Elapsed time : %.2f\n", what, static_cast<double>(st.flashTimer.Elapsed()));
    };
    WriteLog(elapsed("Flash done. Waiting FW reboot and rescan device"));
    ShowStatus("Wait for device to be ready ...");
    st.stepTimer.WaitSeconds(5.0);
    pAtaDevice.reset();
    st.bRescanned = true;

    for (int pass = 0;;) {
        st.bFound = false;
        ShowStatus("Scanning devices ...");
        WriteLog("SCAN DEVICES\n");
        pAtaDevice.reset();
        pAtaDevice = std::make_unique<TAtaDevice>(p_);
        pAtaDevice->iVisualStyle = iVisualStyle;
        gCount = ScanSSDDrive(gScanType);
        WriteLog(Fmt("FIND DEVICES...%d\n", gCount));
        const std::string newFw = lblNewFW.Caption();
        const std::string fwExt = lblFWExt.Caption();
        for (size_t i = 0; i < Count(); ++i) {
            const DEV_INFO& e = m_DevInfo[i];
            const std::string serial = FieldText(e.szSerial, sizeof e.szSerial);
            WriteLog(Fmt("SN%d: %s | %s\n", static_cast<int>(i), serial.c_str(), sCurSerial.c_str()));
            if (serial != sCurSerial) continue;
            st.bFound = true;
            st.bEverFound = true;
            if (gScanType == 1) {
                // The fresh device object knows no phy yet: give it the drive's address again, as
                // the selection does.
                pAtaDevice->SelectPort(SCSI_PORT, nullptr, -1, SELECT_CSMI);
                const uint64_t sas = bDeployMode ? SAS_ADDR : e.SasAddress;
                pAtaDevice->SetCsmiPhy(bDeployMode ? INDEX : e.ScsiIndex);
                pAtaDevice->SetCsmiPort(bDeployMode ? PORT : e.CsmiPort);
                pAtaDevice->SetCsmiSasAddress(static_cast<uint32_t>(sas), static_cast<uint32_t>(sas >> 32));
            } else {
                pAtaDevice->SelectPort(e.order, DEV_PATH.empty() ? nullptr : DEV_PATH.c_str(), -1, SELECT_ATA);
            }
            sCurInstanceId = FieldText(e.szInstanceId, sizeof e.szInstanceId);
            const std::string fw = FieldText(e.szFwRev, sizeof e.szFwRev);
            const int c1 = CompareField(e.szFwRev, sizeof e.szFwRev, newFw);
            WriteLog(Fmt("FW_CMP_1:(%d) %8s | %s \n", c1, fw.c_str(), newFw.c_str()));
            if (c1 != 0) break;
            const std::string def = FieldText(e.szDefRev, sizeof e.szDefRev);
            const int c2 = CompareFieldPadded(e.szDefRev, sizeof e.szDefRev, fwExt);
            WriteLog(Fmt("FW_CMP_2:(%d) %8s | %s \n", c2, def.c_str(), fwExt.c_str()));
            if (c2 != 0) break;
            st.bFlashOk = true;
            st.bConfirmed = true;
            break;
        }
        WriteLog(elapsed("End of FW reboot and rescan device"));
        if (!st.bFound && pass == 0) {
            WriteLog(elapsed("FW reboot, retry rescan device 1"));
            pass = 1;
            continue;
        }
        if (pass == 1) {
            if (!st.drive.bIsSystemDrive) {
                WriteLog(elapsed("FW reboot, retry rescan device 2"));
                ShowStatus("Scanning bus ...");
                WriteLog("SCAN BUS\n");
                RunJob(kJobRescan);
            }
            pass = 2;
            continue;
        }
        break;
    }
}

void TKestrelMain::FinishUpdate(UpdateState& st) {
    const auto elapsed = [&st](const char* what) {
        return Fmt("<Flash Timer> %s - Elapsed time : %.2f\n", what, static_cast<double>(st.flashTimer.Elapsed()));
    };
    if (!bNextDrive) {
        WriteLog(elapsed("After flash , rescan to get new infos ... "));
        pAtaDevice.reset();
        iFlashStage = 4;
        if (!st.drive.bIsSystemDrive && !bRebootAfter && !st.bConfirmed && !bShutdownAfter && !bDeployMode) {
            WriteLog(elapsed("After flash , start to get new infos 1 ... "));
            ShowStatus("Updating device information ...");
            RunJob(kJobRescan, sCurInstanceId);
        }
        WriteLog(elapsed("After flash , End of get new infos 2 ... "));
    }
    WriteLog(elapsed("After flash , Show Finish message start ... "));
    iFlashStage = 5;
    st.flashTimer.Stop();

    IUi& ui = *p_.ui;
    if (bNextDrive) {
        ShowStatus("Next");
    } else if (iVisualStyle == 9) {
        ui.MessageBox("Flash finished !", "Information", MB_OK_FLAG | MB_ICONINFORMATION_FLAG);
    } else if (bSilent || bDeployMode) {
        ShowStatus("Done !");
        WriteLog("Flash finished ");
    } else {
        lblPercent.SetCaption("100%");
        ProgressBar2.SetPosition(100);
        ui.MessageBox("Flash finished !", "Information", MB_OK_FLAG | MB_ICONINFORMATION_FLAG);
    }

    if (!bNextDrive) {
        if (bRebootAfter) {
            if (bSilent ||
                ui.MessageBox("Reboot Confirmation:\nThe drive will not properly function until you shut down and reboot the system. "
                              "If you continue to reboot the system now, press Yes button. Or if you do not reboot now but "
                              "manually do later, press No button.\n",
                              "Question", MB_YESNO_FLAG | MB_ICONQUESTION_FLAG) == ID_YES)
                osInfo_.Reboot();
        } else if (bShutdownAfter && !bSilent) {
            if (ui.MessageBox("Shutdown Confirmation:\nThe drive will not properly function until you shut down and reboot the "
                              "system. If you continue to shutdown the system now, press Yes button. Or if you do not shutdown "
                              "now but manually do later, press No button.\n",
                              "Question", MB_YESNO_FLAG | MB_ICONQUESTION_FLAG) == ID_YES)
                osInfo_.Shutdown();
        }
    }
    st.iLevel = exitcode::kOk;
    CommonEnding(st);
}

}  // namespace kestrel
