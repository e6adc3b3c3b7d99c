// Running one flash-thread job from the GUI thread: the worker does the job, this thread keeps
// pumping messages until the completion arrives. A download or an erase must not be cut short by
// sleep or shutdown, so those jobs hold the power guard while they run.
#include "app/KestrelMain.h"

namespace kestrel {
namespace {

constexpr const char* kShutdownBlockReason = "Updating SSD firmware";

bool NeedsPowerGuard(int32_t job) { return job == kJobDownload || job == kJobErase; }

}  // namespace

int TKestrelMain::RunFlashThread(const MF_THREAD_PARAMETER& tMFThdParam) {
    HiTimer timer(*p_.clock, p_.ui);
    int32_t result = 255;
    MF_THREAD_PARAMETER param = tMFThdParam;
    param.piResult = &result;
    bThreadDone = false;

    const bool guard = NeedsPowerGuard(param.iJob);
    if (guard) {
        p_.system->SetThreadExecutionState(ES_CONTINUOUS_FLAG | ES_SYSTEM_REQUIRED_FLAG);
        p_.ui->ShutdownBlockReasonCreate(kShutdownBlockReason);
        bPowerGuard = true;
    }
    {
        // The completion callback is attached before the worker can run.
        MFlashThread thread(p_, param, [this] { ThreadDone(); });
        thread.Resume();
        while (!bThreadDone) timer.WaitMilliseconds(5);
        // The worker has posted its completion; it only has to return now.
        thread.WaitFor();
    }
    if (guard) {
        bPowerGuard = false;
        p_.ui->ShutdownBlockReasonDestroy();
        p_.system->SetThreadExecutionState(ES_CONTINUOUS_FLAG);
    }
    return result;
}

void TKestrelMain::ThreadDone() {
    bThreadDone = true;
    WriteLog("ThreadDone ok \n");
}

}  // namespace kestrel
