#pragma once
// Disks, SCSI ports and volumes through CreateFileA / DeviceIoControl / CloseHandle. Every byte
// that goes through DeviceIoControl is laid out by a structure in platform/wire/; every reply is
// outside input and is bounded by the caller before use.
#include <cstdint>
#include <string>

namespace kestrel {

using DevHandle = uint64_t;
constexpr DevHandle kInvalidDevHandle = ~uint64_t{0};  // INVALID_HANDLE_VALUE

constexpr uint32_t GENERIC_READ_ACCESS = 0x80000000u;
constexpr uint32_t GENERIC_WRITE_ACCESS = 0x40000000u;
constexpr uint32_t FILE_SHARE_READ_MODE = 1;
constexpr uint32_t FILE_SHARE_WRITE_MODE = 2;
constexpr uint32_t OPEN_EXISTING_DISPOSITION = 3;

class IStorage {
public:
    virtual ~IStorage() = default;
    // kInvalidDevHandle on failure; GetLastError tells why.
    virtual DevHandle CreateFileA(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                                  uint32_t flags) = 0;
    // in and out may be the same buffer, as most pass-through requests use them. bytesReturned is
    // the driver's claim: callers bound it by outSize before use.
    virtual bool DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                 uint32_t& bytesReturned) = 0;
    virtual bool CloseHandle(DevHandle h) = 0;
    // The calling thread's last Windows error after a failed call of this port.
    virtual uint32_t GetLastError() = 0;
};

}  // namespace kestrel
