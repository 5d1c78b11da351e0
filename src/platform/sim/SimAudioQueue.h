#pragma once

#include "platform/AudioQueue.h"
#include "platform/AudioQueueBufferPool.h"
#include "platform/sim/SimAudioCore.h"
#include "runtime/Clock.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace parlaro::sim {

// A buffer queue of the sim. An output queue plays its buffers one after
// another on the virtual clock (each takes its length of audio time) and
// calls its callback for each; an input queue is fed by
// SimAudioSystem::runInputQueues(). Its id is its object id for failure
// rules ('aqcd' and 'aqrn' are the selectors of property calls).
class SimAudioQueue final : public AudioQueue, public std::enable_shared_from_this<SimAudioQueue> {
public:
    enum class Direction { output, input };

    SimAudioQueue(std::weak_ptr<SimAudioCore> core, AudioObjectId id, Direction direction,
                  const AudioStreamDescription& format, AudioQueueOutputCallback output, AudioQueueInputCallback input,
                  void* userData);
    ~SimAudioQueue() override;

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

    // What a test looks at.
    AudioObjectId id() const { return id_; }
    Direction direction() const { return direction_; }
    const AudioStreamDescription& format() const { return format_; }
    // The UID 'aqcd' was set to; empty when never set.
    std::string deviceUID() const;
    bool isRunning() const;
    bool isDisposed() const;
    std::size_t allocatedBuffers() const;
    std::size_t enqueuedBuffers() const;
    // Output: buffers played to the end; input: buffers delivered.
    std::size_t completedBuffers() const;
    // The samples played so far, interleaved as the format says.
    std::vector<float> playedSamples() const;
    std::size_t openTimelines() const;
    // The device stops the queue under it: it no longer runs.
    void simulateStop();
    // Input: fills the buffers enqueued now and calls back with each.
    std::size_t deliverInput();

private:
    // Stops playing or recording at once and forgets what was enqueued.
    void haltLocked();
    std::optional<AudioStatus> failure(AudioSelector selector, AudioOperation operation) const;
    void playNextLocked();
    void finishPlaying(std::uint64_t generation);
    double frameSeconds(const AudioQueueBuffer& buffer) const;

    std::weak_ptr<SimAudioCore> core_;
    const AudioObjectId id_;
    const Direction direction_;
    const AudioStreamDescription format_;
    const AudioQueueOutputCallback output_;
    const AudioQueueInputCallback input_;
    void* const userData_;

    mutable std::mutex mutex_;
    AudioQueueBufferPool buffers_{this};
    std::deque<AudioQueueBuffer*> enqueued_;
    std::string deviceUID_;
    bool running_ = false;
    bool draining_ = false;  // stop after what is enqueued
    bool playing_ = false;   // a buffer is sounding
    bool disposed_ = false;
    std::uint64_t generation_ = 0;
    rt::TimerId timer_ = 0;
    double startHost_ = 0;
    double framesDone_ = 0;
    std::size_t completed_ = 0;
    std::vector<float> played_;
    std::vector<AudioQueueTimelineId> timelines_;
    AudioQueueTimelineId nextTimeline_ = 1;
};

}  // namespace parlaro::sim
