#include "runtime/ThreadSerialQueue.h"

#include "runtime/Error.h"
#include "runtime/Log.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace parlaro::rt {

// What wakes the thread. Shared with the triggers, which may outlive the
// queue. Every producer changes what it hands over first and bumps the word
// after, and the thread reads the word before it looks for work, so a wake
// can never fall between its look and its wait.
struct ThreadSerialQueue::Signal {
    std::atomic<std::uint32_t> word{0};
    std::atomic<bool> fired{false};

    void wake() noexcept
    {
        word.fetch_add(1, std::memory_order_seq_cst);
        word.notify_one();
    }
};

struct ThreadSerialQueue::Core {
    explicit Core(std::string name) : label(std::move(name)) {}

    const std::string label;
    std::shared_ptr<Signal> signal = std::make_shared<Signal>();
    std::mutex mutex;
    std::deque<Job> jobs;
    std::vector<std::weak_ptr<TriggerTarget>> triggers;
    bool stopping = false;
};

namespace {

// The core whose loop runs on this thread, if any.
thread_local const void* currentCore = nullptr;

void runReporting(const std::string& label, const Job& job)
{
    try {
        job();
    } catch (...) {
        logMessage("a job on queue " + label + " failed: " + describe(std::current_exception()));
    }
}

}  // namespace

class ThreadSerialQueue::Target final : public TriggerTarget {
public:
    Target(Job job, std::shared_ptr<Signal> signal) : TriggerTarget(std::move(job)), signal_(std::move(signal)) {}

private:
    void wake() noexcept override
    {
        signal_->fired.store(true, std::memory_order_seq_cst);
        signal_->wake();
    }

    std::shared_ptr<Signal> signal_;
};

ThreadSerialQueue::ThreadSerialQueue(std::string label) : label_(label), core_(std::make_shared<Core>(std::move(label)))
{
    thread_ = std::thread(&ThreadSerialQueue::loop, core_);
}

ThreadSerialQueue::~ThreadSerialQueue()
{
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
    }
    core_->signal->wake();
    if (thread_.joinable()) {
        if (isCurrent())
            thread_.detach();
        else
            thread_.join();
    }
}

bool ThreadSerialQueue::isCurrent() const
{
    return currentCore == core_.get();
}

void ThreadSerialQueue::async(Job job)
{
    {
        std::lock_guard lock(core_->mutex);
        if (core_->stopping)
            return;
        core_->jobs.push_back(std::move(job));
    }
    core_->signal->wake();
}

SerialQueue::Trigger ThreadSerialQueue::makeTrigger(Job job)
{
    auto target = std::make_shared<Target>(std::move(job), core_->signal);
    {
        std::lock_guard lock(core_->mutex);
        core_->triggers.push_back(target);
    }
    return Trigger(std::move(target));
}

namespace {

// One job a caller waits for: its end or error reaches the caller, unless
// the caller gave up waiting, when an error is logged like any other job's.
struct Waited {
    std::mutex mutex;
    bool abandoned = false;
    std::promise<void> done;
};

std::shared_ptr<Waited> post(SerialQueue& queue, const Job& job)
{
    auto waited = std::make_shared<Waited>();
    queue.async([job, waited, label = queue.label()] {
        try {
            job();
        } catch (...) {
            std::lock_guard lock(waited->mutex);
            if (waited->abandoned)
                logMessage("a job on queue " + label + " failed: " + describe(std::current_exception()));
            else
                waited->done.set_exception(std::current_exception());
            return;
        }
        std::lock_guard lock(waited->mutex);
        if (!waited->abandoned)
            waited->done.set_value();
    });
    return waited;
}

}  // namespace

void ThreadSerialQueue::sync(const Job& job)
{
    if (isCurrent()) {
        job();
        return;
    }
    auto waited = post(*this, job);
    waited->done.get_future().get();
}

bool ThreadSerialQueue::syncWithin(double seconds, const Job& job)
{
    if (isCurrent()) {
        job();
        return true;
    }
    auto waited = post(*this, job);
    auto finished = waited->done.get_future();
    if (finished.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) {
        std::lock_guard lock(waited->mutex);
        if (finished.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            waited->abandoned = true;
            return false;
        }
    }
    finished.get();
    return true;
}

void ThreadSerialQueue::loop(std::shared_ptr<Core> core)
{
    pthread_setname_np(pthread_self(), core->label.substr(0, 15).c_str());
    currentCore = core.get();
    Signal& signal = *core->signal;
    std::vector<std::shared_ptr<TriggerTarget>> fired;
    for (;;) {
        const auto seen = signal.word.load(std::memory_order_seq_cst);
        Job job;
        {
            std::lock_guard lock(core->mutex);
            // Owed runs go first: a job posted after a fire comes after its
            // run. Once the queue is going, fires do nothing, so a busy
            // real-time thread cannot keep it alive.
            if (signal.fired.exchange(false, std::memory_order_seq_cst) && !core->stopping) {
                std::erase_if(core->triggers, [&](const std::weak_ptr<TriggerTarget>& weak) {
                    auto trigger = weak.lock();
                    if (trigger && trigger->isPending())
                        fired.push_back(std::move(trigger));
                    return weak.expired();
                });
            }
            if (fired.empty()) {
                if (!core->jobs.empty()) {
                    job = std::move(core->jobs.front());
                    core->jobs.pop_front();
                } else if (core->stopping) {
                    break;
                }
            }
        }
        if (fired.empty() && !job) {
            signal.word.wait(seen, std::memory_order_seq_cst);
            continue;
        }
        for (const auto& trigger : fired)
            runReporting(core->label, [&trigger] { trigger->runIfPending(); });
        // Released here, on the loop, while the core is alive: the last
        // reference to the queue may go with them.
        fired.clear();
        if (job)
            runReporting(core->label, job);
    }
    currentCore = nullptr;
}

}  // namespace parlaro::rt
