#include "support/HiTimer.h"

#include <cmath>

namespace kestrel {

HiTimer::HiTimer(IClock& clock, IUi* ui) : clock_(clock), ui_(ui) {
    if (!clock_.QueryPerformanceFrequency(frequency) || frequency <= 0) {
        noCounter = true;
        frequency = 0;
        return;
    }
    // Calibrate: the ticks one start/stop pair costs, subtracted from every later interval.
    startCount = Now();
    rawAccum = 0;
    rawStart = Now();
    rawStop = Now();
    rawAccum += rawStop - rawStart;
    Stop();
    overheadTicks = accumTicks < 0 ? 0 : accumTicks;
    startCount = 0;
    lastCount = 0;
    accumTicks = 0;
}

HiTimer::~HiTimer() {
    if (Running()) Stop();
}

int64_t HiTimer::Now() {
    int64_t c = 0;
    clock_.QueryPerformanceCounter(c);
    // 0 marks a stopped timer; a counter that reads 0 is taken as the next tick.
    return c == 0 ? 1 : c;
}

void HiTimer::Start(bool reset) {
    if (noCounter) return;
    if (reset) Reset();
    startCount = Now();
}

void HiTimer::Stop() {
    if (noCounter || !Running()) return;
    lastCount = Now();
    accumTicks += lastCount - startCount - overheadTicks;
    startCount = 0;
}

void HiTimer::Reset() {
    if (noCounter) return;
    if (Running()) Stop();
    accumTicks = 0;
}

long double HiTimer::Elapsed() {
    if (noCounter || !Running()) return 0;
    lastCount = Now();
    return static_cast<long double>(lastCount - overheadTicks - startCount) / frequency;
}

long double HiTimer::Total() const {
    if (noCounter) return 0;
    if (!Running()) return static_cast<long double>(accumTicks) / frequency;
    return static_cast<long double>(accumTicks + lastCount - startCount - overheadTicks) / frequency;
}

void HiTimer::WaitUntil(long double seconds) {
    if (noCounter) return;
    Start(true);
    const bool pump = ui_ != nullptr && ui_->IsGuiThread();
    for (;;) {
        if (pump) ui_->ProcessMessages();
        const long double elapsed = Elapsed();
        if (elapsed >= seconds) break;
        // Sleep in the message wait for what is left (rounded up, at least 1 ms), so the CPU is free
        // and a message wakes us at once.
        const long double leftMs = (seconds - elapsed) * 1000.0L;
        const uint32_t waitMs = leftMs >= 4.0e9L ? 4000000000u : static_cast<uint32_t>(std::ceil(static_cast<double>(leftMs)));
        if (pump)
            ui_->WaitForMessages(waitMs == 0 ? 1 : waitMs);
        else
            clock_.Sleep(waitMs == 0 ? 1 : waitMs);
    }
    Stop();
}

void HiTimer::WaitSeconds(double s) { WaitUntil(static_cast<long double>(s)); }

void HiTimer::WaitMilliseconds(double ms) { WaitUntil(static_cast<long double>(ms) / 1000.0L); }

}  // namespace kestrel
