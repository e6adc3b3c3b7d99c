#pragma once
// The flash thread: one worker thread per job (download, erase, bus rescan), so the GUI thread can
// keep pumping messages while a drive is busy for seconds or minutes. The worker touches the device
// object and the debug log file only; its completion is posted to the GUI thread.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "device/AtaDevice.h"
#include "platform/Platform.h"

namespace kestrel {

// Jobs of the flash thread.
constexpr int32_t kJobDownload = 1;
constexpr int32_t kJobErase = 2;
constexpr int32_t kJobRescan = 3;

// What the caller hands one job. Every field starts at zero; the caller fills what the job needs.
struct MF_THREAD_PARAMETER {
    TAtaDevice* pDevice = nullptr;  // target drive selected; null for the rescan
    const uint8_t* pImage = nullptr;
    uint32_t BinSize = 0;
    int32_t max_sector = 0;  // 512-byte sectors per DOWNLOAD MICROCODE command; callers pass 1
    uint8_t bFwReboot = 0;
    int32_t iFlashMode = 0;
    uint8_t bUpdateBoot = 0;
    int32_t iJob = 0;
    int32_t* piResult = nullptr;
    std::string sDevicePath;  // rescan: instance ID of the disk to remove first; empty = rescan only
    uint8_t bIsNvme = 0;
    uint8_t bIsNvmeIrstDriver = 0;
    int32_t iNvmeFwSlot = 0;
    int32_t iCommitAction = 0;
    int32_t HA = 0;
    int32_t Target = 0;
    int32_t PathId = 0;
    int32_t Lun = 0;
};

// The max_sector of the next download attempt after failed attempt n (1-based).
int32_t NextMaxSector(int32_t attempt, int32_t maxSector);

class MFlashThread {
public:
    // Created suspended: nothing runs until Resume. onTerminate is posted to the GUI thread when
    // the job has ended, whatever its result.
    MFlashThread(const Platform& platform, const MF_THREAD_PARAMETER& param, std::function<void()> onTerminate);
    // Waits for the worker to have finished (it has posted its completion by then).
    virtual ~MFlashThread();
    MFlashThread(const MFlashThread&) = delete;
    MFlashThread& operator=(const MFlashThread&) = delete;

    void Resume();
    // Waits until the worker has returned; the owner calls it once the completion has arrived.
    void WaitFor();

    // Runs the job on the calling thread (the worker's body; tests call it directly).
    virtual void Execute();

private:
    void Store(int32_t result);
    void Log(const std::string& text);
    void DownloadJob();
    // One NVMe download and activation, through Intel RST or the inbox driver: 1 on success.
    int NvmeDownload(TAtaDevice& dev);
    void EraseJob();
    void RescanJob();
    void Run();

    Platform p_;
    MF_THREAD_PARAMETER param_;
    std::string sLogFile;
    std::function<void()> onTerminate_;
    std::thread thread_;
    bool logOpen_ = false;
};

}  // namespace kestrel
