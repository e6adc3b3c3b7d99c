// The start-up after the administrator check: the scan, the drive list, the decision whether there
// is anything to update, the warnings, and the hand-over to an update at once, the automatic timer
// or the interactive window.
#include "app/KestrelMain.h"
#include "support/Format.h"
#include "support/ResultRecords.h"

namespace kestrel {
namespace {

constexpr const char* kStyle4Warning =
    "WARNING: THIS PROCESS WILL UPDATE THE FIRMWARE ON YOUR SSD.  THERE IS A RISK DURING FIRMWARE UPDATE PROCESS.  "
    "YOUR SSD MAY NOT FUNCTION PROPERLY IF THE FIRMWARE PROCESS IS INTERRUPTED FOR ANY REASON.  AS WE PROVIDES NO "
    "WARRANTY FOR THE DATA ON YOUR DRIVE, IT IS STRONGLY RECOMMENDED THAT YOU SHOULD BACKUP ALL IMPORTANT FILES IN "
    "ADVANCE. \n\nNOTE : Only Intel iRST version 14.8 and above is supported !";
// The window menu's entry at this position goes twice: its separator and Close below it.
constexpr int kSystemMenuCloseGroup = 5;

}  // namespace

void TKestrelMain::ScanAndHandOver() {
    ScanDrivesStep();
    if (gCount < 0) {
        // An exception while a drive was opened ended the scan; it set 3, which a deployment system
        // reads as "nothing to update here", and the run ends with it rather than with "no drive".
        EndRun(exitcode::kNoEligibleDrive);
        return;
    }
    if (gCount < 1) {
        EndRun(bDeployMode ? exitcode::kNoEligibleDrive : exitcode::kNoDrive);
        return;
    }

    RefreshComboBox();
    cboDrivesChange();

    if (bVersionOnly) {
        bEndOfUpdate = true;
        EndRun(exitcode::kOk);
        return;
    }

    WriteLog("MainForm: 1");
    size_t eligible = 0;
    for (size_t i = 0; i < Count(); ++i)
        if (m_DevInfo[i].bExisted == 1 && m_DevInfo[i].bEnabled == 1) ++eligible;

    if (eligible == 0) {
        std::string text;
        if (iLanguage == 1) {
            text = Text("No matched drives detected !\n") + "Detected drives :\n" + sDetectedDrives;
        } else {
            text = "No matched drives detected !\n";
            if (!bHiddenDrives) text += "Detected drives :\n" + sDetectedDrives;
        }
        if (iVisualStyle == 20) WriteNoTargetKeys(*p_.registry, [this](std::string_view line) { WriteLog(line); });
        if (!text.empty() && !bDeployMode && (!bSilent || bUnattended)) {
            if (bSilent)
                WriteLog(text);
            else
                p_.ui->MessageBox(text, "Error", MB_OK_FLAG | MB_ICONERROR_FLAG | MB_TOPMOST_FLAG);
        }
        WriteLog("MainForm: 2");
        bEndOfUpdate = true;
        EndRun(exitcode::kNoEligibleDrive);
        return;
    }

    if (iVisualStyle == 4) {
        const int answer = p_.ui->MessageBox(kStyle4Warning, "Warning", MB_YESNO_FLAG | MB_ICONINFORMATION_FLAG | MB_TOPMOST_FLAG);
        if (answer != ID_YES) {
            EndRun(exitcode::kStartupOrDeclined);
            return;
        }
    }
    WriteLog("MainForm: 3");

    if (iVisualStyle == 0 && (iNoticeStyle == 1 || iNoticeStyle == 2)) {
        std::string notice = Text("This flash utility only supports ") + pkg_.sPkgModel() + Text(" SSD.\n\n") +
                             Text("NOTICE : \n\n") + Text("1> Please close all applications before running this utility !\n") +
                             Text("2> Don't turn off the system while flash is in progress. \n");
        if (iNoticeStyle == 2) notice += Text("3> Don't remove the adapter and battery during F/W reflash processing. \n");
        notice += Text("\nDo you wish to continue ?");
        if (bSilent) {
            WriteLog(notice);
        } else if (p_.ui->MessageBox(notice, "Warning", MB_YESNO_FLAG | MB_ICONINFORMATION_FLAG | MB_TOPMOST_FLAG) != ID_YES) {
            EndRun(exitcode::kStartupOrDeclined);
            return;
        }
    }

    p_.ui->DeleteSystemMenuEntry(kSystemMenuCloseGroup);
    p_.ui->DeleteSystemMenuEntry(kSystemMenuCloseGroup);
    WriteLog("MainForm: 4");

    if (bSilent || bUnattended) {
        WriteLog("MainForm: 5 - silent mode");
        bShowMainWindow = false;
        WriteResultLog(*p_.files, gModelName, " ", true, "");
        if (!bAutoMode || bDeployMode) {
            cmdUpdateClick();
            bEndOfUpdate = true;
            // The code the update left stands.
            p_.ui->RequestQuit();
        } else {
            WriteLog("Silent + bAutoMode");
            tmrAutoFlash.SetEnabled(true);
            cmdUpdate.SetEnabled(false);
        }
    }
}

}  // namespace kestrel
