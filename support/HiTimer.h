#pragma once
// The program's clock: the performance counter, net of its own measured call overhead, and two
// waits that keep window messages flowing. The waits block in the message wait between checks
// instead of spinning, and return at once when there is no counter.
#include <cstdint>

#include "platform/Platform.h"

namespace kestrel {

class HiTimer {
public:
    // ui may be null (a thread without a message queue): the waits then sleep.
    HiTimer(IClock& clock, IUi* ui);
    ~HiTimer();
    HiTimer(const HiTimer&) = delete;
    HiTimer& operator=(const HiTimer&) = delete;

    void Start(bool reset);
    void Stop();
    void Reset();
    long double Elapsed();
    long double Total() const;
    void WaitSeconds(double s);
    void WaitMilliseconds(double ms);

    bool Running() const { return startCount != 0; }
    bool NoCounter() const { return noCounter; }
    int64_t OverheadTicks() const { return overheadTicks; }

private:
    int64_t Now();
    void WaitUntil(long double seconds);

    IClock& clock_;
    IUi* ui_;
    int64_t rawStart = 0;
    int64_t rawStop = 0;
    int64_t rawAccum = 0;
    int64_t frequency = 0;
    int64_t startCount = 0;
    int64_t lastCount = 0;
    int64_t accumTicks = 0;
    int64_t overheadTicks = 0;
    bool noCounter = false;
};

}  // namespace kestrel
