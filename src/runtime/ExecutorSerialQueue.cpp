#include "runtime/ExecutorSerialQueue.h"

namespace parlaro::rt {

ExecutorSerialQueue::ExecutorSerialQueue(std::string label, Executor& executor)
    : label_(std::move(label)), executor_(executor)
{
}

void ExecutorSerialQueue::async(Job job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    std::weak_ptr<SerialQueue> weak = weak_from_this();
    executor_.post([weak] {
        if (auto self = weak.lock())
            static_cast<ExecutorSerialQueue&>(*self).drainOne();
    });
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
        pending = jobs_.size();
    }
    std::weak_ptr<SerialQueue> weak = weak_from_this();
    for (std::size_t i = 0; i < pending; ++i) {
        executor_.post([weak] {
            if (auto self = weak.lock())
                static_cast<ExecutorSerialQueue&>(*self).drainOne();
        });
    }
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

void ExecutorSerialQueue::drainOne()
{
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (suspended_ || jobs_.empty())
            return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
    }
    runJob(job);
}

void ExecutorSerialQueue::drainAll()
{
    for (;;) {
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        runJob(job);
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

std::shared_ptr<SerialQueue> ExecutorQueueFactory::makeSerialQueue(std::string label)
{
    auto queue = std::make_shared<ExecutorSerialQueue>(label, executor_);
    std::lock_guard lock(mutex_);
    made_.emplace(std::move(label), queue);
    return queue;
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

} // namespace parlaro::rt
