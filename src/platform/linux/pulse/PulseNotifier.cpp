#include "platform/linux/pulse/PulseNotifier.h"
#include <pthread.h>

namespace parlaro::sys {

PulseNotifier::PulseNotifier() : thread_([this] { run(); })
{
}

PulseNotifier::~PulseNotifier()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PulseNotifier::post(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void PulseNotifier::run()
{
    pthread_setname_np(pthread_self(), "pulse-notifier");
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

}  // namespace parlaro::sys
