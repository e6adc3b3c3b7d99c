// Result records and the log archive through the real adapters.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/win32/Win32Platform.h"
#include "support/DebugLog.h"
#include "support/ResultRecords.h"
#include "tests/support/ZipReader.h"

namespace kestrel::win32 {
namespace {

std::string ExeDir(Win32Files& f) {
    const std::string exe = f.GetModuleFileName();
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

// Leaves kestrel_win32_tests.INI beside the executable: tests/checks/wine.sh checks its bytes.
TEST(Win32ResultRecordsTest, VersionIniBesideTheExecutableCarriesTheResourceVersion) {
    Win32Files files;
    Win32System sys;
    const std::string ini = ExeDir(files) + "kestrel_win32_tests.INI";
    files.DeleteFile(ini);
    SaveVersionIni(files, sys, "CUR1", "N/A");
    ASSERT_EQ(sys.GetOwnFileVersion(), std::optional<std::string>(KESTREL_PROJECT_VERSION));
    EXPECT_EQ(files.ReadWholeFile(ini),
              std::optional<std::string>("EXE_VERSION = " KESTREL_PROJECT_VERSION "\r\nCURRENT_FW = CUR1\r\nTARGET_FW = N/A\r\n"));
}

TEST(Win32ResultRecordsTest, ResultLogAtTheDoubledSeparatorPath) {
    Win32Files files;
    const std::string path = ExeDir(files) + "FwUpdate_KTEST.log";
    files.DeleteFile(path);
    WriteResultLog(files, "KTEST", "first", false, "");
    WriteResultLog(files, "KTEST", " ", true, "");
    EXPECT_EQ(files.ReadWholeFile(path), std::optional<std::string>(" \r\n"));
    EXPECT_TRUE(files.DeleteFile(path));
}

// Leaves the Halvard keys behind: tests/checks/wine.sh reads FWVersion back with reg.exe.
TEST(Win32ResultRecordsTest, ResultKeysThroughTheRegistryAdapter) {
    Win32Registry reg;
    std::vector<std::string> lines;
    const LogSink log = [&](std::string_view t) { lines.emplace_back(t); };
    WriteResultKeys(reg, log, 3, "  W1.2.3 ");
    WriteNoTargetKeys(reg, log);
    for (const std::string& l : lines) EXPECT_EQ(l.find("Fail"), std::string::npos) << l;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RegSetValueEx Result: 0"), lines.end());

    RegKey key = 0;
    ASSERT_EQ(reg.OpenKey(kTargetDeviceKey, KEY_READ_ACCESS, key), 0u);
    RegValue v;
    ASSERT_EQ(reg.QueryValue(key, kFwVersionValue, 64, v), 0u);
    EXPECT_EQ(v.type, REG_SZ_TYPE);
    EXPECT_EQ(v.data, (std::vector<uint8_t>{'W', '1', '.', '2', '.', '3', 0}));
    reg.CloseKey(key);
    ASSERT_EQ(reg.OpenKey(kNoTargetDeviceKey, KEY_READ_ACCESS, key), 0u);
    reg.CloseKey(key);
}

class Win32ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = files_.GetTempPath();
        log_ = temp_ + kDebugLogName;
        zip_ = LogArchivePath(log_);
    }
    void TearDown() override {
        files_.DeleteFile(log_);
        files_.DeleteFile(zip_);
    }
    Win32Files files_;
    Win32Clock clock_;
    std::string temp_, log_, zip_;
};

TEST_F(Win32ArchiveTest, ArchiveLandsBeforeTempAndHoldsTheLog) {
    ASSERT_NE(temp_.find("Temp"), std::string::npos) << temp_;
    EXPECT_NE(zip_.find("\\\\KestrelLog.zip"), std::string::npos) << zip_;
    const std::string text = "[1/2/2026 3:04:05 AM] : one\n[1/2/2026 3:04:05 AM] : two\n";
    ASSERT_TRUE(files_.WriteWholeFile(log_, text));
    ASSERT_EQ(ArchiveLog(files_, clock_, log_), ArchiveResult::kArchived);
    EXPECT_FALSE(files_.FileExists(log_));
    const auto zip = files_.ReadWholeFile(zip_);
    ASSERT_TRUE(zip.has_value()) << zip_;
    const test::ZipRead r = test::ReadOneEntryZip(*zip, kLogArchivePassword);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.data, text);
}

TEST_F(Win32ArchiveTest, LogStaysWhenTheArchiveCannotBeWritten) {
    // A directory where the archive belongs: the archive cannot be created.
    files_.DeleteFile(zip_);
    ASSERT_TRUE(files_.CreateDirectory(zip_));
    ASSERT_TRUE(files_.WriteWholeFile(log_, "only copy\n"));
    EXPECT_EQ(ArchiveLog(files_, clock_, log_), ArchiveResult::kArchiveFailed);
    EXPECT_EQ(files_.ReadWholeFile(log_), std::optional<std::string>("only copy\n"));
    EXPECT_TRUE(::RemoveDirectoryA(zip_.c_str()));
}

}  // namespace
}  // namespace kestrel::win32
