// The files and clock adapters against the real (Wine's or Windows') calls.
#include <gtest/gtest.h>

#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

class Win32FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = files_.GetTempPath() + "KestrelFilesTest\\";
        files_.CreateDirectory(dir_);
    }
    void TearDown() override {
        files_.DeleteFile(dir_ + "a.txt");
        ::RemoveDirectoryA(dir_.c_str());
    }
    Win32Files files_;
    std::string dir_;
};

TEST_F(Win32FilesTest, DirectoriesAreAbsoluteAndShapedAsTheCallsGiveThem) {
    const std::string temp = files_.GetTempPath();
    ASSERT_GE(temp.size(), 3u);
    EXPECT_EQ(temp.back(), '\\') << temp;
    EXPECT_EQ(temp[1], ':') << temp;
    for (const std::string& d : {files_.GetSystemDirectory(), files_.GetWindowsDirectory(), files_.GetCurrentDirectory()}) {
        ASSERT_GE(d.size(), 3u);
        EXPECT_EQ(d[1], ':') << d;
        const DWORD a = ::GetFileAttributesA(d.c_str());
        EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) << d;
    }
    EXPECT_NE(files_.GetSystemDirectory().back(), '\\');
    EXPECT_NE(files_.GetWindowsDirectory().back(), '\\');
    const std::string exe = files_.GetModuleFileName();
    EXPECT_TRUE(exe.ends_with("\\kestrel_win32_tests.exe")) << exe;
    EXPECT_TRUE(files_.FileExists(exe));
}

TEST_F(Win32FilesTest, AppendReplaceReadDeleteKeepTheBytesAsGiven) {
    const std::string f = dir_ + "a.txt";
    EXPECT_FALSE(files_.ReadWholeFile(f).has_value());
    ASSERT_TRUE(files_.AppendToFile(f, "first\n"));
    ASSERT_TRUE(files_.AppendToFile(f, std::string_view("sec\0nd\n", 7)));
    EXPECT_EQ(files_.ReadWholeFile(f), std::string("first\nsec\0nd\n", 13));
    ASSERT_TRUE(files_.WriteWholeFile(f, "replaced"));
    EXPECT_EQ(files_.ReadWholeFile(f), "replaced");
    ASSERT_TRUE(files_.WriteWholeFile(f, ""));
    EXPECT_EQ(files_.ReadWholeFile(f), "");
    EXPECT_TRUE(files_.FileExists(f));
    EXPECT_TRUE(files_.DeleteFile(f));
    EXPECT_FALSE(files_.FileExists(f));
    EXPECT_FALSE(files_.DeleteFile(f));
}

TEST_F(Win32FilesTest, CreateDirectoryFailsWhenItExistsAndADirectoryIsNoFile) {
    const std::string sub = dir_ + "sub";
    EXPECT_TRUE(files_.CreateDirectory(sub));
    EXPECT_FALSE(files_.CreateDirectory(sub));
    EXPECT_FALSE(files_.FileExists(sub));
    EXPECT_FALSE(files_.CreateDirectory(dir_ + "missing\\sub"));
    EXPECT_FALSE(files_.AppendToFile(dir_ + "missing\\x.txt", "x"));
    ::RemoveDirectoryA(sub.c_str());
}

TEST(Win32ClockTest, CounterIsMonotonicAndMatchesSleeping) {
    Win32Clock clock;
    int64_t freq = 0, c0 = 0, c1 = 0;
    ASSERT_TRUE(clock.QueryPerformanceFrequency(freq));
    ASSERT_GT(freq, 0);
    ASSERT_TRUE(clock.QueryPerformanceCounter(c0));
    const uint32_t t0 = clock.GetTickCount();
    int64_t last = c0;
    for (int i = 0; i < 1000; ++i) {
        int64_t c = 0;
        ASSERT_TRUE(clock.QueryPerformanceCounter(c));
        ASSERT_GE(c, last);
        last = c;
    }
    clock.Sleep(50);
    ASSERT_TRUE(clock.QueryPerformanceCounter(c1));
    const double seconds = static_cast<double>(c1 - c0) / static_cast<double>(freq);
    EXPECT_GE(seconds, 0.040);
    EXPECT_LT(seconds, 5.0);
    EXPECT_GE(clock.GetTickCount() - t0, 30u);
}

TEST(Win32ClockTest, LocalTimeAndItsLocaleTexts) {
    Win32Clock clock;
    const LocalTime now = clock.GetLocalTime();
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_FALSE(clock.FormatShortDate(now).empty());
    EXPECT_FALSE(clock.FormatLongTime(now).empty());

    LocalTime t;
    t.year = 2031;
    t.month = 11;
    t.day = 27;
    t.dayOfWeek = 4;
    t.hour = 13;
    t.minute = 45;
    t.second = 56;
    const std::string date = clock.FormatShortDate(t), time = clock.FormatLongTime(t);
    EXPECT_NE(date.find("27"), std::string::npos) << date;
    EXPECT_NE(date.find("11"), std::string::npos) << date;
    EXPECT_NE(time.find("45"), std::string::npos) << time;
    EXPECT_NE(time.find("56"), std::string::npos) << time;
    EXPECT_EQ(date.find('\0'), std::string::npos);
    EXPECT_EQ(time.find('\0'), std::string::npos);

    t.month = 13;  // no such date: the call fails and the text is empty
    EXPECT_EQ(clock.FormatShortDate(t), "");
}

}  // namespace
}  // namespace kestrel::win32
