#pragma once

#include "runtime/Clock.h"
#include "runtime/Executor.h"

#include <atomic>
#include <memory>

namespace parlaro::rt {

// A cancellable piece of delayed work. Cancelling after it ran is harmless.
class WorkItem {
public:
    WorkItem() = default;
    WorkItem(std::shared_ptr<std::atomic<bool>> cancelled, Clock* clock, TimerId timer)
        : cancelled_(std::move(cancelled)), clock_(clock), timer_(timer)
    {
    }

    void cancel() const
    {
        if (!cancelled_)
            return;
        cancelled_->store(true);
        clock_->cancel(timer_);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
    Clock* clock_ = nullptr;
    TimerId timer_ = 0;
};

// Runs `job` through `post` after `seconds` of uptime, unless cancelled first.
WorkItem scheduleAfter(double seconds, std::function<void(Job)> post, Job job);

// Runs `job` on the main actor after `seconds` of uptime.
WorkItem postAfter(double seconds, Job job);

}  // namespace parlaro::rt
