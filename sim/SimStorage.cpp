#include "sim/SimStorage.h"

#include <algorithm>

namespace kestrel::sim {
namespace {
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
}  // namespace

std::string SimStorage::Key(const std::string& path) {
    std::string k = path;
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return k;
}

void SimStorage::Attach(const std::string& path, std::shared_ptr<SimStorageDevice> device) { devices_[Key(path)] = std::move(device); }

std::shared_ptr<SimStorageDevice> SimStorage::Find(const std::string& path) const {
    const auto it = devices_.find(Key(path));
    return it == devices_.end() ? nullptr : it->second;
}

DevHandle SimStorage::CreateFileA(const std::string& path, uint32_t, uint32_t, uint32_t, uint32_t) {
    const auto dev = Find(path);
    if (!dev) {
        lastError_ = ERROR_FILE_NOT_FOUND_CODE;
        return kInvalidDevHandle;
    }
    if (const uint32_t e = dev->OpenError()) {
        lastError_ = e;
        return kInvalidDevHandle;
    }
    const DevHandle h = next_++;
    handles_[h] = dev;
    return h;
}

bool SimStorage::DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                 uint32_t& bytesReturned) {
    bytesReturned = 0;
    ++ioctls_;
    const auto it = handles_.find(h);
    if (it == handles_.end()) {
        lastError_ = ERROR_INVALID_HANDLE_CODE;
        return false;
    }
    const uint32_t e = it->second->Ioctl(code, static_cast<const uint8_t*>(in), inSize, static_cast<uint8_t*>(out), outSize, bytesReturned);
    if (bytesReturned > outSize) bytesReturned = outSize;
    if (e != 0) {
        lastError_ = e;
        return false;
    }
    return true;
}

bool SimStorage::CloseHandle(DevHandle h) {
    if (handles_.erase(h) == 0) {
        lastError_ = ERROR_INVALID_HANDLE_CODE;
        return false;
    }
    return true;
}

}  // namespace kestrel::sim
