#pragma once
// Version queries, WOW64, administrator membership, shutdown, the program's own file version.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/wire/OsVersion.h"

namespace kestrel {

class ISystem {
public:
    virtual ~ISystem() = default;
    // GetVersionExA: the caller sets rec.dwOSVersionInfoSize to 148 or 156.
    virtual bool GetVersionExA(wire::OSVERSIONINFOEXA& rec) = 0;
    // VerSetConditionMask / VerifyVersionInfoA.
    virtual uint64_t VerSetConditionMask(uint64_t mask, uint32_t typeBit, uint8_t condition) = 0;
    virtual bool VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& rec, uint32_t typeMask, uint64_t conditionMask) = 0;
    // RtlGetVersion from ntdll.dll: nullopt when ntdll does not export it; else its NTSTATUS.
    virtual std::optional<int32_t> RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& rec) = 0;
    virtual int32_t GetSystemMetrics(int32_t index) = 0;
    // IsWow64Process on the current process: nullopt when kernel32 does not export it or it fails.
    virtual std::optional<bool> IsWow64Process() = 0;
    // True when this process is itself a 64-bit one.
    virtual bool Is64BitProcess() = 0;
    // CheckTokenMembership of the calling thread's token in BUILTIN\Administrators; false when any
    // step of the test fails.
    virtual bool IsAdministratorMember() = 0;
    // OpenProcessToken + LookupPrivilegeValue("SeShutdownPrivilege") + AdjustTokenPrivileges: false
    // when the token cannot be opened; otherwise the GetLastError value after the adjustment.
    virtual bool EnableShutdownPrivilege(uint32_t& lastErrorAfterAdjust) = 0;
    virtual bool ExitWindowsEx(uint32_t flags, uint32_t reason) = 0;
    // ShellExecuteA without an owner window: true when Windows started it (a result above 32). The
    // caller never waits for what it starts. directory empty: none given.
    virtual bool ShellExecuteA(const std::string& operation, const std::string& file, const std::string& parameters,
                               const std::string& directory, int32_t showCommand) = 0;
    // The file version of the running program's VERSIONINFO resource, as "a.b.c.d".
    virtual std::optional<std::string> GetOwnFileVersion() = 0;
    // FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM) of a Windows error code, without a trailing newline.
    virtual std::string ErrorMessageText(uint32_t code) = 0;
    virtual uint32_t GetLastError() = 0;
    // SetThreadExecutionState: the previous state, 0 on failure.
    virtual uint32_t SetThreadExecutionState(uint32_t flags) { (void)flags; return 0; }
};

constexpr uint32_t ES_SYSTEM_REQUIRED_FLAG = 0x00000001;
constexpr uint32_t ES_CONTINUOUS_FLAG = 0x80000000;

constexpr int32_t SM_SERVERR2_INDEX = 89;
constexpr uint32_t EWX_SHUTDOWN_FLAG = 1;
constexpr uint32_t EWX_REBOOT_FLAG = 2;
constexpr uint32_t EWX_FORCE_FLAG = 4;
constexpr int32_t SW_HIDE_COMMAND = 0;

}  // namespace kestrel
