#pragma once
// The debug log: one plain-text file, opened, appended to and closed again for every line, so the
// main window, the device object and the flash thread can share it without a lock.
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace kestrel {

constexpr const char* kDebugLogName = "KestrelLog.txt";

// The local date and time in the user's short-date and long-time format; only the date at midnight.
std::string LogTimeStamp(IClock& clock);

// "[<time stamp>] : <text>" plus, when addNewline, a line end. The text is written as it stands,
// except that every LF in it is written CR LF (as every line end of the log is). A file that cannot
// be opened drops the line.
void AppendLogLine(IFiles& files, IClock& clock, const std::string& logFile, std::string_view text, bool addNewline);

// The temporary directory followed by the log's name, as every writer builds it for itself.
std::string DebugLogPath(IFiles& files);

}  // namespace kestrel
