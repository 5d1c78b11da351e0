#pragma once

#include "runtime/Runtime.h"
#include "runtime/SerialQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace parlaro::rt {

// A serial queue with a thread of its own.
//
// A trigger's fire() takes no lock: the queue's mutex is held by async()
// while its list may allocate, and a real-time thread must not wait behind
// that. It flips atomics and signals the condition variable without the
// mutex, which never allocates and at most touches the condition's own word
// briefly. A signal that lands between the loop's last look and its wait is
// missed, so while triggers exist the loop never sleeps longer than
// lostWakeBound: a missed wake delays a run by at most that much.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;

    const std::string& label() const override { return label_; }
    void async(Job job) override;
    void sync(const Job& job) override;
    bool syncWithin(double seconds, const Job& job) override;
    bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }
    Trigger makeTrigger(Job job) override;

    static constexpr std::chrono::milliseconds lostWakeBound{10};

private:
    // Shared with the triggers, which may outlive the queue.
    struct Signal {
        std::condition_variable wake;
        std::atomic<bool> fired{false};
    };
    class Target;

    void loop();
    // Under the mutex: the triggers owing a run; forgets dropped ones.
    void collectFired(std::vector<std::shared_ptr<TriggerTarget>>& fired);

    std::string label_;
    std::shared_ptr<Signal> signal_;
    std::mutex mutex_;
    std::deque<Job> jobs_;
    std::vector<std::weak_ptr<TriggerTarget>> triggers_;
    bool stopping_ = false;
    std::thread thread_;
};

class ThreadQueueFactory final : public QueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override
    {
        return std::make_shared<ThreadSerialQueue>(std::move(label));
    }
};

} // namespace parlaro::rt
