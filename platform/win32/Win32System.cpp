#include <cstring>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "support/Format.h"

#include <shellapi.h>

namespace kestrel::win32 {
namespace {

// Our records stand in for the SDK's ones (platform/wire/sdkcheck checks the layouts field by field).
static_assert(sizeof(wire::OSVERSIONINFOEXA) == sizeof(::OSVERSIONINFOEXA));
static_assert(sizeof(wire::RTL_OSVERSIONINFOEXW) == sizeof(::RTL_OSVERSIONINFOEXW));

using RtlGetVersionFn = LONG(WINAPI*)(::RTL_OSVERSIONINFOEXW*);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                 DWORD, DWORD, DWORD, PSID*);
using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, BOOL*);
using FreeSidFn = PVOID(WINAPI*)(PSID);

}  // namespace

bool Win32System::GetVersionExA(wire::OSVERSIONINFOEXA& rec) {
    // The caller's size field decides which record Windows fills (148 or 156 bytes).
    const DWORD size = rec.dwOSVersionInfoSize;
    if (size != wire::kOsVersionInfoSize && size != wire::kOsVersionInfoExSize) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    ::OSVERSIONINFOEXA sdk{};
    sdk.dwOSVersionInfoSize = size;
    if (!::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(&sdk))) return false;
    std::memcpy(&rec, &sdk, size);
    return true;
}

uint64_t Win32System::VerSetConditionMask(uint64_t mask, uint32_t typeBit, uint8_t condition) {
    return ::VerSetConditionMask(mask, typeBit, condition);
}

bool Win32System::VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& rec, uint32_t typeMask, uint64_t conditionMask) {
    ::OSVERSIONINFOEXA sdk{};
    std::memcpy(&sdk, &rec, sizeof sdk);
    return ::VerifyVersionInfoA(&sdk, typeMask, conditionMask) != 0;
}

std::optional<int32_t> Win32System::RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& rec) {
    const auto fn = ProcAddress<RtlGetVersionFn>(::GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    if (fn == nullptr) return std::nullopt;
    ::RTL_OSVERSIONINFOEXW sdk{};
    std::memcpy(&sdk, &rec, sizeof sdk);
    const LONG status = fn(&sdk);
    std::memcpy(&rec, &sdk, sizeof sdk);
    return static_cast<int32_t>(status);
}

int32_t Win32System::GetSystemMetrics(int32_t index) { return ::GetSystemMetrics(index); }

std::optional<bool> Win32System::IsWow64Process() {
    const auto fn = ProcAddress<IsWow64ProcessFn>(::GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    if (fn == nullptr) return std::nullopt;
    BOOL wow = FALSE;
    if (!fn(::GetCurrentProcess(), &wow)) return std::nullopt;
    return wow != FALSE;
}

bool Win32System::IsAdministratorMember() {
    HMODULE advapi = ::LoadLibraryA("advapi32.dll");
    if (advapi == nullptr) return false;
    const auto allocateSid = ProcAddress<AllocateAndInitializeSidFn>(advapi, "AllocateAndInitializeSid");
    const auto checkMembership = ProcAddress<CheckTokenMembershipFn>(advapi, "CheckTokenMembership");
    const auto freeSid = ProcAddress<FreeSidFn>(advapi, "FreeSid");
    bool member = false;
    if (allocateSid != nullptr && checkMembership != nullptr && freeSid != nullptr) {
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        if (allocateSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
            BOOL isMember = FALSE;
            member = checkMembership(nullptr, admins, &isMember) && isMember;
            freeSid(admins);
        }
    }
    ::FreeLibrary(advapi);
    return member;
}

bool Win32System::EnableShutdownPrivilege(uint32_t& lastErrorAfterAdjust) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    lastErrorAfterAdjust = ::GetLastError();
    ::CloseHandle(token);
    return true;
}

bool Win32System::ExitWindowsEx(uint32_t flags, uint32_t reason) { return ::ExitWindowsEx(flags, reason) != 0; }

bool Win32System::ShellExecuteA(const std::string& operation, const std::string& file, const std::string& parameters,
                                const std::string& directory, int32_t showCommand) {
    const HINSTANCE r = ::ShellExecuteA(nullptr, operation.c_str(), file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                                        directory.empty() ? nullptr : directory.c_str(), showCommand);
    return reinterpret_cast<intptr_t>(r) > 32;
}

std::optional<std::string> Win32System::GetOwnFileVersion() {
    char path[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return std::nullopt;
    std::vector<uint8_t> data(size);
    if (!::GetFileVersionInfoA(path, 0, size, data.data())) return std::nullopt;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueA(data.data(), "\\", &fixed, &fixedSize) || fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (info->dwSignature != 0xFEEF04BD) return std::nullopt;
    return Fmt("%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
               static_cast<unsigned>(LOWORD(info->dwFileVersionMS)), static_cast<unsigned>(HIWORD(info->dwFileVersionLS)),
               static_cast<unsigned>(LOWORD(info->dwFileVersionLS)));
}

std::string Win32System::ErrorMessageText(uint32_t code) {
    char buf[1024];
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                                     sizeof buf, nullptr);
    std::string text(buf, n < sizeof buf ? n : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

uint32_t Win32System::SetThreadExecutionState(uint32_t flags) {
    return static_cast<uint32_t>(::SetThreadExecutionState(static_cast<EXECUTION_STATE>(flags)));
}

}  // namespace kestrel::win32
