#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace parlaro::rt {

namespace detail {
struct TaskState;
}

using Job = std::function<void()>;

// The main actor's queue: jobs run one at a time, in the order they were
// posted. post() may be called from any thread; everything else belongs to
// the thread that drives the executor (the UI event loop, or a test).
class Executor {
public:
    Executor() = default;
    ~Executor();
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    void post(Job job);

    // Runs one queued job; false when the queue was empty.
    bool runOne();
    // Runs jobs until none is queued, including jobs posted meanwhile.
    std::size_t runUntilIdle();

    // Production loop: runs jobs as they arrive until stop().
    void run();
    void stop();

    // Called (from the posting thread) after each post, so an outer event
    // loop can schedule a drain of this executor.
    void setWakeHandler(std::function<void()> wake);

    std::size_t pendingJobs() const;

    // Drops queued jobs and destroys the frames of tasks still suspended, so a
    // test that leaves a task waiting forever does not leak it.
    void shutdown();

    void track(const std::shared_ptr<detail::TaskState>& task);
    void untrack(detail::TaskState* task);

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::function<void()> wakeHandler_;
    bool stopRequested_ = false;
    bool shutDown_ = false;
    std::unordered_map<detail::TaskState*, std::shared_ptr<detail::TaskState>> tasks_;
};

} // namespace parlaro::rt
