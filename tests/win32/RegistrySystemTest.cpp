// The registry and system adapters against the real calls.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

RegValue Sz(const std::string& s) {
    RegValue v;
    v.type = REG_SZ_TYPE;
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
    return v;
}

// Leaves HKLM\SOFTWARE\KestrelTest "Witness" behind: tests/checks/wine.sh reads it back with reg.exe.
TEST(Win32RegistryTest, CreateSetQueryDeleteUnderHklm) {
    Win32Registry reg;
    RegKey key = 0;
    ASSERT_EQ(reg.CreateKey("SOFTWARE\\KestrelTest", KEY_ALL_ACCESS_MASK, key), 0u);
    ASSERT_NE(key, 0u);
    ASSERT_EQ(reg.SetValue(key, "Witness", Sz("kestrel adapter")), 0u);
    RegValue dword;
    dword.type = REG_DWORD_TYPE;
    dword.data = {0x78, 0x56, 0x34, 0x12};
    ASSERT_EQ(reg.SetValue(key, "Number", dword), 0u);
    reg.CloseKey(key);

    ASSERT_EQ(reg.OpenKey("SOFTWARE\\KestrelTest", KEY_READ_ACCESS, key), 0u);
    RegValue v;
    ASSERT_EQ(reg.QueryValue(key, "Witness", 256, v), 0u);
    EXPECT_EQ(v.type, REG_SZ_TYPE);
    EXPECT_EQ(v.data, Sz("kestrel adapter").data);
    ASSERT_EQ(reg.QueryValue(key, "Number", 4, v), 0u);
    EXPECT_EQ(v.type, REG_DWORD_TYPE);
    EXPECT_EQ(v.data, dword.data);
    // A buffer one byte short answers ERROR_MORE_DATA; a zero-sized one as well.
    EXPECT_EQ(reg.QueryValue(key, "Witness", 15, v), 234u);
    EXPECT_EQ(reg.QueryValue(key, "Witness", 0, v), 234u);
    EXPECT_EQ(reg.QueryValue(key, "Absent", 64, v), 2u);
    reg.CloseKey(key);

    ASSERT_EQ(reg.OpenKey("SOFTWARE\\KestrelTest", KEY_ALL_ACCESS_MASK, key), 0u);
    EXPECT_EQ(reg.DeleteValue(key, "Number"), 0u);
    EXPECT_EQ(reg.DeleteValue(key, "Number"), 2u);
    EXPECT_EQ(reg.QueryValue(key, "Number", 4, v), 2u);
    reg.CloseKey(key);

    EXPECT_EQ(reg.OpenKey("SOFTWARE\\KestrelTest\\Absent", KEY_READ_ACCESS, key), 2u);
    EXPECT_EQ(key, 0u);
}

wire::OSVERSIONINFOEXA VersionEx(uint32_t size) {
    wire::OSVERSIONINFOEXA rec{};
    rec.dwOSVersionInfoSize = size;
    return rec;
}

TEST(Win32SystemTest, GetVersionExFillsTheRecordTheSizeAsksFor) {
    Win32System sys;
    auto basic = VersionEx(wire::kOsVersionInfoSize);
    basic.wServicePackMajor = 0xABCD;  // beyond the basic record: must stay untouched
    auto ext = VersionEx(wire::kOsVersionInfoExSize);
    ASSERT_TRUE(sys.GetVersionExA(basic));
    ASSERT_TRUE(sys.GetVersionExA(ext));
    EXPECT_EQ(basic.dwPlatformId, 2u);
    EXPECT_GE(basic.dwMajorVersion, 5u);
    EXPECT_EQ(basic.dwMajorVersion, ext.dwMajorVersion);
    EXPECT_EQ(basic.dwMinorVersion, ext.dwMinorVersion);
    EXPECT_EQ(basic.dwBuildNumber, ext.dwBuildNumber);
    EXPECT_EQ(std::strcmp(basic.szCSDVersion, ext.szCSDVersion), 0);
    EXPECT_EQ(basic.wServicePackMajor, 0xABCD);
    EXPECT_NE(ext.wProductType, 0);
    auto wrong = VersionEx(100);
    EXPECT_FALSE(sys.GetVersionExA(wrong));
}

