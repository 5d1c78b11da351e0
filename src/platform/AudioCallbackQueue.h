#pragma once

#include "runtime/Executor.h"
#include "runtime/SerialQueue.h"

#include <memory>
#include <string>

namespace parlaro {

// Where an audio notification runs: the main actor, a serial queue, or the
// audio server's own notification thread (no queue at all).
class AudioCallbackQueue {
public:
    enum class Kind { notificationThread, main, serial };

    // No queue: the callback runs on the notification thread.
    AudioCallbackQueue() = default;
    static AudioCallbackQueue main() { return AudioCallbackQueue(Kind::main, nullptr); }
    static AudioCallbackQueue notificationThread() { return AudioCallbackQueue(); }
    static AudioCallbackQueue serial(std::shared_ptr<rt::SerialQueue> queue)
    {
        return AudioCallbackQueue(Kind::serial, std::move(queue));
    }

    Kind kind() const { return kind_; }
    const std::shared_ptr<rt::SerialQueue>& queue() const { return queue_; }
    // "main", the serial queue's label, or "" for the notification thread.
    std::string label() const;

    // Runs the job where this queue says; on the notification thread that is
    // the calling thread, at once.
    void dispatch(rt::Job job) const;

    bool operator==(const AudioCallbackQueue& other) const { return kind_ == other.kind_ && queue_ == other.queue_; }

private:
    AudioCallbackQueue(Kind kind, std::shared_ptr<rt::SerialQueue> queue) : kind_(kind), queue_(std::move(queue)) {}

    Kind kind_ = Kind::notificationThread;
    std::shared_ptr<rt::SerialQueue> queue_;
};

}  // namespace parlaro
