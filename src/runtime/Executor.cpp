#include "runtime/Executor.h"

#include "runtime/Task.h"

#include <vector>

namespace parlaro::rt {

Executor::~Executor()
{
    shutdown();
}

void Executor::post(Job job)
{
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        if (shutDown_)
            return;
        jobs_.push_back(std::move(job));
        wake = wakeHandler_;
    }
    wake_.notify_one();
    if (wake)
        wake();
}

bool Executor::runOne()
{
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (jobs_.empty())
            return false;
        job = std::move(jobs_.front());
        jobs_.pop_front();
    }
    job();
    return true;
}

std::size_t Executor::runUntilIdle()
{
    std::size_t count = 0;
    while (runOne())
        ++count;
    return count;
}

void Executor::run()
{
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopRequested_ || !jobs_.empty(); });
            if (stopRequested_) {
                stopRequested_ = false;
                return;
            }
        }
        runOne();
    }
}

void Executor::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void Executor::setWakeHandler(std::function<void()> wake)
{
    std::lock_guard lock(mutex_);
    wakeHandler_ = std::move(wake);
}

std::size_t Executor::pendingJobs() const
{
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

void Executor::shutdown()
{
    std::deque<Job> dropped;
    std::vector<std::shared_ptr<detail::TaskState>> tasks;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        dropped.swap(jobs_);
        for (auto& [key, task] : tasks_)
            tasks.push_back(task);
    }
    dropped.clear();
    for (auto& task : tasks)
        task->destroyFrame();
    std::lock_guard lock(mutex_);
    tasks_.clear();
}

void Executor::track(const std::shared_ptr<detail::TaskState>& task)
{
    std::lock_guard lock(mutex_);
    if (!shutDown_)
        tasks_.emplace(task.get(), task);
}

void Executor::untrack(detail::TaskState* task)
{
    std::lock_guard lock(mutex_);
    tasks_.erase(task);
}

} // namespace parlaro::rt
