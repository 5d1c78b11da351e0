#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace parlaro::sys {

struct SphinxTaskState;

// The decoding thread of one model: it runs every step of every task in
// the order they were asked for, started with the first. A step that
// throws is handed to `failed` with its task, and the thread goes on with
// the next.
class SphinxJobQueue {
public:
    using Failed = std::function<void(const std::shared_ptr<SphinxTaskState>&, const std::exception_ptr&)>;

    explicit SphinxJobQueue(Failed failed);
    ~SphinxJobQueue();
    SphinxJobQueue(const SphinxJobQueue&) = delete;
    SphinxJobQueue& operator=(const SphinxJobQueue&) = delete;

    // Runs the step on the thread after those asked for before; none once
    // the queue stopped.
    void enqueue(const std::shared_ptr<SphinxTaskState>& task, std::function<void()> job);
    // More steps of the task wait.
    bool waiting(const SphinxTaskState& task);
    // Joins the thread: no step runs once this returns, and those still
    // waiting never do.
    void stop();

private:
    void work();

    Failed failed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    struct Job {
        std::shared_ptr<SphinxTaskState> task;
        std::function<void()> run;
    };
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace parlaro::sys
