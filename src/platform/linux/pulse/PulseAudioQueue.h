#pragma once

#include "platform/AudioQueue.h"
#include "platform/AudioQueueBufferPool.h"
#include "platform/linux/pulse/PulseHostClock.h"
#include "platform/linux/pulse/PulseStreamHost.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::sys {

// A buffer queue on one stream of the sound server: an output queue writes
// its buffers to a playback stream in order and calls back for each once the
// server has taken all of it; a non-immediate stop drains the stream and the
// queue stops running when the server has played everything. An input queue
// fills its enqueued buffers from a record stream. Callbacks run on the
// queue's own thread, never on the stream loop.
class PulseAudioQueue final : public AudioQueue, public std::enable_shared_from_this<PulseAudioQueue> {
public:
    enum class Direction { output, input };

    // nullptr when the format is not one the server can carry (float or
    // 16-bit PCM, interleaved unless mono).
    static std::shared_ptr<PulseAudioQueue> make(std::shared_ptr<PulseStreamHost> host, Direction direction,
                                                 const AudioStreamDescription& format, AudioQueueOutputCallback output,
                                                 AudioQueueInputCallback input, void* userData);
    ~PulseAudioQueue() override;

    AudioStatus getProperty(AudioSelector selector, AudioPropertyValue& value) override;
    AudioStatus setProperty(AudioSelector selector, const AudioPropertyValue& value) override;
    AudioStatus allocateBuffer(std::uint32_t byteCapacity, AudioQueueBuffer*& buffer) override;
    AudioStatus enqueueBuffer(AudioQueueBuffer& buffer) override;
    AudioStatus start() override;
    AudioStatus stop(bool immediate) override;
    AudioStatus dispose(bool immediate) override;
    AudioStatus createTimeline(AudioQueueTimelineId& timeline) override;
    AudioStatus currentTime(AudioQueueTimelineId timeline, AudioTimeStamp& time) override;
    AudioStatus disposeTimeline(AudioQueueTimelineId timeline) override;

    PulseAudioQueue(std::shared_ptr<PulseStreamHost> host, Direction direction, const AudioStreamDescription& format,
                    AudioQueueOutputCallback output, AudioQueueInputCallback input, void* userData);

private:
    struct Done {
        AudioQueueBuffer* buffer = nullptr;
        AudioTimeStamp time;
    };
    // What the delivery thread shares with the queue; the thread holds it,
    // and the queue only weakly, so a queue disposed from its own callback
    // ends cleanly.
    struct Delivery {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Done> done;
        bool ending = false;
    };

    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onDrained(pa_stream* stream, int success, void* self);
    static void onState(pa_stream* stream, void* self);
    static void deliver(std::shared_ptr<Delivery> delivery, std::weak_ptr<PulseAudioQueue> queue);
    // Under the loop lock.
    void writeLocked();
    // Closes the stream and forgets what was enqueued.
    void closeLocked(bool flush);
    void closeStreamLocked(bool flush);
    void hand(AudioQueueBuffer* buffer, const AudioTimeStamp& time);
    void endDelivery();

    const std::shared_ptr<PulseStreamHost> host_;
    const Direction direction_;
    const AudioStreamDescription format_;
    const AudioQueueOutputCallback output_;
    const AudioQueueInputCallback input_;
    void* const userData_;
    pa_sample_spec spec_{};

    // Lock order: the loop's lock, then mutex_.
    mutable std::mutex mutex_;
    AudioQueueBufferPool buffers_{this};
    std::deque<AudioQueueBuffer*> enqueued_;
    std::size_t frontOffset_ = 0;
    std::string deviceUID_;
    bool running_ = false;
    bool draining_ = false;
    bool disposed_ = false;
    double framesDone_ = 0;
    // Input: every frame the stream delivered, and where they lie in time.
    double framesIn_ = 0;
    double bufferStart_ = 0;  // the frame the front buffer starts at
    PulseHostClock clock_;
    std::vector<AudioQueueTimelineId> timelines_;
    AudioQueueTimelineId nextTimeline_ = 1;

    pa_stream* stream_ = nullptr;  // under the loop lock

    std::shared_ptr<Delivery> delivery_;
    std::thread thread_;
};

}  // namespace parlaro::sys
