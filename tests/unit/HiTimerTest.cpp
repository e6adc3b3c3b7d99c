#include <gtest/gtest.h>

#include "sim/SimClock.h"
#include "sim/SimUi.h"
#include "support/HiTimer.h"

using namespace kestrel;

namespace {

// A counter that moves one tick at every read, so the calibrated overhead is visible.
class TickingClock : public IClock {
public:
    bool hasCounter = true;
    int64_t now = 1000;
    int64_t step = 1;
    bool QueryPerformanceFrequency(int64_t& f) override {
        f = 1000;
        return hasCounter;
    }
    bool QueryPerformanceCounter(int64_t& c) override {
        now += step;
        c = now;
        return hasCounter;
    }
    void Sleep(uint32_t ms) override { now += ms; }
    uint32_t GetTickCount() override { return 0; }
    LocalTime GetLocalTime() override { return {}; }
    std::string FormatShortDate(const LocalTime&) override { return {}; }
    std::string FormatLongTime(const LocalTime&) override { return {}; }
};

sim::SimClock VirtualClock() { return sim::SimClock(true, LocalTime{2026, 12, 4, 10, 9, 30, 0, 0}, "M/d/yyyy", "h:mm:ss tt"); }

}  // namespace

TEST(HiTimer, CalibratesOverheadAndSubtractsIt) {
    TickingClock c;
    HiTimer t(c, nullptr);
    // Calibration reads the counter four times: three ticks between the first and last read.
    EXPECT_EQ(t.OverheadTicks(), 3);
    EXPECT_FALSE(t.Running());
    EXPECT_EQ(t.Elapsed(), 0);  // never started
    EXPECT_EQ(t.Total(), 0);

    c.step = 0;
    t.Start(true);
    c.now += 103;  // 103 ticks pass: 100 net of the overhead
    EXPECT_NEAR(static_cast<double>(t.Elapsed()), 0.100, 1e-9);
    t.Stop();
    t.Start(false);
    c.now += 53;
    t.Stop();
    EXPECT_NEAR(static_cast<double>(t.Total()), 0.150, 1e-9);  // both runs, each net of the overhead
    t.Reset();
    EXPECT_EQ(t.Total(), 0);
}

TEST(HiTimer, SecondStartRestartsTheRun) {
    TickingClock c;
    HiTimer t(c, nullptr);
    c.step = 0;
    t.Start(false);
    c.now += 500;
    t.Start(false);  // the first partial run is lost
    c.now += 203;
    t.Stop();
    EXPECT_NEAR(static_cast<double>(t.Total()), 0.200, 1e-9);
}

TEST(HiTimer, TotalWhileRunningUsesTheLastElapsedReading) {
    TickingClock c;
    HiTimer t(c, nullptr);
    c.step = 0;
    t.Start(true);
    c.now += 13;
    t.Elapsed();
    c.now += 1000;  // not seen by Total until Elapsed reads the counter again
    EXPECT_NEAR(static_cast<double>(t.Total()), 0.010, 1e-9);
}

TEST(HiTimer, NoCounterMakesEverythingInertAndWaitsReturn) {
    TickingClock c;
    c.hasCounter = false;
    HiTimer t(c, nullptr);
    EXPECT_TRUE(t.NoCounter());
    t.Start(true);
    EXPECT_EQ(t.Elapsed(), 0);
    t.WaitSeconds(3600);  // returns at once instead of spinning forever
    t.WaitMilliseconds(5);
    EXPECT_EQ(t.Total(), 0);
}

TEST(HiTimer, WaitKeepsDispatchingMessagesUntilTheTimeHasPassed) {
    auto clock = VirtualClock();
    sim::SimUi ui(clock, {}, false, false);
    HiTimer t(clock, &ui);
    int ticks = 0;
    bool posted = false;
    ui.SetTimer(1, 2, [&] { ++ticks; });
    ui.PostToGuiThread([&] { posted = true; });
    const int64_t before = clock.NowNs();
    t.WaitMilliseconds(5);
    EXPECT_GE(clock.NowNs() - before, 5'000'000);
    EXPECT_LT(clock.NowNs() - before, 7'000'000);
    EXPECT_TRUE(posted);
    EXPECT_EQ(ticks, 2);  // fired at 2 ms and 4 ms
    EXPECT_FALSE(t.Running());

    t.WaitSeconds(1.0);
    EXPECT_GE(clock.NowNs() - before, 1'005'000'000);
}

TEST(HiTimer, WaitOffTheGuiThreadSleepsWithoutPumping) {
    auto clock = VirtualClock();
    sim::SimUi ui(clock, {}, false, false);
    bool posted = false;
    ui.PostToGuiThread([&] { posted = true; });
    std::thread worker([&] {
        HiTimer t(clock, &ui);
        t.WaitSeconds(1.0);
    });
    worker.join();
    EXPECT_FALSE(posted) << "a worker thread's wait must not run the GUI thread's messages";
    EXPECT_GE(clock.NowNs(), 1'000'000'000);
}
