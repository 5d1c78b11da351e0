#include "runtime/Background.h"
#include <pthread.h>

namespace parlaro::rt {

ThreadPoolBackground::ThreadPoolBackground(unsigned threads)
{
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this] {
            pthread_setname_np(pthread_self(), "parlaro-backgnd");
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
        });
    }
}

ThreadPoolBackground::~ThreadPoolBackground()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void ThreadPoolBackground::run(Job job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

}  // namespace parlaro::rt
