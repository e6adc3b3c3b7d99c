#pragma once
// The traces a run leaves besides its exit code: result keys in the registry (managed-deployment
// style), the result log and the version file beside the executable, and the password-protected
// archive of the debug log.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace kestrel {

// One debug-log line from the caller (the main window's WriteLog).
using LogSink = std::function<void(std::string_view)>;

constexpr const char* kHalvardKey = "SOFTWARE\\WOW6432Node\\Halvard\\";
constexpr const char* kCorvaneKey = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\";
constexpr const char* kTargetDeviceKey = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\TargetDevice\\";
constexpr const char* kNoTargetDeviceKey = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\NoTargetDevice\\";
constexpr const char* kFwVersionValue = "FWVersion";
// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY.
constexpr uint32_t kResultKeyAccess = 0x20019u | 0x0002u | 0x0004u;

constexpr const char* kLogArchiveName = "KestrelLog.zip";
constexpr const char* kLogArchivePassword = "MOSSGATE";

// Result kinds handed in by the update workflow: 1 no target, 2 already up to date, 3 flashed.
void WriteResultKeys(IRegistry& registry, const LogSink& log, int32_t kind, const std::string& fwText);
void WriteNoTargetKeys(IRegistry& registry, const LogSink& log);

// The executable's directory with its trailing separator ("" when the module path has none).
std::string ExecutableDirectory(IFiles& files);
// <exe dir>\FwUpdate_<model>.log (the doubled separator is the documented form; Windows takes it).
std::string DefaultResultLogPath(IFiles& files, const std::string& gModelName);
// One line (text + CR LF) replacing the file or appended to it; path empty after trimming means
// the default path. A file that cannot be opened is skipped.
void WriteResultLog(IFiles& files, const std::string& gModelName, const std::string& text, bool overwrite,
                    const std::string& path);

// <exe dir><exe name without its last four characters>.INI
std::string VersionIniPath(IFiles& files);
// EXE_VERSION / CURRENT_FW / TARGET_FW, each line ended with CR LF; a failed save is ignored.
void SaveVersionIni(IFiles& files, ISystem& system, const std::string& currentFw, const std::string& targetFw);

// The part of sLogFile before its first "Temp" followed by "\KestrelLog.zip"; "\KestrelLog.zip" (the
// current drive's root) when it holds no "Temp".
std::string LogArchivePath(const std::string& sLogFile);

enum class ArchiveResult {
    kArchived,       // the archive holds the log; the text log is deleted
    kNoLog,          // there was no text log to pack: no archive is left
    kArchiveFailed,  // the archive could not be written; the text log is kept for the next step
};

// Packs the debug log sLogFile (the temporary directory followed by "KestrelLog.txt") into the
// archive as its one entry "KestrelLog.txt", encrypted with the archive password, and deletes it once
// the archive is written and reads back intact. An existing archive is replaced, never added to.
// The one path decides both what is packed and where the archive goes, so the two cannot disagree.
ArchiveResult ArchiveLog(IFiles& files, IClock& clock, const std::string& sLogFile);

}  // namespace kestrel
