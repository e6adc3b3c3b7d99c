#pragma once
// The simulated machine's time: virtual by default (a wait advances it at once), or the real clock.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
    void ThreadJoining() override;
    void ThreadLeaving() override;

    bool IsVirtual() const { return virtual_; }
    // Nanoseconds since the start of the run.
    int64_t NowNs();
    // Virtual time only: moves the clock forward.
    void Advance(int64_t ns);
    // Blocks (real time) or advances (virtual time) until the given run time.
    void SleepUntilNs(int64_t ns);
    // Virtual time: SleepUntilNs that also ends as soon as wake() holds (checked under the clock's
    // lock, and again after every WakeWaiters). True when it ended by wake().
    bool WaitUntilNs(int64_t ns, const std::function<bool()>& wake);
    // Something a waiter's wake() looks at has changed.
    void WakeWaiters();

    static constexpr int64_t kFrequency = 10'000'000;  // counts per second, as Windows commonly reports

private:
    bool virtual_;
    bool hasCounter_;
    LocalTime start_;
    std::string shortDate_, longTime_;
    std::chrono::steady_clock::time_point realStart_;

    // Virtual time shared by threads: it moves only when every thread of the run waits, to the
    // earliest deadline among them, so each thread sees the others' waits in order.
    struct Waiter {
        int64_t until;
        const std::function<bool()>* wake;
        bool released = false;
        bool woken = false;
    };
    bool WaitVirtual(int64_t ns, const std::function<bool()>* wake);
    void StepLocked();
    std::atomic<int64_t> virtualNs_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    int threads_ = 1;
    std::vector<Waiter*> waiters_;
};

// Windows date and time pictures ("M/d/yyyy", "h:mm:ss tt", quoted literals).
std::string FormatDatePicture(const std::string& picture, const LocalTime& t);
std::string FormatTimePicture(const std::string& picture, const LocalTime& t);
// Adds a number of milliseconds to a local time (calendar-correct, no time zones).
LocalTime AddMilliseconds(const LocalTime& t, int64_t ms);

}  // namespace kestrel::sim
