#include "support/DebugLog.h"

namespace kestrel {

std::string LogTimeStamp(IClock& clock) {
    const LocalTime t = clock.GetLocalTime();
    std::string stamp = clock.FormatShortDate(t);
    if (t.hour != 0 || t.minute != 0 || t.second != 0 || t.milliseconds != 0) {
        stamp += ' ';
        stamp += clock.FormatLongTime(t);
    }
    return stamp;
}

void AppendLogLine(IFiles& files, IClock& clock, const std::string& logFile, std::string_view text, bool addNewline) {
    if (logFile.empty()) return;
    std::string line;
    line.reserve(text.size() + 40);
    line += '[';
    line += LogTimeStamp(clock);
    line += "] : ";
    // The file is a Windows text file: every line end is CR LF, also those inside a text, as a
    // text-mode write would have written it.
    for (const char c : text) {
        if (c == '\n') line += '\r';
        line += c;
    }
    if (addNewline) line += "\r\n";
    files.AppendToFile(logFile, line);
}

std::string DebugLogPath(IFiles& files) {
    return files.GetTempPath() + kDebugLogName;
}

}  // namespace kestrel
