#pragma once
// Files that pass every call on and keep a copy of all bytes ever appended to one path: the whole
// debug log of a run, although the archive steps delete the text file twice on the way.
#include <string>

#include "platform/Files.h"

namespace kestrel::test {

class RecordingFiles : public IFiles {
public:
    RecordingFiles(IFiles& inner, std::string watched) : inner_(inner), watched_(std::move(watched)) {}
    std::string written;

    std::string GetTempPath() override { return inner_.GetTempPath(); }
    std::string GetSystemDirectory() override { return inner_.GetSystemDirectory(); }
    std::string GetWindowsDirectory() override { return inner_.GetWindowsDirectory(); }
    std::string GetModuleFileName() override { return inner_.GetModuleFileName(); }
    std::string GetCurrentDirectory() override { return inner_.GetCurrentDirectory(); }
    bool AppendToFile(const std::string& path, std::string_view bytes) override {
        const bool ok = inner_.AppendToFile(path, bytes);
        if (ok && path == watched_) written.append(bytes.data(), bytes.size());
        return ok;
    }
    bool WriteWholeFile(const std::string& path, std::string_view bytes) override { return inner_.WriteWholeFile(path, bytes); }
    std::optional<std::string> ReadWholeFile(const std::string& path) override { return inner_.ReadWholeFile(path); }
    bool DeleteFile(const std::string& path) override { return inner_.DeleteFile(path); }
    bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
    bool CreateDirectory(const std::string& path) override { return inner_.CreateDirectory(path); }

private:
    IFiles& inner_;
    std::string watched_;
};

}  // namespace kestrel::test
