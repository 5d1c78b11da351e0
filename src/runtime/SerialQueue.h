#pragma once

#include "runtime/Executor.h"
#include "runtime/WorkItem.h"

#include <atomic>
#include <memory>
#include <string>

namespace parlaro::rt {

// A named serial queue, standing in for a dispatch queue: jobs run one at a
// time in order, off the main actor in production.
class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    // What a queue keeps for one trigger: the job and whether a run is owed.
    class TriggerTarget {
    public:
        explicit TriggerTarget(Job job) : job_(std::move(job)) {}
        virtual ~TriggerTarget() = default;
        TriggerTarget(const TriggerTarget&) = delete;
        TriggerTarget& operator=(const TriggerTarget&) = delete;

        // Marks a run as owed; wakes the queue only when none was owed yet.
        void fire() noexcept
        {
            if (!pending_.exchange(true, std::memory_order_acq_rel))
                wake();
        }
        // On the queue: runs the job when a run is owed. The mark is cleared
        // first, so a fire during the run owes another one.
        bool runIfPending()
        {
            if (!pending_.exchange(false, std::memory_order_acq_rel))
                return false;
            job_();
            return true;
        }
        bool isPending() const { return pending_.load(std::memory_order_acquire); }

    private:
        virtual void wake() noexcept = 0;

        Job job_;
        std::atomic<bool> pending_{false};
    };

    // A job a real-time thread can ask the queue to run: fire() never
    // allocates and never waits for another thread's work. Each fire owes one
    // run of the job on the queue, starting after the fire; fires before that
    // run has started share it (a fire during a run owes another). The run
    // comes before any job posted after the fire, and may come before jobs
    // posted earlier. Once the last copy of the trigger is gone, owed runs
    // are dropped; a run already going finishes.
    class Trigger {
    public:
        Trigger() = default;
        explicit Trigger(std::shared_ptr<TriggerTarget> target) : target_(std::move(target)) {}

        void fire() const noexcept
        {
            if (target_)
                target_->fire();
        }
        explicit operator bool() const { return target_ != nullptr; }

    private:
        std::shared_ptr<TriggerTarget> target_;
    };

    virtual ~SerialQueue() = default;

    virtual const std::string& label() const = 0;
    // A job that throws is logged and the queue goes on.
    virtual void async(Job job) = 0;
    // Runs `job` on the queue after everything queued before it and waits;
    // its error is rethrown here. Called from the queue itself, it runs
    // inline.
    virtual void sync(const Job& job) = 0;
    // Like sync, but gives up waiting after `seconds`; false when it gave up
    // (the job stays queued and runs later, and its error is logged).
    virtual bool syncWithin(double seconds, const Job& job) = 0;
    // True while called from a job of this queue.
    virtual bool isCurrent() const = 0;
    // Made off the real-time path: it allocates.
    virtual Trigger makeTrigger(Job job) = 0;

    WorkItem asyncAfter(double seconds, Job job);
};

}  // namespace parlaro::rt
