#include "runtime/ThreadSerialQueue.h"

#include <chrono>
#include <future>

namespace parlaro::rt {

ThreadSerialQueue::ThreadSerialQueue(std::string label) : label_(std::move(label))
{
    thread_ = std::thread([this] { loop(); });
}

ThreadSerialQueue::~ThreadSerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
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
    wake_.notify_one();
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
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace parlaro::rt
