#pragma once
// The simulated storage stack: everything CreateFileA can open (disks, SCSI ports, volumes) by
// path, each answering DeviceIoControl requests as its driver would, decoded from the published
// formats (never with the program's own helpers).
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/Storage.h"

namespace kestrel::sim {

class SimStorageDevice {
public:
    virtual ~SimStorageDevice() = default;
    // The Windows error of opening it (0: it opens).
    virtual uint32_t OpenError() { return 0; }
    // The Windows error of the request (0: success) and the bytes returned.
    virtual uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                           uint32_t& returned) = 0;
};

class SimStorage : public IStorage {
public:
    void Attach(const std::string& path, std::shared_ptr<SimStorageDevice> device);
    std::shared_ptr<SimStorageDevice> Find(const std::string& path) const;

    DevHandle CreateFileA(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                          uint32_t flags) override;
    bool DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t& bytesReturned) override;
    bool CloseHandle(DevHandle h) override;
    uint32_t GetLastError() override { return lastError_; }

    size_t OpenHandles() const { return handles_.size(); }
    uint64_t IoctlCount() const { return ioctls_; }

private:
    static std::string Key(const std::string& path);
    std::map<std::string, std::shared_ptr<SimStorageDevice>> devices_;
    std::map<DevHandle, std::shared_ptr<SimStorageDevice>> handles_;
    DevHandle next_ = 0x200;
    uint32_t lastError_ = 0;
    uint64_t ioctls_ = 0;
};

}  // namespace kestrel::sim
