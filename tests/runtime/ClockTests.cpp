#include "runtime/ManualRuntime.h"
#include "runtime/Sleep.h"
#include "runtime/SystemClock.h"
#include "runtime/Task.h"
#include "runtime/WorkItem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace parlaro::rt;

TEST(ManualClock, FiresTimersInTimeOrderWithTiesInRegistrationOrder)
{
    ManualRuntime runtime;
    auto& clock = runtime.clock();
    std::vector<std::string> log;
    auto at = [&](TimeBase base, double when, std::string name) {
        clock.schedule(base, when,
                       [&log, &runtime, name] { runtime.executor().post([&log, name] { log.push_back(name); }); });
    };
    at(TimeBase::continuous, 3.0, "c3");
    at(TimeBase::uptime, 1.0, "u1");
    at(TimeBase::continuous, 1.0, "c1");
    at(TimeBase::uptime, 2.0, "u2");
    clock.advance(2.5);
    EXPECT_EQ(log, (std::vector<std::string>{"u1", "c1", "u2"}));
    EXPECT_DOUBLE_EQ(clock.now().seconds(), 2.5);
    clock.advance(0.5);
    EXPECT_EQ(log.back(), "c3");
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(ManualClock, RunsTheExecutorBetweenTimersAtEachInstant)
{
    ManualRuntime runtime;
    std::vector<double> seen;
    spawn([&]() -> Async<void> {
        for (int i = 0; i < 3; ++i) {
            co_await sleepFor(0.5);
            seen.push_back(parlaro::rt::clock().now().seconds());
        }
    });
    runtime.advance(10.0);
    EXPECT_EQ(seen, (std::vector<double>{0.5, 1.0, 1.5}));
}

TEST(ManualClock, MachineSleepMovesContinuousAndWallTimeOnly)
{
    ManualRuntime runtime;
    auto& clock = runtime.clock();
    auto date = clock.date();
    bool continuousFired = false;
    bool uptimeFired = false;
    clock.schedule(TimeBase::continuous, 5.0, [&] { continuousFired = true; });
    clock.schedule(TimeBase::uptime, 5.0, [&] { uptimeFired = true; });
    clock.sleepMachine(60.0);
    EXPECT_DOUBLE_EQ(clock.now().seconds(), 60.0);
    EXPECT_DOUBLE_EQ(clock.date() - date, 60.0);
    EXPECT_DOUBLE_EQ(clock.uptime(), 0.0);
    EXPECT_DOUBLE_EQ(clock.hostTime(), 0.0);
    EXPECT_TRUE(continuousFired) << "a deadline passes while the machine sleeps";
    EXPECT_FALSE(uptimeFired);
    clock.advance(5.0);
    EXPECT_TRUE(uptimeFired);
}

TEST(WorkItem, DelayedMainQueueWorkRunsOnUptimeUnlessCancelled)
{
    ManualRuntime runtime;
    int ran = 0;
    auto kept = postAfter(0.3, [&] { ran += 1; });
    auto dropped = postAfter(0.3, [&] { ran += 10; });
    dropped.cancel();
    runtime.clock().sleepMachine(1.0);
    EXPECT_EQ(ran, 0) << "uptime does not move while asleep";
    runtime.advance(0.29);
    EXPECT_EQ(ran, 0);
    runtime.advance(0.01);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(dropped.isCancelled());
    kept.cancel();  // after it ran: harmless
}

TEST(SystemClock, ReadingsMoveForwardAndTimersFire)
{
    SystemClock clock;
    auto before = clock.now();
    std::atomic<bool> fired{false};
    clock.schedule(TimeBase::uptime, clock.uptime(), [&] { fired = true; });
    while (!fired)
        std::this_thread::yield();
    EXPECT_GE(clock.now() - before, 0.0);
    EXPECT_GT(clock.date().sinceReferenceDate, 700000000.0) << "dates count from 2001";
}

TEST(ManualClock, ChainedWaitsAndStepsLandOnExactInstants)
{
    ManualRuntime runtime;
    std::vector<double> woke;
    spawn([&]() -> Async<void> {
        co_await sleepFor(0.5);
        co_await sleepFor(1.05);
        woke.push_back(parlaro::rt::clock().now().seconds());
    });
    runtime.advance(0.5);
    runtime.advance(1.049);
    EXPECT_TRUE(woke.empty());
    runtime.advance(0.001);
    EXPECT_EQ(woke, std::vector<double>{1.55}) << "small steps reach the instant a chain of waits ends on";
    EXPECT_EQ(runtime.clock().now(), Instant::fromSeconds(0.5) + 1.05);

    // Many tenths add up to whole seconds, on every reading.
    auto& clock = runtime.clock();
    const auto start = clock.now();
    const double uptime = clock.uptime();
    for (int i = 0; i < 100; ++i)
        clock.advance(0.1);
    EXPECT_EQ(clock.now(), start + 10.0);
    EXPECT_EQ(clock.uptime(), uptime + 10.0);
    EXPECT_EQ(clock.now() - start, 10.0);
    EXPECT_EQ(Instant::fromSeconds(1.5499999999999998), Instant::fromSeconds(1.55)) << "rounded to the nanosecond";

    // An endless wait stays pending; a NaN one takes no time.
    bool endless = false;
    bool nan = false;
    spawn([&]() -> Async<void> {
        co_await sleepFor(std::numeric_limits<double>::infinity());
        endless = true;
    });
    spawn([&]() -> Async<void> {
        co_await sleepFor(std::nan(""));
        nan = true;
    });
    runtime.advance(1e6);
    EXPECT_FALSE(endless);
    EXPECT_TRUE(nan);
}

TEST(ManualClock, JumpMovesEveryReadingAndLeavesDueTimersToTheNextAdvance)
{
    ManualRuntime runtime;
    auto& clock = runtime.clock();
    EXPECT_EQ(clock.nextTimerInstant(), std::nullopt);
    std::vector<std::string> log;
    spawn([&]() -> Async<void> {
        co_await sleepFor(12.0);
        log.push_back("slept");
    });
    runtime.runUntilIdle();
    clock.schedule(TimeBase::uptime, 5.0, [&] { log.push_back("uptime"); });
    EXPECT_EQ(clock.nextTimerInstant(), Instant::fromSeconds(5.0));
    clock.sleepMachine(2.0);
    EXPECT_EQ(clock.nextTimerInstant(), Instant::fromSeconds(7.0)) << "an uptime timer moves with machine sleep";

    const auto date = clock.date();
    clock.jump(20.0);
    EXPECT_EQ(clock.now(), Instant::fromSeconds(22.0));
    EXPECT_DOUBLE_EQ(clock.uptime(), 20.0);
    EXPECT_DOUBLE_EQ(clock.hostTime(), 20.0);
    EXPECT_DOUBLE_EQ(clock.date() - date, 20.0);
    EXPECT_TRUE(log.empty()) << "nothing runs during a jump";
    EXPECT_EQ(clock.pendingTimers(), 2u);
    EXPECT_EQ(clock.nextTimerInstant(), Instant::fromSeconds(7.0));

    clock.advance(0.0);
    EXPECT_EQ(log, (std::vector<std::string>{"uptime", "slept"})) << "overdue timers fire in time order";
    EXPECT_EQ(clock.now(), Instant::fromSeconds(22.0));
    EXPECT_EQ(clock.nextTimerInstant(), std::nullopt);

    clock.advance(-5.0);
    EXPECT_EQ(clock.now(), Instant::fromSeconds(22.0)) << "time never runs backwards";
}
