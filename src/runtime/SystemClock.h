#pragma once

#include "runtime/Clock.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace parlaro::rt {

// The real clocks: continuous = CLOCK_BOOTTIME, uptime and host time =
// CLOCK_MONOTONIC, date = the system clock. Timers are served by one thread.
class SystemClock final : public Clock {
public:
    SystemClock();
    ~SystemClock() override;

    Instant now() const override;
    double uptime() const override;
    double hostTime() const override;
    Date date() const override;
    Instant reading(TimeBase base) const override;

    using Clock::schedule;
    TimerId schedule(TimeBase base, Instant deadline, std::function<void()> onDue) override;
    void cancel(TimerId id) override;

private:
    struct Timer {
        TimeBase base;
        Instant deadline;
        std::function<void()> onDue;
    };
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace parlaro::rt
