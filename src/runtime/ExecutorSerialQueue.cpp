#include "runtime/ExecutorSerialQueue.h"

#include "runtime/Error.h"
#include "runtime/Log.h"

namespace parlaro::rt {

class ExecutorSerialQueue::Target final : public TriggerTarget {
public:
    Target(Job job, std::weak_ptr<SerialQueue> queue) : TriggerTarget(std::move(job)), queue_(std::move(queue)) {}

private:
    void wake() noexcept override
    {
        if (auto queue = queue_.lock())
            static_cast<ExecutorSerialQueue&>(*queue).postDrain();
    }

    std::weak_ptr<SerialQueue> queue_;
};

ExecutorSerialQueue::ExecutorSerialQueue(std::string label, Executor& executor)
    : label_(std::move(label)), executor_(executor.ref())
{
}

void ExecutorSerialQueue::async(Job job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    postDrain();
}

void ExecutorSerialQueue::postDrain()
{
    std::weak_ptr<SerialQueue> weak = weak_from_this();
    executor_.post([weak] {
        if (auto self = weak.lock())
            static_cast<ExecutorSerialQueue&>(*self).drainOne();
    });
}

SerialQueue::Trigger ExecutorSerialQueue::makeTrigger(Job job)
{
    auto target = std::make_shared<Target>(std::move(job), weak_from_this());
    {
        std::lock_guard lock(mutex_);
        triggers_.push_back(target);
    }
    return Trigger(std::move(target));
}

void ExecutorSerialQueue::runFired()
{
    // Runs owed by fires during these runs go before the next job, too.
    for (;;) {
        std::vector<std::shared_ptr<TriggerTarget>> fired;
        {
            std::lock_guard lock(mutex_);
            if (suspended_)
                return;
            std::erase_if(triggers_, [&](const std::weak_ptr<TriggerTarget>& weak) {
                auto trigger = weak.lock();
                if (trigger && trigger->isPending())
                    fired.push_back(std::move(trigger));
                return weak.expired();
            });
        }
        if (fired.empty())
            return;
        for (const auto& trigger : fired)
            runReporting([&trigger] { trigger->runIfPending(); });
    }
}

void ExecutorSerialQueue::sync(const Job& job)
{
    syncWithin(0.0, job);
}

bool ExecutorSerialQueue::syncWithin(double, const Job& job)
{
    if (isCurrent()) {
        runJob(job);
        return true;
    }
    if (isSuspended()) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(job);
        return false;
    }
    drainAll();
    runJob(job);
    return true;
}

void ExecutorSerialQueue::suspend()
{
    std::lock_guard lock(mutex_);
    suspended_ = true;
}

void ExecutorSerialQueue::resume()
{
    std::size_t pending;
    {
        std::lock_guard lock(mutex_);
        suspended_ = false;
        // One more drain for runs owed by triggers fired meanwhile.
        pending = jobs_.size() + 1;
    }
    for (std::size_t i = 0; i < pending; ++i)
        postDrain();
}

bool ExecutorSerialQueue::isSuspended() const
{
    std::lock_guard lock(mutex_);
    return suspended_;
}

std::size_t ExecutorSerialQueue::pendingJobs() const
{
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

bool ExecutorSerialQueue::discardJobs()
{
    std::deque<Job> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(jobs_);
    }
    // Destroyed outside the lock: a job's captures may queue more work.
    return !dropped.empty();
}

void ExecutorSerialQueue::drainOne()
{
    runFired();
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (suspended_ || jobs_.empty())
            return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
    }
    runReporting(job);
}

void ExecutorSerialQueue::drainAll()
{
    for (;;) {
        runFired();
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        runReporting(job);
    }
}

void ExecutorSerialQueue::runJob(const Job& job)
{
    ++running_;
    try {
        job();
    } catch (...) {
        --running_;
        throw;
    }
    --running_;
}

void ExecutorSerialQueue::runReporting(const Job& job)
{
    try {
        runJob(job);
    } catch (...) {
        logMessage("a job on queue " + label_ + " failed: " + describe(std::current_exception()));
    }
}

std::shared_ptr<SerialQueue> ExecutorQueueFactory::makeSerialQueue(std::string label)
{
    auto queue = std::make_shared<ExecutorSerialQueue>(label, executor_);
    std::lock_guard lock(mutex_);
    made_.emplace(std::move(label), queue);
    return queue;
}

void ExecutorQueueFactory::discardPendingJobs()
{
    for (bool dropped = true; dropped;) {
        std::vector<std::shared_ptr<ExecutorSerialQueue>> live;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [label, weak] : made_) {
                if (auto queue = weak.lock())
                    live.push_back(std::move(queue));
            }
        }
        dropped = false;
        for (const auto& queue : live)
            dropped = queue->discardJobs() || dropped;
    }
}

std::shared_ptr<ExecutorSerialQueue> ExecutorQueueFactory::queue(const std::string& label) const
{
    std::lock_guard lock(mutex_);
    std::shared_ptr<ExecutorSerialQueue> found;
    auto [begin, end] = made_.equal_range(label);
    for (auto it = begin; it != end; ++it) {
        if (auto q = it->second.lock())
            found = q;
    }
    return found;
}

}  // namespace parlaro::rt
