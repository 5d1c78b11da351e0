#include "runtime/ManualClock.h"

#include <algorithm>

namespace parlaro::rt {

ManualClock::ManualClock(Executor& executor, Date start) : executor_(executor), dateBase_(start.sinceReferenceDate)
{
}

Date ManualClock::date() const
{
    std::lock_guard lock(dateMutex_);
    return Date{dateBase_ + Instant{dateOffset_}.seconds()};
}

void ManualClock::setDate(Date date)
{
    std::lock_guard lock(dateMutex_);
    dateBase_ = date.sinceReferenceDate;
    dateOffset_ = 0;
}

Instant ManualClock::reading(TimeBase base) const
{
    return Instant{base == TimeBase::continuous ? continuous_.load() : uptime_.load()};
}

TimerId ManualClock::schedule(TimeBase base, Instant deadline, std::function<void()> onDue)
{
    std::lock_guard lock(mutex_);
    auto id = nextId_++;
    timers_.emplace(id, Timer{base, deadline.nanoseconds, std::move(onDue)});
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

std::int64_t ManualClock::offsetOf(const Timer& timer) const
{
    return timer.deadline - reading(timer.base).nanoseconds;
}

std::optional<Instant> ManualClock::nextTimerInstant() const
{
    std::lock_guard lock(mutex_);
    std::optional<std::int64_t> earliest;
    for (const auto& [id, timer] : timers_) {
        auto offset = offsetOf(timer);
        if (!earliest || offset < *earliest)
            earliest = offset;
    }
    if (!earliest)
        return std::nullopt;
    return Instant{continuous_.load() + *earliest};
}

void ManualClock::move(std::int64_t offset, bool machineAwake)
{
    continuous_.fetch_add(offset);
    {
        std::lock_guard lock(dateMutex_);
        dateOffset_ += offset;
    }
    if (machineAwake) {
        uptime_.fetch_add(offset);
        host_.fetch_add(offset);
    }
}

// Fires the earliest timer due within `limitOffset` nanoseconds from now,
// moving the clocks to its instant. False when none is due that soon.
bool ManualClock::fireNext(std::int64_t limitOffset)
{
    std::function<void()> onDue;
    {
        std::lock_guard lock(mutex_);
        auto best = timers_.end();
        std::int64_t bestOffset = 0;
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            auto offset = offsetOf(it->second);
            // Ids grow with registration, so the first of equal offsets wins.
            if (offset <= limitOffset && (best == timers_.end() || offset < bestOffset)) {
                best = it;
                bestOffset = offset;
            }
        }
        if (best == timers_.end())
            return false;
        onDue = std::move(best->second.onDue);
        timers_.erase(best);
        if (bestOffset > 0)
            move(bestOffset, true);
    }
    onDue();
    executor_.runUntilIdle();
    return true;
}

void ManualClock::advance(double seconds)
{
    advanceBy(Instant::toNanoseconds(seconds));
}

void ManualClock::advanceBy(std::int64_t step)
{
    executor_.runUntilIdle();
    if (step >= 0) {
        const auto target = continuous_.load() + step;
        while (fireNext(target - continuous_.load())) {}
        if (auto rest = target - continuous_.load(); rest > 0)
            move(rest, true);
    }
    executor_.runUntilIdle();
}

void ManualClock::advanceTo(Instant instant)
{
    advanceBy(std::max<std::int64_t>(0, instant.nanoseconds - continuous_.load()));
}

void ManualClock::jump(double seconds)
{
    if (auto step = Instant::toNanoseconds(seconds); step > 0)
        move(step, true);
}

void ManualClock::sleepMachine(double seconds)
{
    executor_.runUntilIdle();
    if (auto step = Instant::toNanoseconds(seconds); step > 0)
        move(step, false);
    // Only continuous timers can have fallen due; fire them in order.
    for (;;) {
        std::function<void()> onDue;
        {
            std::lock_guard lock(mutex_);
            auto best = timers_.end();
            for (auto it = timers_.begin(); it != timers_.end(); ++it) {
                if (it->second.base != TimeBase::continuous || it->second.deadline > continuous_.load())
                    continue;
                if (best == timers_.end() || it->second.deadline < best->second.deadline)
                    best = it;
            }
            if (best == timers_.end())
                break;
            onDue = std::move(best->second.onDue);
            timers_.erase(best);
        }
        onDue();
        executor_.runUntilIdle();
    }
    executor_.runUntilIdle();
}

}  // namespace parlaro::rt
