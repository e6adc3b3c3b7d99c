#include "sim/SimClock.h"

#include <algorithm>
#include <thread>

namespace kestrel::sim {
namespace {

const char* const kMonths[] = {"January", "February", "March", "April", "May", "June", "July",
                               "August", "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Days since 1970-01-01 (proleptic Gregorian).
int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// Runs of the same picture letter, with '...' literals.
template <typename F>
std::string FormatPicture(const std::string& pic, F&& token) {
    std::string out;
    for (size_t i = 0; i < pic.size();) {
        const char c = pic[i];
        if (c == '\'') {
            size_t j = pic.find('\'', i + 1);
            if (j == std::string::npos) j = pic.size();
            out += pic.substr(i + 1, j - i - 1);
            i = j + 1;
            continue;
        }
        size_t j = i;
        while (j < pic.size() && pic[j] == c) ++j;
        const size_t n = j - i;
        std::string t;
        if (token(c, n, t))
            out += t;
        else
            out.append(n, c);
        i = j;
    }
    return out;
}

}  // namespace

LocalTime AddMilliseconds(const LocalTime& t, int64_t ms) {
    int64_t days = DaysFromCivil(t.year, t.month, t.day);
    int64_t msOfDay = ((t.hour * 60 + t.minute) * 60 + t.second) * 1000LL + t.milliseconds + ms;
    days += msOfDay / 86400000;
    msOfDay %= 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    // Back to a civil date.
    int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    LocalTime r;
    r.year = static_cast<uint16_t>(y + (m <= 2));
    r.month = static_cast<uint16_t>(m);
    r.day = static_cast<uint16_t>(d);
    r.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    r.hour = static_cast<uint16_t>(msOfDay / 3600000);
    r.minute = static_cast<uint16_t>(msOfDay / 60000 % 60);
    r.second = static_cast<uint16_t>(msOfDay / 1000 % 60);
    r.milliseconds = static_cast<uint16_t>(msOfDay % 1000);
    return r;
}

std::string FormatDatePicture(const std::string& picture, const LocalTime& t) {
    return FormatPicture(picture, [&](char c, size_t n, std::string& out) {
        switch (c) {
        case 'd':
            if (n == 1) out = std::to_string(t.day);
            else if (n == 2) out = Two(t.day);
            else if (n == 3) out = std::string(kDays[t.dayOfWeek % 7]).substr(0, 3);
            else out = kDays[t.dayOfWeek % 7];
            return true;
        case 'M':
            if (n == 1) out = std::to_string(t.month);
            else if (n == 2) out = Two(t.month);
            else if (n == 3) out = std::string(kMonths[(t.month + 11) % 12]).substr(0, 3);
            else out = kMonths[(t.month + 11) % 12];
            return true;
        case 'y':
            if (n <= 2) out = n == 1 ? std::to_string(t.year % 100) : Two(t.year % 100);
            else out = std::to_string(t.year);
            return true;
        default:
            return false;
        }
    });
}

std::string FormatTimePicture(const std::string& picture, const LocalTime& t) {
    return FormatPicture(picture, [&](char c, size_t n, std::string& out) {
        const int h12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
        switch (c) {
        case 'h': out = n == 1 ? std::to_string(h12) : Two(h12); return true;
        case 'H': out = n == 1 ? std::to_string(t.hour) : Two(t.hour); return true;
        case 'm': out = n == 1 ? std::to_string(t.minute) : Two(t.minute); return true;
        case 's': out = n == 1 ? std::to_string(t.second) : Two(t.second); return true;
        case 't': out = t.hour < 12 ? (n == 1 ? "A" : "AM") : (n == 1 ? "P" : "PM"); return true;
        default: return false;
        }
    });
}

SimClock::SimClock(bool virtualTime, const LocalTime& startLocal, std::string shortDate, std::string longTime, bool hasCounter)
    : virtual_(virtualTime),
      hasCounter_(hasCounter),
      start_(startLocal),
      shortDate_(std::move(shortDate)),
      longTime_(std::move(longTime)),
      realStart_(std::chrono::steady_clock::now()) {}

int64_t SimClock::NowNs() {
    if (virtual_) return virtualNs_.load();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - realStart_).count();
}

void SimClock::Advance(int64_t ns) {
    if (!virtual_ || ns <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    virtualNs_ += ns;
    // A waiter whose time has come runs again.
    for (Waiter* w : waiters_)
        if (w->until <= virtualNs_) w->released = true;
    std::erase_if(waiters_, [](const Waiter* w) { return w->released; });
    changed_.notify_all();
}

void SimClock::SleepUntilNs(int64_t ns) {
    if (virtual_) {
        WaitVirtual(ns, nullptr);
        return;
    }
    const int64_t now = NowNs();
    if (ns > now) std::this_thread::sleep_for(std::chrono::nanoseconds(ns - now));
}

bool SimClock::WaitUntilNs(int64_t ns, const std::function<bool()>& wake) {
    if (!virtual_) {
        SleepUntilNs(ns);
        return wake();
    }
    return WaitVirtual(ns, &wake);
}

void SimClock::ThreadJoining() {
    if (!virtual_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ++threads_;
}

void SimClock::ThreadLeaving() {
    if (!virtual_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (threads_ > 1) --threads_;
    StepLocked();
}

void SimClock::WakeWaiters() {
    if (!virtual_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    bool any = false;
    for (Waiter* w : waiters_)
        if (w->wake != nullptr && (*w->wake)()) w->released = w->woken = any = true;
    if (!any) return;
    std::erase_if(waiters_, [](const Waiter* w) { return w->released; });
    changed_.notify_all();
}

void SimClock::StepLocked() {
    if (static_cast<int>(waiters_.size()) < threads_ || waiters_.empty()) return;
    // Every thread waits: the ones with something to do go first, at the present time.
    bool any = false;
    for (Waiter* w : waiters_)
        if (w->wake != nullptr && (*w->wake)()) w->released = w->woken = any = true;
    if (!any) {
        int64_t next = waiters_.front()->until;
        for (const Waiter* w : waiters_) next = std::min(next, w->until);
        if (next > virtualNs_) virtualNs_ = next;
        for (Waiter* w : waiters_)
            if (w->until <= virtualNs_) w->released = true;
    }
    std::erase_if(waiters_, [](const Waiter* w) { return w->released; });
    changed_.notify_all();
}

bool SimClock::WaitVirtual(int64_t ns, const std::function<bool()>* wake) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake != nullptr && (*wake)()) return true;
    if (ns <= virtualNs_) return false;
    if (threads_ <= 1 && waiters_.empty()) {
        // Alone: the wait passes at once.
        virtualNs_ = ns;
        return false;
    }
    Waiter self{ns, wake};
    waiters_.push_back(&self);
    StepLocked();
    changed_.wait(lock, [&] { return self.released; });
    return self.woken;
}

bool SimClock::QueryPerformanceFrequency(int64_t& frequency) {
    if (!hasCounter_) return false;
    frequency = kFrequency;
    return true;
}

bool SimClock::QueryPerformanceCounter(int64_t& count) {
    if (!hasCounter_) return false;
    // Windows counters start far from zero; so does ours.
    count = 123456789 + NowNs() / (1'000'000'000 / kFrequency);
    return true;
}

void SimClock::Sleep(uint32_t milliseconds) { SleepUntilNs(NowNs() + static_cast<int64_t>(milliseconds) * 1'000'000); }

uint32_t SimClock::GetTickCount() { return static_cast<uint32_t>(1000000 + NowNs() / 1'000'000); }

LocalTime SimClock::GetLocalTime() { return AddMilliseconds(start_, NowNs() / 1'000'000); }

std::string SimClock::FormatShortDate(const LocalTime& t) { return FormatDatePicture(shortDate_, t); }

std::string SimClock::FormatLongTime(const LocalTime& t) { return FormatTimePicture(longTime_, t); }

}  // namespace kestrel::sim
