#pragma once
// Which Windows this is, as one 32-bit OS version code, and the privilege and power operations.
#include <cstdint>

#include "platform/Platform.h"

namespace kestrel {

class OSInfo {
public:
    explicit OSInfo(const Platform& p);

    uint32_t GetOsVersionCode();
    bool IsWow64();
    // True when the process is 64-bit itself or runs under WOW64 on a 64-bit Windows.
    bool Is64BitWindows();
    bool IsAdministrator();
    bool Reboot();
    bool Shutdown();

    bool bIsNT = false;
    bool bIsNT4 = false;

private:
    // Fills the version fields by asking VerifyVersionInfoA one field at a time; false when one
    // of the searches found no value.
    bool SearchVersionFields(wire::OSVERSIONINFOEXA& rec);
    uint32_t RegistryEditionBits(bool& ok);
    bool ExitWithFlags(uint32_t flags);

    Platform p_;
};

}  // namespace kestrel
