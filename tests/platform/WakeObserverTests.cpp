#include "platform/linux/power/ClockGapWakeObserver.h"
#include "platform/sim/SimWakeObserver.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <optional>

namespace parlaro {
namespace {

using sys::ClockGapWakeObserver;
using sys::SuspendClockReadings;
using sys::SuspendGapDetector;

TEST(SuspendGapDetector, OnlyAGrowthOfTheClockGapBeyondTheThresholdIsAWake)
{
    SuspendGapDetector detector;
    EXPECT_FALSE(detector.observe({100.0, 90.0}));   // the base
    EXPECT_FALSE(detector.observe({200.0, 190.0}));  // awake: both moved alike
    EXPECT_FALSE(detector.observe({302.0, 290.0}));  // exactly 2 s apart is not more
    EXPECT_TRUE(detector.observe({405.0, 390.001}));
    EXPECT_FALSE(detector.observe({406.0, 391.001}));  // compared with the last reading, not the first
    detector.reset();
    EXPECT_FALSE(detector.observe({1000.0, 400.0}));  // a fresh base after a reset

    const auto now = ClockGapWakeObserver::readSuspendClocks();
    EXPECT_GT(now.monotonic, 0);
    EXPECT_GE(now.boottime, now.monotonic);
}

// The machine as the observer reads it: awake time moves both clocks,
// sleep only the boot clock.
struct Machine {
    SuspendClockReadings readings{5000.0, 4000.0};
    void sleep(double seconds) { readings.boottime += seconds; }
};

TEST(ClockGapWakeObserver, TellsEachSubscriberOnTheMainExecutorAfterASleep)
{
    rt::ManualRuntime runtime;
    Machine machine;
    std::optional<ClockGapWakeObserver> observer;
    observer.emplace([&machine] { return machine.readings; }, 1.0);
    auto awake = [&](double seconds) {
        machine.readings.boottime += seconds;
        machine.readings.monotonic += seconds;
        runtime.advance(seconds);
    };

    // Nothing is read or timed while nobody listens.
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u);
    int first = 0;
    int second = 0;
    rt::Subscription secondSubscription;
    auto firstSubscription = observer->subscribe([&] {
        ++first;
        secondSubscription.reset();  // a subscriber released during a round is not called
    });
    secondSubscription = observer->subscribe([&] { ++second; });
    EXPECT_EQ(runtime.clock().pendingTimers(), 1u);

    awake(5.0);
    machine.sleep(1.5);  // too short to count
    awake(1.0);
    EXPECT_EQ(first, 0);
    machine.sleep(600);
    EXPECT_EQ(first, 0);  // noticed at the next check, not before
    awake(1.0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    awake(3.0);
    EXPECT_EQ(first, 1);

    // Without subscribers the timer stops; a sleep meanwhile is not told to
    // a later subscriber.
    firstSubscription.reset();
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u);
    machine.sleep(60);
    firstSubscription = observer->subscribe([&] { ++first; });
    awake(2.0);
    EXPECT_EQ(first, 1);
    machine.sleep(3);
    awake(1.0);
    EXPECT_EQ(first, 2);

    // The observer going away ends its timer; its subscriptions stay harmless.
    observer.reset();
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u);
    firstSubscription.reset();
}

TEST(SimWakeObserver, AWakeIsToldLaterOnTheMainExecutor)
{
    rt::ManualRuntime runtime;
    sim::SimWakeObserver observer;
    int wakes = 0;
    auto subscription = observer.subscribe([&] { ++wakes; });
    auto other = observer.subscribe([] {});
    EXPECT_EQ(observer.subscriberCount(), 2u);
    observer.wake();
    EXPECT_EQ(wakes, 0);
    runtime.runUntilIdle();
    EXPECT_EQ(wakes, 1);
    observer.wake();
    subscription.reset();
    runtime.runUntilIdle();
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(observer.subscriberCount(), 1u);
}

}  // namespace
}  // namespace parlaro
