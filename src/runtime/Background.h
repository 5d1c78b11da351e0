#pragma once

#include "runtime/Continuation.h"
#include "runtime/Runtime.h"
#include "runtime/Task.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace parlaro::rt {

// A small pool of worker threads for blocking work.
class ThreadPoolBackground final : public BackgroundExecutor {
public:
    explicit ThreadPoolBackground(unsigned threads = 2);
    ~ThreadPoolBackground() override;
    void run(Job job) override;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Runs background work as ordinary jobs of the test executor, so it happens
// at a deterministic point.
class ExecutorBackground final : public BackgroundExecutor {
public:
    explicit ExecutorBackground(Executor& executor) : executor_(executor) {}
    void run(Job job) override { executor_.post(std::move(job)); }

private:
    Executor& executor_;
};

// Runs `work` on the background executor and resumes the caller on the main
// actor with its value or error.
template <class F>
auto runInBackground(F work) -> Async<std::invoke_result_t<F&>>
{
    using R = std::invoke_result_t<F&>;
    co_return co_await withContinuation<R>([work = std::move(work)](Continuation<R> done) mutable {
        background().run([work = std::move(work), done]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    work();
                    done.resume();
                } else {
                    done.resume(work());
                }
            } catch (...) {
                done.resumeThrowing(std::current_exception());
            }
        });
    });
}

}  // namespace parlaro::rt
