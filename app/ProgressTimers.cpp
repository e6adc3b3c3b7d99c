// The timers that start an update without a click (Timer1 in deployment runs, tmrAutoFlash over
// every listed drive) and the one that animates the progress bar from the workflow's stage.
#include "app/KestrelMain.h"
#include "app/UpdateRules.h"
#include "support/Format.h"

namespace kestrel {

void TKestrelMain::Timer2Timer() {
    Timer2.SetEnabled(false);
    TProgressBar& bar = bDeployMode ? ProgressBar1 : ProgressBar2;
    if (bEndOfUpdate) {
        Label8.SetCaption(Fmt("STOP UPDATE: %d", iErrorLevel));
        return;
    }
    const uint32_t firedInterval = Timer2.Interval();
    const ProgressTick t = NextProgress(iFlashStage, bar.Position(), static_cast<double>(progressTimer().Elapsed()), bDeployMode,
                                        static_cast<uint32_t>(iTickInterval));
    iTickInterval = static_cast<int32_t>(t.interval);
    if (!t.hold) {
        bar.SetPosition(t.position);
        if (bDeployMode) {
            Label8.SetCaption(Fmt("%d | %u | %d", iFlashStage, firedInterval, ProgressBar1.Position()));
            if (ProgressBar1.Position() == 100 && iFlashStage == 5) {
                p_.ui->RequestQuit();
                return;
            }
        } else {
            lblPercent.SetCaption(Fmt("%d%%", ProgressBar2.Position()));
            if (ProgressBar2.Position() == 100 && iFlashStage == 5) return;
        }
    }
    Timer2.SetInterval(static_cast<uint32_t>(iTickInterval > 0 ? iTickInterval : 100));
    Timer2.SetEnabled(true);
}

void TKestrelMain::Timer1Timer() {
    Timer1.SetEnabled(false);
    ProgressBar1.SetPosition(0);
    iTickInterval = 100;
    progressTimer().Start(true);
    Timer2.SetInterval(100);
    Timer2.SetEnabled(true);
    cmdUpdateClick();
}

void TKestrelMain::tmrAutoFlashTimer() {
    tmrAutoFlash.SetEnabled(false);
    if (!bAutoMode) return;
    bNextDrive = true;
    const int count = cboDrives.ItemCount();
    // The exit code is the last drive's; a drive that failed earlier must still show in it.
    int32_t firstFailure = 0;
    for (int i = 0; i < count; ++i) {
        if (i == count - 1) bNextDrive = false;
        WriteLog(Fmt("INDEX: %d, NEXT: %d\n", i, bNextDrive));
        cboDrives.SetItemIndex(i);
        cboDrivesChange();
        const int32_t ended = iEndedUpdates_;
        cmdUpdateClick();
        if (iEndedUpdates_ != ended && firstFailure == 0 && iErrorLevel != exitcode::kOk) firstFailure = iErrorLevel;
    }
    bNextDrive = false;
    // A last drive that was skipped never reached the common ending that asks to quit.
    if (!p_.ui->QuitRequested()) p_.ui->RequestQuit();
    if (iErrorLevel == exitcode::kOk && firstFailure != 0) {
        WriteLog(Fmt("An earlier drive failed: iErrorLevel: %d\n", firstFailure));
        iErrorLevel = firstFailure;
    }
}

}  // namespace kestrel
