#pragma once
// Performance counter, sleeping and the local date and time.
#include <cstdint>
#include <string>

namespace kestrel {

// SYSTEMTIME's fields, as GetLocalTime fills them.
struct LocalTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // QueryPerformanceFrequency / QueryPerformanceCounter; false when there is no counter.
    virtual bool QueryPerformanceFrequency(int64_t& frequency) = 0;
    virtual bool QueryPerformanceCounter(int64_t& count) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint32_t GetTickCount() = 0;
    virtual LocalTime GetLocalTime() = 0;
    // GetDateFormatA(DATE_SHORTDATE) and GetTimeFormatA(0) in the user's locale.
    virtual std::string FormatShortDate(const LocalTime& t) = 0;
    virtual std::string FormatLongTime(const LocalTime& t) = 0;

    // A worker thread starts sharing this clock (called by its creator before it runs) and stops
    // (called by the worker as its last act). Windows needs neither; a simulated clock uses them to
    // keep its time coherent between threads.
    virtual void ThreadJoining() {}
    virtual void ThreadLeaving() {}
};

}  // namespace kestrel