TEST(Win32SystemTest, VerifyVersionInfoAgreesWithGetVersionEx) {
    Win32System sys;
    auto ext = VersionEx(wire::kOsVersionInfoExSize);
    ASSERT_TRUE(sys.GetVersionExA(ext));
    struct Case {
        const char* name;
        uint32_t bit;
        void (*set)(wire::OSVERSIONINFOEXA&, uint32_t);
        uint32_t value;
    };
    // The SDK macros: in a file that includes <windows.h> the wire constants of the same names
    // are shadowed by them.
    const Case cases[] = {
        {"platform", VER_PLATFORMID, [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.dwPlatformId = v; }, ext.dwPlatformId},
        {"major", VER_MAJORVERSION, [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.dwMajorVersion = v; }, ext.dwMajorVersion},
        {"minor", VER_MINORVERSION, [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.dwMinorVersion = v; }, ext.dwMinorVersion},
        {"build", VER_BUILDNUMBER, [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.dwBuildNumber = v; }, ext.dwBuildNumber},
        {"sp major", VER_SERVICEPACKMAJOR,
         [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.wServicePackMajor = static_cast<uint16_t>(v); }, ext.wServicePackMajor},
        {"product type", VER_PRODUCT_TYPE,
         [](wire::OSVERSIONINFOEXA& r, uint32_t v) { r.wProductType = static_cast<uint8_t>(v); }, ext.wProductType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t eq = sys.VerSetConditionMask(0, c.bit, VER_EQUAL);
        const uint64_t gt = sys.VerSetConditionMask(0, c.bit, VER_GREATER);
        EXPECT_NE(eq, 0u);
        auto rec = VersionEx(wire::kOsVersionInfoExSize);
        c.set(rec, c.value);
        EXPECT_TRUE(sys.VerifyVersionInfoA(rec, c.bit, eq));
        EXPECT_FALSE(sys.VerifyVersionInfoA(rec, c.bit, gt));
        c.set(rec, c.value + 1);
        EXPECT_FALSE(sys.VerifyVersionInfoA(rec, c.bit, eq));
        if (c.value > 0) {
            c.set(rec, c.value - 1);
            EXPECT_TRUE(sys.VerifyVersionInfoA(rec, c.bit, gt));
        }
    }
}

TEST(Win32SystemTest, RtlGetVersionIsFoundInNtdll) {
    Win32System sys;
    wire::RTL_OSVERSIONINFOEXW rtl{};
    rtl.dwOSVersionInfoSize = sizeof rtl;
    const auto status = sys.RtlGetVersion(rtl);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    auto ext = VersionEx(wire::kOsVersionInfoExSize);
    ASSERT_TRUE(sys.GetVersionExA(ext));
    // RtlGetVersion is never shimmed below what GetVersionEx says.
    EXPECT_GE(rtl.dwMajorVersion * 100 + rtl.dwMinorVersion, ext.dwMajorVersion * 100 + ext.dwMinorVersion);
    EXPECT_EQ(rtl.dwPlatformId, 2u);
}

TEST(Win32SystemTest, ProcessAndTokenQueries) {
    Win32System sys;
    EXPECT_EQ(sys.Is64BitProcess(), sizeof(void*) == 8);
    const auto wow = sys.IsWow64Process();
    ASSERT_TRUE(wow.has_value());
    if (sys.Is64BitProcess()) {
        EXPECT_FALSE(*wow);
    }
    // The manifest asks for elevation, and Wine's user is an administrator.
    EXPECT_TRUE(sys.IsAdministratorMember());
    uint32_t lastError = 0xFFFFFFFF;
    EXPECT_TRUE(sys.EnableShutdownPrivilege(lastError));
    EXPECT_NE(lastError, 0xFFFFFFFFu);
    EXPECT_EQ(sys.GetSystemMetrics(SM_SERVERR2_INDEX), ::GetSystemMetrics(SM_SERVERR2));
}

TEST(Win32SystemTest, OwnFileVersionIsTheProjectVersion) {
    Win32System sys;
    EXPECT_EQ(sys.GetOwnFileVersion(), std::optional<std::string>(KESTREL_PROJECT_VERSION));
    EXPECT_EQ(std::string(KESTREL_PROJECT_VERSION), "1.0.0.1");
}

TEST(Win32SystemTest, ErrorMessageTextAndLastError) {
    Win32System sys;
    const std::string text = sys.ErrorMessageText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(sys.GetLastError(), 5u);
}

TEST(Win32StorageTest, HandlesMapBothWaysAndInvalidStaysInvalid) {
    Win32Storage storage;
    EXPECT_EQ(storage.CreateFileA("\\\\.\\KestrelNoSuchDevice", GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE,
                                  OPEN_EXISTING_DISPOSITION, 0),
              kInvalidDevHandle);
    EXPECT_NE(storage.GetLastError(), 0u);
    char temp[MAX_PATH];
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    const DevHandle h = storage.CreateFileA(temp, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                                            OPEN_EXISTING_DISPOSITION, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, kInvalidDevHandle);
    EXPECT_TRUE(storage.CloseHandle(h));
    uint32_t returned = 77;
    EXPECT_FALSE(storage.DeviceIoControl(kInvalidDevHandle, 0x2D1400, nullptr, 0, nullptr, 0, returned));
}

}  // namespace
}  // namespace kestrel::win32
