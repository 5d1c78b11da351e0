#include "runtime/ThreadSerialQueue.h"

#include <chrono>
#include <future>

namespace parlaro::rt {

class ThreadSerialQueue::Target final : public TriggerTarget {
public:
    Target(Job job, std::shared_ptr<Signal> signal) : TriggerTarget(std::move(job)), signal_(std::move(signal)) {}

private:
    void wake() noexcept override
    {
        signal_->fired.store(true, std::memory_order_release);
        signal_->wake.notify_one();
    }

    std::shared_ptr<Signal> signal_;
};

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : label_(std::move(label)), signal_(std::make_shared<Signal>())
{
    thread_ = std::thread([this] { loop(); });
}

ThreadSerialQueue::~ThreadSerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    signal_->wake.notify_all();
    if (thread_.joinable()) {
        if (isCurrent())
            thread_.detach();
        else
            thread_.join();
    }
}

void ThreadSerialQueue::async(Job job)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        jobs_.push_back(std::move(job));
    }
    signal_->wake.notify_one();
}

SerialQueue::Trigger ThreadSerialQueue::makeTrigger(Job job)
{
    auto target = std::make_shared<Target>(std::move(job), signal_);
    {
        std::lock_guard lock(mutex_);
        triggers_.push_back(target);
    }
    return Trigger(std::move(target));
}

void ThreadSerialQueue::collectFired(std::vector<std::shared_ptr<TriggerTarget>>& fired)
{
    std::erase_if(triggers_, [&](const std::weak_ptr<TriggerTarget>& weak) {
        auto trigger = weak.lock();
        if (trigger && trigger->isPending())
            fired.push_back(std::move(trigger));
        return weak.expired();
    });
}

void ThreadSerialQueue::sync(const Job& job)
{
    if (isCurrent()) {
        job();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([job, done] {
        job();
        done->set_value();
    });
    finished.wait();
}

bool ThreadSerialQueue::syncWithin(double seconds, const Job& job)
{
    if (isCurrent()) {
        job();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([job, done] {
        job();
        done->set_value();
    });
    return finished.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
}

void ThreadSerialQueue::loop()
{
    std::vector<std::shared_ptr<TriggerTarget>> fired;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                // Owed runs go first: a job posted after a fire comes after
                // its run.
                if (signal_->fired.exchange(false, std::memory_order_acq_rel)) {
                    collectFired(fired);
                    if (!fired.empty())
                        break;
                }
                if (!jobs_.empty()) {
                    job = std::move(jobs_.front());
                    jobs_.pop_front();
                    break;
                }
                if (stopping_)
                    return;
                std::erase_if(triggers_, [](const auto& weak) { return weak.expired(); });
                if (triggers_.empty())
                    signal_->wake.wait(lock);
                else
                    signal_->wake.wait_for(lock, lostWakeBound);
            }
        }
        for (const auto& trigger : fired)
            trigger->runIfPending();
        fired.clear();
        if (job)
            job();
    }
}

} // namespace parlaro::rt
