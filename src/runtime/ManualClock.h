#pragma once

#include "runtime/Clock.h"
#include "runtime/Executor.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace parlaro::rt {

// The test clock. Time moves only when the test says so; advance() fires due
// timers in time order (ties in registration order) and runs the executor
// after each, so every deadline happens at an exact virtual instant. Every
// reading is kept in whole nanoseconds, so steps of any size add up exactly.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Executor& executor, Date start = Date{800000000.0});

    Instant now() const override { return Instant{continuous_.load()}; }
    double uptime() const override { return Instant{uptime_.load()}.seconds(); }
    double hostTime() const override { return Instant{host_.load()}.seconds(); }
    Date date() const override;
    Instant reading(TimeBase base) const override;

    using Clock::schedule;
    TimerId schedule(TimeBase base, Instant deadline, std::function<void()> onDue) override;
    void cancel(TimerId id) override;

    // Runs the executor, then moves every reading forward by `seconds`,
    // firing timers as their instants are reached. Negative steps do nothing.
    void advance(double seconds);
    // Moves to an instant of the continuous clock (no-op when already past).
    void advanceTo(Instant instant);
    // Moves every reading forward by `seconds` (never back) at once, without
    // running the executor or firing anything: timers that fell due fire, in
    // order, at the next advance (advance(0) fires them without moving time).
    void jump(double seconds);
    // The machine sleeps: continuous and wall time move, uptime and host time
    // do not. Continuous timers that fall due fire on waking, in order.
    void sleepMachine(double seconds);
    void setDate(Date date);

    std::size_t pendingTimers() const;
    // The continuous instant at which the earliest pending timer falls due
    // (an uptime timer counted as if the machine stays awake); nullopt when
    // none is pending.
    std::optional<Instant> nextTimerInstant() const;

private:
    struct Timer {
        TimeBase base;
        std::int64_t deadline;
        std::function<void()> onDue;
    };
    void advanceBy(std::int64_t step);
    bool fireNext(std::int64_t limitOffset);
    void move(std::int64_t offset, bool machineAwake);
    std::int64_t offsetOf(const Timer& timer) const;

    Executor& executor_;
    std::atomic<std::int64_t> continuous_{0};
    std::atomic<std::int64_t> uptime_{0};
    std::atomic<std::int64_t> host_{0};
    // The wall clock is a date plus the nanoseconds moved since it was set,
    // so it drifts no more than the other readings.
    mutable std::mutex dateMutex_;
    double dateBase_;
    std::int64_t dateOffset_ = 0;
    mutable std::mutex mutex_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

}  // namespace parlaro::rt
