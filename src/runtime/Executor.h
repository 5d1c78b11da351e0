#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace parlaro::rt {

namespace detail {
struct TaskState;
struct ExecutorState;
}  // namespace detail

using Job = std::function<void()>;

// A way to reach an executor that may be gone: a task keeps one, so a
// resumption arriving after the executor was shut down or destroyed is
// dropped instead of posted to freed memory.
class ExecutorRef {
public:
    ExecutorRef() = default;
    explicit ExecutorRef(std::weak_ptr<detail::ExecutorState> state) : state_(std::move(state)) {}

    // False when the job was dropped: the executor is shut down or gone.
    bool post(std::function<void()> job) const;
    void untrack(detail::TaskState* task) const;

private:
    std::weak_ptr<detail::ExecutorState> state_;
};

// The main actor's queue: jobs run one at a time, in the order they were
// posted. post() may be called from any thread; everything else belongs to
// the thread that drives the executor (the UI event loop, or a test).
class Executor {
public:
    Executor();
    ~Executor();
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    // After shutdown the job is dropped.
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

    // True on the thread that drives this executor: the one that made it,
    // until another runs its jobs.
    bool onMainActor() const;

    // Drops queued jobs and destroys the frames of tasks still suspended, so a
    // test that leaves a task waiting forever does not leak it. Afterwards
    // posts and resumptions are dropped, and a task spawned then (from a
    // frame being destroyed, say) is destroyed at once.
    void shutdown();
    bool isShutDown() const;

    ExecutorRef ref() const { return ExecutorRef(state_); }
    // False after shutdown: the task is not kept and must be destroyed.
    bool track(const std::shared_ptr<detail::TaskState>& task);
    void untrack(detail::TaskState* task);

private:
    void claimThread();

    std::shared_ptr<detail::ExecutorState> state_;
};

}  // namespace parlaro::rt
