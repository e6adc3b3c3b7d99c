#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/HiTimer.h"
#include "support/SimFixture.h"

using namespace kestrel;

// Virtual time shared by the GUI thread and a worker: it moves only when both wait, so each sees the
// other's waits end exactly when they are due, in order, whatever the threads' real speed.
TEST(SimClockThreads, WorkerWaitsAndGuiTimersInterleaveInOrder) {
    auto machine = test::MakeMachine();
    sim::SimClock& clock = machine->clock();
    sim::SimUi& ui = machine->ui();
    std::vector<int64_t> timerAt, workerAt;
    ui.SetTimer(1, 30, [&] { timerAt.push_back(clock.NowNs()); });
    bool done = false;

    clock.ThreadJoining();
    std::thread worker([&] {
        HiTimer t(clock, &ui);
        for (int i = 0; i < 10; ++i) {
            t.WaitMilliseconds(100);
            workerAt.push_back(clock.NowNs());
        }
        ui.PostToGuiThread([&] { done = true; });
        clock.ThreadLeaving();
    });
    HiTimer gui(clock, &ui);
    while (!done) gui.WaitMilliseconds(5);
    worker.join();
    ui.KillTimer(1);

    ASSERT_EQ(workerAt.size(), 10u);
    for (size_t i = 0; i < workerAt.size(); ++i) EXPECT_EQ(workerAt[i], static_cast<int64_t>(i + 1) * 100'000'000) << i;
    ASSERT_EQ(timerAt.size(), 33u);
    for (size_t i = 0; i < timerAt.size(); ++i) EXPECT_EQ(timerAt[i], static_cast<int64_t>(i + 1) * 30'000'000) << i;
    // The GUI thread's last poll ends at most one poll after the worker.
    EXPECT_GE(clock.NowNs(), 1'000'000'000);
    EXPECT_LE(clock.NowNs(), 1'005'000'000);
}
