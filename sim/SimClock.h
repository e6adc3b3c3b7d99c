#pragma once
// The simulated machine's time: virtual by default (a wait advances it at once), or the real clock.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Clock.h"

namespace kestrel::sim {

class SimClock : public IClock {
public:
    // startLocal: the local date and time at the start of the run.
    SimClock(bool virtualTime, const LocalTime& startLocal, std::string shortDate, std::string longTime, bool hasCounter = true);

    bool QueryPerformanceFrequency(int64_t& frequency) override;
    bool QueryPerformanceCounter(int64_t& count) override;
    void Sleep(uint32_t milliseconds) override;
    uint32_t GetTickCount() override;
    LocalTime GetLocalTime() override;
    std::string FormatShortDate(const LocalTime& t) override;
    std::string FormatLongTime(const LocalTime& t) override;

    bool IsVirtual() const { return virtual_; }
    // Nanoseconds since the start of the run.
    int64_t NowNs();
    // Virtual time only: moves the clock forward.
    void Advance(int64_t ns);
    // Blocks (real time) or advances (virtual time) until the given run time.
    void SleepUntilNs(int64_t ns);

    static constexpr int64_t kFrequency = 10'000'000;  // counts per second, as Windows commonly reports

private:
    bool virtual_;
    bool hasCounter_;
    LocalTime start_;
    std::string shortDate_, longTime_;
    int64_t virtualNs_ = 0;
    std::chrono::steady_clock::time_point realStart_;
};

// Windows date and time pictures ("M/d/yyyy", "h:mm:ss tt", quoted literals).
std::string FormatDatePicture(const std::string& picture, const LocalTime& t);
std::string FormatTimePicture(const std::string& picture, const LocalTime& t);
// Adds a number of milliseconds to a local time (calendar-correct, no time zones).
LocalTime AddMilliseconds(const LocalTime& t, int64_t ms);

}  // namespace kestrel::sim
