#include "runtime/SerialQueue.h"

namespace parlaro::rt {

WorkItem SerialQueue::asyncAfter(double seconds, Job job)
{
    std::weak_ptr<SerialQueue> weak = weak_from_this();
    return scheduleAfter(
        seconds,
        [weak](Job j) {
            if (auto queue = weak.lock())
                queue->async(std::move(j));
        },
        std::move(job));
}

}  // namespace parlaro::rt
