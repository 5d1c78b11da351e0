#pragma once

#include "runtime/Runtime.h"
#include "runtime/SerialQueue.h"

#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace parlaro::rt {

// A serial queue whose jobs run as jobs of an Executor, for deterministic
// tests: order is FIFO within the queue and interleaves with the main actor
// by posting order. A test may suspend the queue to play a blocked one.
// Triggers keep the production queue's rules; their fire() posts to the
// executor (and so allocates), which tests can afford. Errors are reported
// as on the production queue: logged, or rethrown to a sync() caller.
class ExecutorSerialQueue final : public SerialQueue {
public:
    ExecutorSerialQueue(std::string label, Executor& executor);

    const std::string& label() const override { return label_; }
    void async(Job job) override;
    // Runs this queue's pending jobs, then `job`, inline. On a suspended
    // queue the job is queued and never waited for.
    void sync(const Job& job) override;
    // On a suspended queue the job is queued and false returned at once: the
    // test decides how much virtual time the caller's wait took.
    bool syncWithin(double seconds, const Job& job) override;
    bool isCurrent() const override { return running_ > 0; }
    Trigger makeTrigger(Job job) override;

    void suspend();
    void resume();
    bool isSuspended() const;
    std::size_t pendingJobs() const;
    // Drops the jobs that never ran; true when there were any. A job may
    // hold the owner of the queue, so jobs left at the end of a test would
    // otherwise keep both alive for good.
    bool discardJobs();

private:
    class Target;

    void postDrain();
    // Runs the triggers owing a run, unless suspended.
    void runFired();
    void drainOne();
    void drainAll();
    void runJob(const Job& job);
    // A job nobody waits for: an error is logged and the queue goes on.
    void runReporting(const Job& job);

    std::string label_;
    // A queue (and its triggers) may outlive the test's executor.
    ExecutorRef executor_;
    mutable std::mutex mutex_;
    std::deque<Job> jobs_;
    std::vector<std::weak_ptr<TriggerTarget>> triggers_;
    bool suspended_ = false;
    int running_ = 0;
};

// Makes ExecutorSerialQueues on one executor and remembers them by label so
// tests can find and suspend a component's queue.
class ExecutorQueueFactory final : public QueueFactory {
public:
    explicit ExecutorQueueFactory(Executor& executor) : executor_(executor) {}
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override;
    // The newest live queue with this label, if any.
    std::shared_ptr<ExecutorSerialQueue> queue(const std::string& label) const;
    // Drops every live queue's jobs that never ran, also those that
    // dropping others queues meanwhile.
    void discardPendingJobs();

private:
    Executor& executor_;
    mutable std::mutex mutex_;
    std::multimap<std::string, std::weak_ptr<ExecutorSerialQueue>> made_;
};

}  // namespace parlaro::rt
