#pragma once

#include "runtime/Runtime.h"
#include "runtime/SerialQueue.h"

#include <memory>
#include <string>
#include <thread>

namespace parlaro::rt {

// A serial queue with a thread of its own.
//
// The thread owns the queue's state, not the object: the last reference may
// die anywhere, a job of the queue included. Dying elsewhere, the object
// waits for the jobs already queued; dying in its own job, it leaves them to
// the thread, which finishes them and ends.
//
// A job that throws is logged and the queue goes on; sync() and a
// syncWithin() that waited to the end rethrow it in the caller instead.
//
// A trigger's fire() takes no lock and never allocates: it sets atomics and
// wakes the thread through an atomic wait word (a futex), so a real-time
// thread never waits behind async()'s lock or the C library's own locks.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;

    const std::string& label() const override { return label_; }
    void async(Job job) override;
    void sync(const Job& job) override;
    bool syncWithin(double seconds, const Job& job) override;
    bool isCurrent() const override;
    Trigger makeTrigger(Job job) override;

private:
    struct Signal;
    struct Core;
    class Target;

    static void loop(std::shared_ptr<Core> core);

    std::string label_;
    std::shared_ptr<Core> core_;
    std::thread thread_;
};

class ThreadQueueFactory final : public QueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override
    {
        return std::make_shared<ThreadSerialQueue>(std::move(label));
    }
};

}  // namespace parlaro::rt
