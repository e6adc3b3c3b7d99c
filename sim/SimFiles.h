#pragma once
// The simulated file system: Windows paths (case-insensitive, backslashes) kept in memory and, with
// a state folder, written through to <state>/files/<drive letter>/... so a later run sees them.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/Files.h"

namespace kestrel::sim {

struct SimDirectories {
    std::string temp = "C:\\Users\\Operator\\AppData\\Local\\Temp\\";
    std::string system = "C:\\Windows\\system32";
    std::string windows = "C:\\Windows";
    std::string module = "C:\\Kestrel\\kestrel.exe";
    std::string current = "C:\\Kestrel";
    // A 64-bit Windows has <windows>\SysWOW64; a 32-bit process on it (WOW64) has its file
    // accesses under <windows>\System32 redirected there, as Windows does.
    bool windows64 = false;
    bool wow64Process = false;
};

class SimFiles : public IFiles {
public:
    SimFiles(SimDirectories dirs, std::optional<std::filesystem::path> stateDir);

    std::string GetTempPath() override { return dirs_.temp; }
    std::string GetSystemDirectory() override { return dirs_.system; }
    std::string GetWindowsDirectory() override { return dirs_.windows; }
    std::string GetModuleFileName() override { return dirs_.module; }
    std::string GetCurrentDirectory() override { return dirs_.current; }
    bool AppendToFile(const std::string& path, std::string_view bytes) override;
    bool WriteWholeFile(const std::string& path, std::string_view bytes) override;
    std::optional<std::string> ReadWholeFile(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool CreateDirectory(const std::string& path) override;

    // Files that refuse to be opened for writing (a full disk, a file held open elsewhere).
    void SetWriteProtected(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        protected_.insert(Key(path));
    }
    // Every file, by its path as first written.
    std::map<std::string, std::string> Snapshot() const;
    // Where a Windows path lives on the host, inside the state folder.
    std::optional<std::filesystem::path> HostPath(const std::string& path) const;

private:
    struct Entry {
        std::string path;
        std::string bytes;
    };
    static std::string Key(const std::string& path);
    // A path rooted without a drive ("\\x") is on the current directory's drive, as on Windows; a
    // WOW64 process's System32 is SysWOW64.
    std::string Resolve(const std::string& path) const;
    static std::string Parent(const std::string& path);
    bool DirExists(const std::string& key) const;
    void Persist(const Entry& e);
    void LoadState();

    // The GUI thread and the flash thread both write the debug log.
    mutable std::mutex mutex_;
    SimDirectories dirs_;
    std::optional<std::filesystem::path> state_;
    std::map<std::string, Entry> files_;
    std::set<std::string> dirsSet_;
    std::set<std::string> protected_;
};

// Normalises a Windows path: forward slashes become backslashes, doubled separators collapse.
std::string NormaliseWindowsPath(const std::string& path);

}  // namespace kestrel::sim
