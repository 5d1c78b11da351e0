#pragma once

#include "platform/AudioProperty.h"
#include "platform/AudioTimeStamp.h"

#include <cstdint>
#include <memory>

namespace parlaro {

class AudioQueue;

// A buffer owned by its queue, from allocation until the queue is disposed.
struct AudioQueueBuffer {
    std::uint32_t capacity = 0;  // bytes
    std::uint32_t byteSize = 0;  // bytes that hold audio
    float* data = nullptr;
    void* owner = nullptr;  // the queue implementation's bookkeeping
};

// Called on the queue's own thread when an output buffer has been played.
using AudioQueueOutputCallback = void (*)(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer);
// Called on the queue's own thread when an input buffer has been filled; the
// buffer goes back to the queue only when it is enqueued again.
using AudioQueueInputCallback = void (*)(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer,
                                         const AudioTimeStamp& startTime);

using AudioQueueTimelineId = std::uint32_t;

// A buffer queue that plays to or records from one device. Properties
// ('aqcd' the current device's UID as a string, 'aqrn' whether it runs as a
// number) use the typed values of the device properties. Every call answers
// with a status; after dispose() only dispose() may be called again.
class AudioQueue {
public:
    virtual ~AudioQueue() = default;

    virtual AudioStatus getProperty(AudioSelector selector, AudioPropertyValue& value) = 0;
    virtual AudioStatus setProperty(AudioSelector selector, const AudioPropertyValue& value) = 0;

    // A zero status with a null buffer is possible and means no buffer.
    virtual AudioStatus allocateBuffer(std::uint32_t byteCapacity, AudioQueueBuffer*& buffer) = 0;
    virtual AudioStatus enqueueBuffer(AudioQueueBuffer& buffer) = 0;
    // Starts at once.
    virtual AudioStatus start() = 0;
    // Immediate: stops now. Otherwise the queue plays (or records) what is
    // enqueued and then stops by itself.
    virtual AudioStatus stop(bool immediate) = 0;
    virtual AudioStatus dispose(bool immediate) = 0;

    virtual AudioStatus createTimeline(AudioQueueTimelineId& timeline) = 0;
    virtual AudioStatus currentTime(AudioQueueTimelineId timeline, AudioTimeStamp& time) = 0;
    virtual AudioStatus disposeTimeline(AudioQueueTimelineId timeline) = 0;

    template <AudioPropertyType T>
    AudioStatus get(AudioSelector selector, T& out)
    {
        AudioPropertyValue value;
        const AudioStatus status = getProperty(selector, value);
        if (status != AudioStatuses::ok)
            return status;
        if (const T* typed = std::get_if<T>(&value)) {
            out = *typed;
            return AudioStatuses::ok;
        }
        return AudioStatuses::badPropertySize;
    }
};

}  // namespace parlaro
