#include "platform/linux/sphinx/SphinxJobQueue.h"

#include <algorithm>
#include <pthread.h>
#include <utility>

namespace parlaro::sys {

SphinxJobQueue::SphinxJobQueue(Failed failed) : failed_(std::move(failed))
{
}

SphinxJobQueue::~SphinxJobQueue()
{
    stop();
}

void SphinxJobQueue::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SphinxJobQueue::enqueue(const std::shared_ptr<SphinxTaskState>& task, std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        jobs_.push_back(Job{task, std::move(job)});
        if (!thread_.joinable())
            thread_ = std::thread([this] { work(); });
    }
    wake_.notify_one();
}

bool SphinxJobQueue::waiting(const SphinxTaskState& task)
{
    std::lock_guard lock(mutex_);
    return std::any_of(jobs_.begin(), jobs_.end(), [&](const Job& job) { return job.task.get() == &task; });
}

void SphinxJobQueue::work()
{
    pthread_setname_np(pthread_self(), "sphinx-decode");
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job.run();
        } catch (...) {
            failed_(job.task, std::current_exception());
        }
    }
}

}  // namespace parlaro::sys
