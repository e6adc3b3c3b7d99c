#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

constexpr DWORD kPathCapacity = 1024;

// A directory query's answer: empty when the call failed or the path did not fit.
std::string PathAnswer(const char* buf, DWORD n) { return (n == 0 || n >= kPathCapacity) ? std::string() : std::string(buf, n); }

bool WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

std::string Win32Files::GetTempPath() {
    char buf[kPathCapacity];
    return PathAnswer(buf, ::GetTempPathA(kPathCapacity, buf));
}

std::string Win32Files::GetSystemDirectory() {
    char buf[kPathCapacity];
    return PathAnswer(buf, ::GetSystemDirectoryA(buf, kPathCapacity));
}

std::string Win32Files::GetWindowsDirectory() {
    char buf[kPathCapacity];
    return PathAnswer(buf, ::GetWindowsDirectoryA(buf, kPathCapacity));
}

std::string Win32Files::GetModuleFileName() {
    char buf[kPathCapacity];
    return PathAnswer(buf, ::GetModuleFileNameA(nullptr, buf, kPathCapacity));
}

std::string Win32Files::GetCurrentDirectory() {
    char buf[kPathCapacity];
    return PathAnswer(buf, ::GetCurrentDirectoryA(kPathCapacity, buf));
}

bool Win32Files::AppendToFile(const std::string& path, std::string_view bytes) {
    // FILE_APPEND_DATA: every write lands at the current end, whoever else has the file open.
    HANDLE h = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = WriteAll(h, bytes);
    return ::CloseHandle(h) && ok;
}

bool Win32Files::WriteWholeFile(const std::string& path, std::string_view bytes) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = WriteAll(h, bytes);
    return ::CloseHandle(h) && ok;
}

std::optional<std::string> Win32Files::ReadWholeFile(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string data;
    char buf[65536];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        data.append(buf, got);
    }
    ::CloseHandle(h);
    if (!ok) return std::nullopt;
    return data;
}

bool Win32Files::DeleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool Win32Files::FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Files::CreateDirectory(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

}  // namespace kestrel::win32
