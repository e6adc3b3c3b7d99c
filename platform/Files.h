#pragma once
// Files and directories, shaped after the Win32 calls the program makes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class IFiles {
public:
    virtual ~IFiles() = default;

    // GetTempPathA: the temporary directory, ending in a backslash; empty on failure.
    virtual std::string GetTempPath() = 0;
    // GetSystemDirectoryA / GetWindowsDirectoryA: without a trailing backslash.
    virtual std::string GetSystemDirectory() = 0;
    virtual std::string GetWindowsDirectory() = 0;
    // GetModuleFileNameA(NULL): the full path of the running executable.
    virtual std::string GetModuleFileName() = 0;
    // GetCurrentDirectoryA.
    virtual std::string GetCurrentDirectory() = 0;

    // Opens for appending (created if missing), writes the bytes, flushes, closes. False when the
    // file cannot be opened or written.
    virtual bool AppendToFile(const std::string& path, std::string_view bytes) = 0;
    // Creates or truncates, writes, closes.
    virtual bool WriteWholeFile(const std::string& path, std::string_view bytes) = 0;
    virtual std::optional<std::string> ReadWholeFile(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
};

}  // namespace kestrel
