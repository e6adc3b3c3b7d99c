#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

SYSTEMTIME ToSystemTime(const LocalTime& t) {
    SYSTEMTIME st{};
    st.wYear = t.year;
    st.wMonth = t.month;
    st.wDayOfWeek = t.dayOfWeek;
    st.wDay = t.day;
    st.wHour = t.hour;
    st.wMinute = t.minute;
    st.wSecond = t.second;
    st.wMilliseconds = t.milliseconds;
    return st;
}

// The count includes the terminating zero; 0 is a failure.
std::string FormattedText(const char* buf, int n) { return n <= 1 ? std::string() : std::string(buf, static_cast<size_t>(n - 1)); }

}  // namespace

bool Win32Clock::QueryPerformanceFrequency(int64_t& frequency) {
    LARGE_INTEGER v{};
    const bool ok = ::QueryPerformanceFrequency(&v) != 0;
    frequency = ok ? v.QuadPart : 0;
    return ok;
}

bool Win32Clock::QueryPerformanceCounter(int64_t& count) {
    LARGE_INTEGER v{};
    const bool ok = ::QueryPerformanceCounter(&v) != 0;
    count = ok ? v.QuadPart : 0;
    return ok;
}

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Win32Clock::GetTickCount() { return ::GetTickCount(); }

LocalTime Win32Clock::GetLocalTime() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.dayOfWeek = st.wDayOfWeek;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
}

std::string Win32Clock::FormatShortDate(const LocalTime& t) {
    const SYSTEMTIME st = ToSystemTime(t);
    char buf[128];
    return FormattedText(buf, ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, sizeof buf));
}

std::string Win32Clock::FormatLongTime(const LocalTime& t) {
    const SYSTEMTIME st = ToSystemTime(t);
    char buf[128];
    return FormattedText(buf, ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, sizeof buf));
}

}  // namespace kestrel::win32
