#include "flash/FlashThread.h"

#include <exception>

#include "discovery/DevMgr.h"
#include "flash/FlashModes.h"
#include "support/DebugLog.h"
#include "support/Format.h"
#include "support/HiTimer.h"

namespace kestrel {
namespace {

constexpr int kAtaAttempts = 13;
// Every fourth byte of the vendor buffer page of a drive that has the newer erase.
constexpr char kNewEraseSignature[] = "AEP NEWSupport";

}  // namespace

int32_t NextMaxSector(int32_t attempt, int32_t maxSector) {
    if (attempt <= 1) return 1;
    if (attempt <= 7) return 64;
    // Later attempts walk through the sizes that some bridges and drivers accept.
    switch (maxSector) {
    case 1: return 64;
    case 64: return 8;
    case 8: return 7;
    case 7: return 4;
    case 4: return 1;
    default: return maxSector;
    }
}

MFlashThread::MFlashThread(const Platform& platform, const MF_THREAD_PARAMETER& param, std::function<void()> onTerminate)
    : p_(platform), param_(param), onTerminate_(std::move(onTerminate)) {
    // The same file the main window writes, as this writer builds the name for itself.
    std::string temp = p_.files->GetTempPath();
    if (temp.size() > 1024) temp.resize(1024);
    sLogFile = temp + kDebugLogName;
}

MFlashThread::~MFlashThread() { WaitFor(); }

void MFlashThread::Resume() {
    if (thread_.joinable()) return;
    // The worker shares the run's time from its first instruction on.
    p_.clock->ThreadJoining();
    thread_ = std::thread([this] { Run(); });
}

void MFlashThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void MFlashThread::Run() {
    Execute();
    if (onTerminate_) p_.ui->PostToGuiThread(onTerminate_);
    p_.clock->ThreadLeaving();
}

void MFlashThread::Store(int32_t result) {
    if (param_.piResult != nullptr) *param_.piResult = result;
}

void MFlashThread::Log(const std::string& text) {
    if (logOpen_) AppendLogLine(*p_.files, *p_.clock, sLogFile, text, false);
}

void MFlashThread::Execute() {
    try {
        if (param_.pDevice != nullptr) {
            if (param_.iJob == kJobDownload)
                DownloadJob();
            else if (param_.iJob == kJobErase)
                EraseJob();
        } else if (param_.iJob == kJobRescan) {
            Store(1);
            RescanJob();
        }
    } catch (const std::exception&) {
        // The caller reads the last stored result, or its preset.
    } catch (...) {
    }
}

void MFlashThread::DownloadJob() {
    HiTimer timer(*p_.clock, p_.ui);
    int32_t result = ATACMD_FAIL;
    int32_t maxSector = param_.max_sector;
    // The file counts as open when its first line could be written; the later lines follow it.
    logOpen_ = p_.files->AppendToFile(
        sLogFile, Fmt("[%s] :  Start UpdateFW , max_sector=%d, bIsNvme=%d, bIsNvmeIrstDriver=%d, fwslot=%d, commit action=%d\n",
                      LogTimeStamp(*p_.clock).c_str(), maxSector, param_.bIsNvme, param_.bIsNvmeIrstDriver,
                      param_.iNvmeFwSlot, param_.iCommitAction));
    TAtaDevice& dev = *param_.pDevice;
    if (param_.bIsNvme) {
        const int ret = NvmeDownload(dev);
        if (ret == 1) {
            result = ATACMD_OK;
        } else {
            result = ATACMD_FAIL;
            Log(Fmt("retry count = %d, iRet=%d (delay 1 sec) \n\n", 1, result));
            timer.WaitSeconds(1.0);
        }
        Log("End of Download FW image \n\n");
    } else {
        for (int attempt = 1; attempt <= kAtaAttempts; ++attempt) {
            result = FlashImageAta(dev, param_.pImage, param_.BinSize, static_cast<uint32_t>(maxSector), param_.iFlashMode,
                                   param_.bUpdateBoot, param_.bFwReboot);
            if (result == ATACMD_OK) {
                Log("End of Download FW image \n\n");
                break;
            }
            timer.WaitSeconds(1.0);
            maxSector = NextMaxSector(attempt, maxSector);
            Log(Fmt("retry%d : max_sector=%d \n", attempt, maxSector));
        }
    }
    Log(Fmt("End of UpdateFW , max_sector=%d , iRet=%Xh\n\n", maxSector, static_cast<uint32_t>(result)));
    logOpen_ = false;
    Store(result);
}

int MFlashThread::NvmeDownload(TAtaDevice& dev) {
    const auto slot = static_cast<uint8_t>(param_.iNvmeFwSlot);
    const auto commit = static_cast<uint8_t>(param_.iCommitAction);
    if (param_.bIsNvmeIrstDriver)
        return dev.IrstFirmwareUpdate(param_.HA, static_cast<uint8_t>(param_.Target), commit, slot, param_.BinSize, param_.pImage,
                                      static_cast<uint8_t>(param_.Lun), static_cast<uint8_t>(param_.PathId));
    return dev.NvmeFirmwareUpdate(param_.pImage, param_.BinSize, commit, slot);
}

void MFlashThread::EraseJob() {
    HiTimer timer(*p_.clock, p_.ui);
    TAtaDevice& dev = *param_.pDevice;
    bool useNewErase = false;
    int32_t result = ATACMD_FAIL;
    for (int pass = 1; pass <= 2; ++pass) {
        if (dev.QueryNewEraseSupport() == ATACMD_OK) {
            const uint8_t* rb = dev.GetReadBuffer();
            bool match = true;
            for (size_t i = 0; i + 1 < sizeof(kNewEraseSignature); ++i)
                if (rb[i * 4] != static_cast<uint8_t>(kNewEraseSignature[i])) match = false;
            if (match) useNewErase = true;
        }
        result = useNewErase ? dev.EraseAllNew() : dev.EraseAllLegacy();
        if (result == ATACMD_OK || pass == 2) break;
        timer.WaitSeconds(1.0);
    }
    Store(result);
}

void MFlashThread::RescanJob() {
    TDevMgr devMgr(p_);
    HiTimer timer(*p_.clock, p_.ui);
    if (!param_.sDevicePath.empty()) {
        devMgr.RemoveDiskDevice(param_.sDevicePath);
        timer.WaitMilliseconds(1000);
    }
    devMgr.RescanStorageControllers();
}

}  // namespace kestrel
