#include "support/ResultRecords.h"

#include <cstring>
#include <random>

#include "package/PackageView.h"
#include "support/DebugLog.h"
#include "support/Format.h"
#include "support/ZipArchive.h"

namespace kestrel {
namespace {

// What RegSetValueEx answers for a key that could not be created (a null handle).
constexpr uint32_t kErrorInvalidHandle = 6;

std::string CreateStatus(const char* path, uint32_t rc, const char* suffix = "") {
    return Fmt("%s  RegCreateKeyEx %s%s", path, rc == 0 ? "Success" : "Fail", suffix);
}

std::string CreateResult(uint32_t rc) { return Fmt("RegCreateKeyEx Result: %u", rc); }

// Creates a key, logs the status line then the result line, and closes it again.
void CreateAndClose(IRegistry& registry, const LogSink& log, const char* path, const char* suffix = "") {
    RegKey key = 0;
    const uint32_t rc = registry.CreateKey(path, kResultKeyAccess, key);
    log(CreateStatus(path, rc, suffix));
    log(CreateResult(rc));
    if (rc == 0) registry.CloseKey(key);
}

}  // namespace

void WriteResultKeys(IRegistry& registry, const LogSink& log, int32_t kind, const std::string& fwText) {
    log(Fmt("sRegKey: %s", kHalvardKey));
    CreateAndClose(registry, log, kHalvardKey);
    CreateAndClose(registry, log, kCorvaneKey);

    const char* last = kCorvaneKey;
    RegKey key = 0;
    uint32_t rc = 1;
    if (kind == 1) {
        last = kNoTargetDeviceKey;
        rc = registry.CreateKey(last, kResultKeyAccess, key);
        log(CreateStatus(last, rc));
        log(CreateResult(rc));
    } else if (kind == 2 || kind == 3) {
        last = kTargetDeviceKey;
        rc = registry.CreateKey(last, kResultKeyAccess, key);
        log(CreateResult(rc));
        log(CreateStatus(last, rc));
        // A drive's text may carry padding or a NUL inside its field: the value holds the text up
        // to the first NUL, trimmed, and its terminating zero.
        const std::string text = TrimText(std::string_view(fwText.c_str(), std::strlen(fwText.c_str())));
        uint32_t setRc = kErrorInvalidHandle;
        if (rc == 0) {
            RegValue value;
            value.type = REG_SZ_TYPE;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
            setRc = registry.SetValue(key, kFwVersionValue, value);
        }
        log(Fmt("RegSetValueEx Result: %u", setRc));
    }
    log(last);
    if (rc == 0) registry.CloseKey(key);
}

void WriteNoTargetKeys(IRegistry& registry, const LogSink& log) {
    CreateAndClose(registry, log, kHalvardKey, " (no matched device)");
    CreateAndClose(registry, log, kCorvaneKey);
    CreateAndClose(registry, log, kNoTargetDeviceKey);
    log(kNoTargetDeviceKey);
}

std::string ExecutableDirectory(IFiles& files) {
    const std::string module = files.GetModuleFileName();
    const size_t p = module.find_last_of("\\:");
    return p == std::string::npos ? std::string() : module.substr(0, p + 1);
}

std::string DefaultResultLogPath(IFiles& files, const std::string& gModelName) {
    return ExecutableDirectory(files) + "\\FwUpdate_" + gModelName + ".log";
}

void WriteResultLog(IFiles& files, const std::string& gModelName, const std::string& text, bool overwrite,
                    const std::string& path) {
    const std::string target = TrimText(path).empty() ? DefaultResultLogPath(files, gModelName) : path;
    // The line ends as a text-mode write ends it on Windows.
    const std::string line = text + "\r\n";
    if (overwrite)
        files.WriteWholeFile(target, line);
    else
        files.AppendToFile(target, line);
}

std::string VersionIniPath(IFiles& files) {
    const std::string module = files.GetModuleFileName();
    const std::string dir = ExecutableDirectory(files);
    const std::string name = module.substr(dir.size());
    return dir + name.substr(0, name.size() >= 4 ? name.size() - 4 : 0) + ".INI";
}

void SaveVersionIni(IFiles& files, ISystem& system, const std::string& currentFw, const std::string& targetFw) {
    // Without a readable version resource the line keeps its key and an empty value.
    const std::string version = system.GetOwnFileVersion().value_or(std::string());
    std::string ini;
    ini += "EXE_VERSION = " + version + "\r\n";
    ini += "CURRENT_FW = " + currentFw + "\r\n";
    ini += "TARGET_FW = " + targetFw + "\r\n";
    files.WriteWholeFile(VersionIniPath(files), ini);
}

std::string LogArchivePath(const std::string& sLogFile) {
    const size_t p = sLogFile.find("Temp");
    if (p == std::string::npos) return std::string("\\") + kLogArchiveName;
    return sLogFile.substr(0, p) + "\\" + kLogArchiveName;
}

ArchiveResult ArchiveLog(IFiles& files, IClock& clock, const std::string& sLogFile) {
    const std::string archivePath = LogArchivePath(sLogFile);
    // The archive holds what the text log held at the last archive step and nothing older: an
    // existing one is removed first, so a failed write never leaves an outdated archive that
    // looks current (its lines are still in the text log then).
    files.DeleteFile(archivePath);

    const std::optional<std::string> log = files.ReadWholeFile(sLogFile);
    if (!log) return ArchiveResult::kNoLog;

    ZipEntrySpec entry;
    entry.name = kDebugLogName;
    entry.data = *log;
    entry.password = kLogArchivePassword;
    entry.stamp = ToDosStamp(clock.GetLocalTime());
    std::random_device rd;
    int64_t counter = 0;
    clock.QueryPerformanceCounter(counter);
    std::seed_seq seed{rd(), rd(), rd(), static_cast<uint32_t>(counter), static_cast<uint32_t>(counter >> 32)};
    std::mt19937 rng(seed);
    for (uint8_t& b : entry.headerRandom) b = static_cast<uint8_t>(rng() & 0xFF);

    const std::optional<std::string> zip = BuildZipArchive(entry);
    // The text log is the only copy of these lines: it goes only once the archive holding them
    // has been written and reads back unchanged.
    if (!zip || !files.WriteWholeFile(archivePath, *zip)) {
        if (zip) files.DeleteFile(archivePath);
        return ArchiveResult::kArchiveFailed;
    }
    const std::optional<std::string> back = files.ReadWholeFile(archivePath);
    if (!back || *back != *zip) {
        files.DeleteFile(archivePath);
        return ArchiveResult::kArchiveFailed;
    }
    files.DeleteFile(sLogFile);
    return ArchiveResult::kArchived;
}

}  // namespace kestrel
