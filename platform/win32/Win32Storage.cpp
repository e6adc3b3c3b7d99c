#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

// INVALID_HANDLE_VALUE is all ones of the pointer's width; the port's marker is all ones of 64 bits.
DevHandle ToDev(HANDLE h) { return h == INVALID_HANDLE_VALUE ? kInvalidDevHandle : HandleToPort(h); }
HANDLE ToHandle(DevHandle h) { return h == kInvalidDevHandle ? INVALID_HANDLE_VALUE : PortToHandle(h); }

}  // namespace

DevHandle Win32Storage::CreateFileA(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                                    uint32_t flags) {
    return ToDev(::CreateFileA(path.c_str(), access, shareMode, nullptr, disposition, flags, nullptr));
}

bool Win32Storage::DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                   uint32_t& bytesReturned) {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(ToHandle(h), code, const_cast<void*>(in), inSize, out, outSize, &returned, nullptr);
    bytesReturned = returned;
    return ok != FALSE;
}

bool Win32Storage::CloseHandle(DevHandle h) { return ::CloseHandle(ToHandle(h)) != FALSE; }

}  // namespace kestrel::win32
