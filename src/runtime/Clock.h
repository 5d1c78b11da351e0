#pragma once

#include "runtime/Time.h"

#include <cstdint>
#include <functional>

namespace parlaro::rt {

// Which reading a timer is measured against. The continuous clock keeps
// counting across machine sleep; uptime (and the host clock) do not.
enum class TimeBase { continuous, uptime };

using TimerId = std::uint64_t;

// The program's source of time. Model code never reads std::chrono directly,
// so tests can swap in a ManualClock and control every deadline.
class Clock {
public:
    virtual ~Clock() = default;

    virtual Instant now() const = 0;      // continuous clock
    virtual double uptime() const = 0;    // stops while the machine sleeps
    virtual double hostTime() const = 0;  // host clock seconds, the audio time stamp base
    virtual Date date() const = 0;        // wall clock
    // The reading of `base` in whole nanoseconds, which timers compare with.
    virtual Instant reading(TimeBase base) const = 0;

    // Calls onDue once, on any thread, when the reading of `base` reaches
    // `deadline`. onDue must only post work somewhere; it must not block.
    virtual TimerId schedule(TimeBase base, Instant deadline, std::function<void()> onDue) = 0;
    // A deadline in seconds of `base`, rounded once to the nearest nanosecond.
    TimerId schedule(TimeBase base, double deadline, std::function<void()> onDue)
    {
        return schedule(base, Instant::fromSeconds(deadline), std::move(onDue));
    }
    // Cancelling a timer that already fired or was cancelled is harmless.
    virtual void cancel(TimerId id) = 0;
};

}  // namespace parlaro::rt
