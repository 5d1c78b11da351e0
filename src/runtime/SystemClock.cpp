#include "runtime/SystemClock.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <pthread.h>
#include <vector>

namespace parlaro::rt {

namespace {

Instant readClock(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return Instant{static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec};
}

// Continuous timers are re-checked at least this often, because a condition
// variable wait does not notice time that passed while the machine slept.
constexpr std::int64_t maxWait = 250'000'000;

}  // namespace

SystemClock::SystemClock()
{
    thread_ = std::thread([this] { loop(); });
}

SystemClock::~SystemClock()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

Instant SystemClock::now() const
{
    return readClock(CLOCK_BOOTTIME);
}

double SystemClock::uptime() const
{
    return readClock(CLOCK_MONOTONIC).seconds();
}

double SystemClock::hostTime() const
{
    return readClock(CLOCK_MONOTONIC).seconds();
}

Instant SystemClock::reading(TimeBase base) const
{
    return readClock(base == TimeBase::continuous ? CLOCK_BOOTTIME : CLOCK_MONOTONIC);
}

Date SystemClock::date() const
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return Date::fromUnix(std::chrono::duration<double>(since).count());
}

TimerId SystemClock::schedule(TimeBase base, Instant deadline, std::function<void()> onDue)
{
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        timers_.emplace(id, Timer{base, deadline, std::move(onDue)});
    }
    wake_.notify_all();
    return id;
}

void SystemClock::cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

void SystemClock::loop()
{
    pthread_setname_np(pthread_self(), "parlaro-clock");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::int64_t wait = maxWait;
        std::vector<std::function<void()>> due;
        for (auto it = timers_.begin(); it != timers_.end();) {
            auto remaining = it->second.deadline.nanoseconds - reading(it->second.base).nanoseconds;
            if (remaining <= 0) {
                due.push_back(std::move(it->second.onDue));
                it = timers_.erase(it);
            } else {
                wait = std::min(wait, remaining);
                ++it;
            }
        }
        if (!due.empty()) {
            lock.unlock();
            for (auto& fire : due)
                fire();
            lock.lock();
            continue;
        }
        wake_.wait_for(lock, std::chrono::nanoseconds(wait));
    }
}

}  // namespace parlaro::rt
