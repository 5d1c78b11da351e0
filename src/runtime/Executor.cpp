#include "runtime/Executor.h"

#include "runtime/Task.h"

#include <vector>

namespace parlaro::rt {

namespace detail {

struct ExecutorState {
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    std::function<void()> wakeHandler;
    bool stopRequested = false;
    bool shutDown = false;
    std::unordered_map<TaskState*, std::shared_ptr<TaskState>> tasks;
    std::atomic<std::thread::id> owner{std::this_thread::get_id()};

    bool post(Job& job)
    {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            if (shutDown)
                return false;
            jobs.push_back(std::move(job));
            handler = wakeHandler;
        }
        wake.notify_one();
        if (handler)
            handler();
        return true;
    }

    void untrack(TaskState* task)
    {
        std::lock_guard lock(mutex);
        tasks.erase(task);
    }
};

}  // namespace detail

bool ExecutorRef::post(std::function<void()> job) const
{
    auto state = state_.lock();
    return state && state->post(job);
}

void ExecutorRef::untrack(detail::TaskState* task) const
{
    if (auto state = state_.lock())
        state->untrack(task);
}

Executor::Executor() : state_(std::make_shared<detail::ExecutorState>())
{
}

Executor::~Executor()
{
    shutdown();
}

void Executor::post(Job job)
{
    state_->post(job);
}

void Executor::claimThread()
{
    auto self = std::this_thread::get_id();
    if (state_->owner.load(std::memory_order_relaxed) != self)
        state_->owner.store(self, std::memory_order_relaxed);
}

bool Executor::onMainActor() const
{
    return state_->owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool Executor::runOne()
{
    claimThread();
    Job job;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->jobs.empty())
            return false;
        job = std::move(state_->jobs.front());
        state_->jobs.pop_front();
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
    claimThread();
    for (;;) {
        {
            std::unique_lock lock(state_->mutex);
            state_->wake.wait(lock, [&] { return state_->stopRequested || !state_->jobs.empty(); });
            if (state_->stopRequested) {
                state_->stopRequested = false;
                return;
            }
        }
        runOne();
    }
}

void Executor::stop()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopRequested = true;
    }
    state_->wake.notify_all();
}

void Executor::setWakeHandler(std::function<void()> wake)
{
    std::lock_guard lock(state_->mutex);
    state_->wakeHandler = std::move(wake);
}

std::size_t Executor::pendingJobs() const
{
    std::lock_guard lock(state_->mutex);
    return state_->jobs.size();
}

void Executor::shutdown()
{
    std::deque<Job> dropped;
    std::vector<std::shared_ptr<detail::TaskState>> tasks;
    {
        std::lock_guard lock(state_->mutex);
        state_->shutDown = true;
        dropped.swap(state_->jobs);
        for (auto& [key, task] : state_->tasks)
            tasks.push_back(task);
    }
    dropped.clear();
    for (auto& task : tasks)
        task->destroyFrame();
    std::lock_guard lock(state_->mutex);
    state_->tasks.clear();
}

bool Executor::isShutDown() const
{
    std::lock_guard lock(state_->mutex);
    return state_->shutDown;
}

bool Executor::track(const std::shared_ptr<detail::TaskState>& task)
{
    std::lock_guard lock(state_->mutex);
    if (state_->shutDown)
        return false;
    state_->tasks.emplace(task.get(), task);
    return true;
}

void Executor::untrack(detail::TaskState* task)
{
    state_->untrack(task);
}

}  // namespace parlaro::rt
