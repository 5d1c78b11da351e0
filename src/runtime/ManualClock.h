#pragma once

#include "runtime/Clock.h"
#include "runtime/Executor.h"

#include <atomic>
#include <map>
#include <mutex>

namespace parlaro::rt {

// The test clock. Time moves only when the test says so; advance() fires due
// timers in time order (ties in registration order) and runs the executor
// after each, so every deadline happens at an exact virtual instant.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Executor& executor, Date start = Date{800000000.0});

    Instant now() const override { return Instant{continuous_.load()}; }
    double uptime() const override { return uptime_.load(); }
    double hostTime() const override { return host_.load(); }
    Date date() const override { return Date{date_.load()}; }

    TimerId schedule(TimeBase base, double deadline, std::function<void()> onDue) override;
    void cancel(TimerId id) override;

    // Runs the executor, then moves every reading forward by `seconds`,
    // firing timers as their instants are reached.
    void advance(double seconds);
    // Moves to an instant of the continuous clock (no-op when already past).
    void advanceTo(Instant instant);
    // The machine sleeps: continuous and wall time move, uptime and host time
    // do not. Continuous timers that fall due fire on waking, in order.
    void sleepMachine(double seconds);
    void setDate(Date date) { date_.store(date.sinceReferenceDate); }

    std::size_t pendingTimers() const;

private:
    struct Timer {
        TimeBase base;
        double deadline;
        std::function<void()> onDue;
    };
    bool fireNext(double limitOffset);
    void move(double offset, bool machineAwake);

    Executor& executor_;
    std::atomic<double> continuous_{0.0};
    std::atomic<double> uptime_{0.0};
    std::atomic<double> host_{0.0};
    std::atomic<double> date_;
    mutable std::mutex mutex_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

} // namespace parlaro::rt
