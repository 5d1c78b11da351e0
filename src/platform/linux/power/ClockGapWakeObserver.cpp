#include "platform/linux/power/ClockGapWakeObserver.h"

#include "runtime/Runtime.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

namespace parlaro::sys {

bool SuspendGapDetector::observe(const SuspendClockReadings& readings)
{
    const double gap = readings.boottime - readings.monotonic;
    const bool woke = lastGap_ && gap - *lastGap_ > threshold_;
    lastGap_ = gap;
    return woke;
}

struct ClockGapWakeObserver::State : std::enable_shared_from_this<State> {
    Reader reader;
    double interval = defaultInterval;
    SuspendGapDetector detector;
    std::uint64_t nextSubscriber = 1;
    std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> subscribers;
    rt::Clock* clock = nullptr;
    std::optional<rt::TimerId> timer;
    // Counts timers, so a check posted by a timer that was cancelled after
    // it fired is told apart from the current one.
    std::uint64_t generation = 0;

    void schedule()
    {
        clock = &rt::clock();
        std::weak_ptr<State> weak = weak_from_this();
        const std::uint64_t current = ++generation;
        timer = clock->schedule(rt::TimeBase::uptime, clock->uptime() + interval, [weak, current] {
            rt::postToMain([weak, current] {
                if (auto state = weak.lock())
                    state->check(current);
            });
        });
    }

    void stop()
    {
        if (timer && clock)
            clock->cancel(*timer);
        timer.reset();
        ++generation;
        detector.reset();
    }

    // On the main executor.
    void check(std::uint64_t firedGeneration)
    {
        if (firedGeneration != generation || subscribers.empty())
            return;
        const bool woke = detector.observe(reader());
        schedule();
        if (!woke)
            return;
        // Copied first: a subscriber may unsubscribe itself or another one.
        std::vector<std::pair<std::uint64_t, std::shared_ptr<std::function<void()>>>> told(subscribers.begin(),
                                                                                           subscribers.end());
        for (const auto& [id, callback] : told)
            if (subscribers.contains(id))
                (*callback)();
    }
};

ClockGapWakeObserver::ClockGapWakeObserver(Reader reader, double interval) : state_(std::make_shared<State>())
{
    state_->reader = std::move(reader);
    state_->interval = interval;
}

ClockGapWakeObserver::~ClockGapWakeObserver()
{
    state_->stop();
}

rt::Subscription ClockGapWakeObserver::subscribe(std::function<void()> onWake)
{
    const std::uint64_t id = state_->nextSubscriber++;
    state_->subscribers.emplace(id, std::make_shared<std::function<void()>>(std::move(onWake)));
    if (!state_->timer) {
        state_->detector.observe(state_->reader());
        state_->schedule();
    }
    std::weak_ptr<State> weak = state_;
    return rt::Subscription([weak, id] {
        auto state = weak.lock();
        if (!state)
            return;
        state->subscribers.erase(id);
        if (state->subscribers.empty())
            state->stop();
    });
}

SuspendClockReadings ClockGapWakeObserver::readSuspendClocks()
{
    const auto seconds = [](clockid_t id) {
        timespec ts{};
        ::clock_gettime(id, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    };
    // Read back to back, so the pair differs only by what slept.
    SuspendClockReadings readings;
    readings.monotonic = seconds(CLOCK_MONOTONIC);
    readings.boottime = seconds(CLOCK_BOOTTIME);
    return readings;
}

}  // namespace parlaro::sys
