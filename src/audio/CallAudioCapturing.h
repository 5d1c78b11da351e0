#pragma once

#include "platform/PcmBuffer.h"
#include "runtime/SerialQueue.h"

#include <functional>
#include <memory>
#include <string>

namespace parlaro {

// What the far-end listener needs of a capture of the computer's output: a
// serial queue on which it is started and stopped, and which delivers its
// buffers; a way to stop it at quit without waiting long.
class CallAudioCapturing {
public:
    // Each captured buffer, on the capture's queue.
    using BufferHandler = std::function<void(std::shared_ptr<const PcmBuffer> buffer)>;
    // Why the capture gave up, on the capture's queue.
    using StopHandler = std::function<void(const std::string& reason)>;

    virtual ~CallAudioCapturing() = default;

    virtual const std::shared_ptr<rt::SerialQueue>& queue() const = 0;
    // On the queue. Throws when the capture cannot start; the handlers stay
    // stored either way.
    virtual void start(BufferHandler onBuffer, StopHandler onStop) = 0;
    // On the queue; stopping a stopped capture does nothing harmful.
    virtual void stop() = 0;
    // From any thread but the queue's: posts a stop and waits for it a
    // bounded time; true when it ran in that time (callers may ignore it).
    virtual bool stopAndWait() = 0;
};

// Runs `job` on `queue` and waits for it, passing its exception on to the
// caller (a queue's own thread must never see it).
void syncOnQueue(rt::SerialQueue& queue, const std::function<void()>& job);

}  // namespace parlaro
