#pragma once

#include "runtime/Executor.h"
#include "runtime/WorkItem.h"

#include <memory>
#include <string>

namespace parlaro::rt {

// A named serial queue, standing in for a dispatch queue: jobs run one at a
// time in order, off the main actor in production.
class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    virtual ~SerialQueue() = default;

    virtual const std::string& label() const = 0;
    virtual void async(Job job) = 0;
    // Runs `job` on the queue after everything queued before it and waits.
    // Called from the queue itself, it runs inline.
    virtual void sync(const Job& job) = 0;
    // Like sync, but gives up waiting after `seconds`; false when it gave up
    // (the job stays queued and runs later).
    virtual bool syncWithin(double seconds, const Job& job) = 0;
    // True while called from a job of this queue.
    virtual bool isCurrent() const = 0;

    WorkItem asyncAfter(double seconds, Job job);
};

} // namespace parlaro::rt
