#pragma once

#include "platform/WakeObserver.h"

#include <functional>
#include <memory>
#include <optional>

namespace parlaro::sys {

// The two clocks a wake shows between: the boot clock counts through
// suspend, the monotonic clock stops.
struct SuspendClockReadings {
    double boottime = 0;
    double monotonic = 0;
};

// Tells a wake from two successive readings: while the machine is awake the
// clocks move together, so a growth of their difference by more than the
// threshold is time spent asleep. The first reading only sets the base.
class SuspendGapDetector {
public:
    static constexpr double defaultThreshold = 2.0;

    explicit SuspendGapDetector(double threshold = defaultThreshold) : threshold_(threshold) {}

    bool observe(const SuspendClockReadings& readings);
    void reset() { lastGap_.reset(); }

private:
    double threshold_;
    std::optional<double> lastGap_;
};

// Notices wakes by reading both clocks on a low-rate timer of the uptime
// clock (which itself stands still during sleep, so the first check after a
// wake comes at most one interval later). It reads only while someone
// subscribes. Main actor only.
class ClockGapWakeObserver final : public WakeObserver {
public:
    using Reader = std::function<SuspendClockReadings()>;
    static constexpr double defaultInterval = 3.0;

    explicit ClockGapWakeObserver(Reader reader = readSuspendClocks, double interval = defaultInterval);
    ~ClockGapWakeObserver() override;
    ClockGapWakeObserver(const ClockGapWakeObserver&) = delete;
    ClockGapWakeObserver& operator=(const ClockGapWakeObserver&) = delete;

    rt::Subscription subscribe(std::function<void()> onWake) override;

    // CLOCK_BOOTTIME and CLOCK_MONOTONIC, now.
    static SuspendClockReadings readSuspendClocks();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace parlaro::sys
