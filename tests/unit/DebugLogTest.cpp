#include <gtest/gtest.h>

#include "sim/SimClock.h"
#include "sim/SimFiles.h"
#include "support/DebugLog.h"

using namespace kestrel;

namespace {

struct Fixture {
    sim::SimClock clock;
    sim::SimFiles files{sim::SimDirectories{}, std::nullopt};
    explicit Fixture(LocalTime start, std::string date = "M/d/yyyy", std::string time = "h:mm:ss tt")
        : clock(true, start, std::move(date), std::move(time)) {}
    std::string Log() { return files.ReadWholeFile(DebugLogPath(files)).value_or("<none>"); }
};

}  // namespace

TEST(DebugLog, TimeStampInTheLocaleFormats) {
    struct Case {
        LocalTime t;
        const char *date, *time, *stamp;
    } cases[] = {
        {{2026, 12, 0, 10, 9, 30, 5, 0}, "M/d/yyyy", "h:mm:ss tt", "12/10/2026 9:30:05 AM"},
        {{2026, 3, 0, 7, 21, 4, 59, 0}, "dd.MM.yyyy", "HH:mm:ss", "07.03.2026 21:04:59"},
        {{2026, 1, 0, 2, 12, 0, 0, 0}, "yyyy/MM/dd", "tt hh:mm:ss", "2026/01/02 PM 12:00:00"},
        {{2026, 12, 0, 10, 0, 0, 0, 0}, "M/d/yyyy", "h:mm:ss tt", "12/10/2026"},            // midnight: date only
        {{2026, 12, 0, 10, 0, 0, 0, 1}, "M/d/yyyy", "h:mm:ss tt", "12/10/2026 12:00:00 AM"},  // not exactly midnight
        {{2026, 5, 0, 9, 8, 7, 6, 0}, "d-MMM-yy", "H' h 'mm", "9-May-26 8 h 07"},
    };
    for (const Case& c : cases) {
        Fixture f(c.t, c.date, c.time);
        EXPECT_EQ(LogTimeStamp(f.clock), c.stamp);
    }
}

TEST(DebugLog, LinesAreWrittenAsTheyStand) {
    Fixture f({2026, 12, 0, 10, 9, 30, 0, 0});
    const std::string path = DebugLogPath(f.files);
    EXPECT_EQ(path, "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt");
    AppendLogLine(f.files, f.clock, path, "Init Vars done, OS: 14010000h", true);
    // A text with format characters is not a format.
    AppendLogLine(f.files, f.clock, path, "100% %s %n done", true);
    // The device object's writer adds no newline: two texts end up on one line.
    AppendLogLine(f.files, f.clock, path, "part one ", false);
    AppendLogLine(f.files, f.clock, path, "part two\n", false);
    // Every line end is CR LF, as a text-mode write on Windows makes it, also those inside a text.
    AppendLogLine(f.files, f.clock, path, "EXIT_ERROR: 0x4\n", true);
    AppendLogLine(f.files, f.clock, path, "   CURR_MODEL:A\n  CMODEL:B", true);
    EXPECT_EQ(f.Log(),
              "[12/10/2026 9:30:00 AM] : Init Vars done, OS: 14010000h\r\n"
              "[12/10/2026 9:30:00 AM] : 100% %s %n done\r\n"
              "[12/10/2026 9:30:00 AM] : part one [12/10/2026 9:30:00 AM] : part two\r\n"
              "[12/10/2026 9:30:00 AM] : EXIT_ERROR: 0x4\r\n\r\n"
              "[12/10/2026 9:30:00 AM] :    CURR_MODEL:A\r\n  CMODEL:B\r\n");
}

TEST(DebugLog, UnopenableFileDropsTheLine) {
    Fixture f({2026, 12, 0, 10, 9, 30, 0, 0});
    const std::string path = DebugLogPath(f.files);
    f.files.SetWriteProtected(path);
    AppendLogLine(f.files, f.clock, path, "lost", true);
    EXPECT_FALSE(f.files.FileExists(path));
    AppendLogLine(f.files, f.clock, "C:\\No\\Such\\Folder\\x.txt", "lost", true);
    EXPECT_FALSE(f.files.FileExists("C:\\No\\Such\\Folder\\x.txt"));
}
