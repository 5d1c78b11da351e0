#include "runtime/ManualClock.h"

#include <optional>

namespace parlaro::rt {

ManualClock::ManualClock(Executor& executor, Date start) : executor_(executor), date_(start.sinceReferenceDate) {}

TimerId ManualClock::schedule(TimeBase base, double deadline, std::function<void()> onDue)
{
    std::lock_guard lock(mutex_);
    auto id = nextId_++;
    timers_.emplace(id, Timer{base, deadline, std::move(onDue)});
    return id;
}

void ManualClock::cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

std::size_t ManualClock::pendingTimers() const
{
    std::lock_guard lock(mutex_);
    return timers_.size();
}

void ManualClock::move(double offset, bool machineAwake)
{
    continuous_.store(continuous_.load() + offset);
    date_.store(date_.load() + offset);
    if (machineAwake) {
        uptime_.store(uptime_.load() + offset);
        host_.store(host_.load() + offset);
    }
}

// Fires the earliest timer due within `limitOffset` seconds from now, moving
// the clocks to its instant. False when none is due that soon.
bool ManualClock::fireNext(double limitOffset)
{
    std::function<void()> onDue;
    {
        std::lock_guard lock(mutex_);
        std::optional<std::map<TimerId, Timer>::iterator> best;
        double bestOffset = 0;
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            double offset = it->second.deadline - reading(it->second.base);
            // Ids grow with registration, so the first of equal offsets wins.
            if (offset <= limitOffset && (!best || offset < bestOffset)) {
                best = it;
                bestOffset = offset;
            }
        }
        if (!best)
            return false;
        auto timer = std::move((*best)->second);
        timers_.erase(*best);
        if (bestOffset > 0) {
            move(bestOffset, true);
            // Land exactly on the deadline despite rounding in the sum.
            if (timer.base == TimeBase::continuous)
                continuous_.store(timer.deadline);
            else
                uptime_.store(timer.deadline);
        }
        onDue = std::move(timer.onDue);
    }
    onDue();
    executor_.runUntilIdle();
    return true;
}

void ManualClock::advance(double seconds)
{
    executor_.runUntilIdle();
    double target = continuous_.load() + seconds;
    while (fireNext(target - continuous_.load())) {
    }
    double rest = target - continuous_.load();
    if (rest > 0)
        move(rest, true);
    continuous_.store(target);
    executor_.runUntilIdle();
}

void ManualClock::advanceTo(Instant instant)
{
    double delta = instant.seconds - continuous_.load();
    if (delta > 0)
        advance(delta);
    else
        executor_.runUntilIdle();
}

void ManualClock::sleepMachine(double seconds)
{
    executor_.runUntilIdle();
    move(seconds, false);
    // Only continuous timers can have fallen due; fire them in order.
    for (;;) {
        std::function<void()> onDue;
        {
            std::lock_guard lock(mutex_);
            std::optional<std::map<TimerId, Timer>::iterator> best;
            for (auto it = timers_.begin(); it != timers_.end(); ++it) {
                if (it->second.base != TimeBase::continuous || it->second.deadline > continuous_.load())
                    continue;
                if (!best || it->second.deadline < (*best)->second.deadline)
                    best = it;
            }
            if (!best)
                break;
            onDue = std::move((*best)->second.onDue);
            timers_.erase(*best);
        }
        onDue();
        executor_.runUntilIdle();
    }
    executor_.runUntilIdle();
}

} // namespace parlaro::rt
