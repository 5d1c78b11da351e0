#include "platform/sim/SimAudioQueue.h"

#include "runtime/Runtime.h"

#include <algorithm>

namespace parlaro::sim {

SimAudioQueue::SimAudioQueue(std::weak_ptr<SimAudioCore> core, AudioObjectId id, Direction direction,
                             const AudioStreamDescription& format, AudioQueueOutputCallback output,
                             AudioQueueInputCallback input, void* userData)
    : core_(std::move(core)), id_(id), direction_(direction), format_(format), output_(output), input_(input),
      userData_(userData)
{
}

// A timer still pending holds the queue weakly and finds it gone.
SimAudioQueue::~SimAudioQueue() = default;

std::optional<AudioStatus> SimAudioQueue::failure(AudioSelector selector, AudioOperation operation) const
{
    auto core = core_.lock();
    if (!core)
        return std::nullopt;
    std::lock_guard lock(core->mutex);
    return core->takeFailure(id_, selector, operation);
}

AudioStatus SimAudioQueue::getProperty(AudioSelector selector, AudioPropertyValue& value)
{
    auto failed = failure(selector, AudioOperation::queueGetProperty);
    if (failed && *failed != AudioStatuses::ok)
        return *failed;
    std::string uid;
    bool running;
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        uid = deviceUID_;
        running = running_;
    }
    if (selector == AudioSelectors::queueIsRunning) {
        value = std::uint32_t{failed ? 0u : (running ? 1u : 0u)};
        return AudioStatuses::ok;
    }
    if (selector != AudioSelectors::queueCurrentDevice)
        return AudioStatuses::unknownProperty;
    if (failed) {
        value = AudioString{};
        return AudioStatuses::ok;
    }
    if (uid.empty()) {
        // Not chosen: the queue plays on (or records from) the default device.
        if (auto core = core_.lock()) {
            std::lock_guard lock(core->mutex);
            const auto device = core->number(audioSystemObject,
                                             {direction_ == Direction::output ? AudioSelectors::defaultOutputDevice
                                                                              : AudioSelectors::defaultInputDevice},
                                             0);
            if (const auto* stored = core->stored(device, {AudioSelectors::deviceUID}))
                if (const auto* text = std::get_if<AudioString>(stored); text && *text)
                    uid = **text;
        }
    }
    value = uid.empty() ? AudioString{} : AudioString(uid);
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::setProperty(AudioSelector selector, const AudioPropertyValue& value)
{
    if (auto failed = failure(selector, AudioOperation::queueSetProperty))
        return *failed;
    if (selector != AudioSelectors::queueCurrentDevice)
        return AudioStatuses::unknownProperty;
    const auto* uid = std::get_if<AudioString>(&value);
    if (!uid || !*uid)
        return AudioStatuses::badPropertySize;
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        if (core->deviceWithUID(**uid) == audioUnknownObject)
            return AudioStatuses::badDevice;
    }
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    deviceUID_ = **uid;
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::allocateBuffer(std::uint32_t byteCapacity, AudioQueueBuffer*& buffer)
{
    buffer = nullptr;
    if (auto failed = failure(anySelector, AudioOperation::queueAllocateBuffer))
        return *failed;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    buffer = &buffers_.allocate(byteCapacity);
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::enqueueBuffer(AudioQueueBuffer& buffer)
{
    if (auto failed = failure(anySelector, AudioOperation::queueEnqueueBuffer))
        return *failed;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    if (!buffers_.accepts(buffer))
        return AudioStatuses::illegalOperation;
    enqueued_.push_back(&buffer);
    playNextLocked();
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::start()
{
    if (auto failed = failure(anySelector, AudioOperation::queueStart))
        return *failed;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    if (!running_) {
        running_ = true;
        startHost_ = rt::clock().hostTime();
        framesDone_ = 0;
    }
    draining_ = false;
    playNextLocked();
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::stop(bool immediate)
{
    if (auto failed = failure(anySelector, AudioOperation::queueStop))
        return *failed;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    if (immediate || direction_ == Direction::input || (!playing_ && enqueued_.empty())) {
        draining_ = false;
        haltLocked();
    } else {
        draining_ = true;
    }
    return AudioStatuses::ok;
}

void SimAudioQueue::haltLocked()
{
    running_ = false;
    playing_ = false;
    enqueued_.clear();
    ++generation_;  // callbacks already scheduled for the old run do nothing
    if (timer_ != 0)
        rt::clock().cancel(timer_);
    timer_ = 0;
}

AudioStatus SimAudioQueue::dispose(bool)
{
    if (auto failed = failure(anySelector, AudioOperation::queueDispose))
        return *failed;
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        disposed_ = true;
        haltLocked();
        buffers_.clear();
        timelines_.clear();
    }
    if (auto core = core_.lock()) {
        std::vector<std::shared_ptr<SimAudioCore::Registration>> dropped;
        std::lock_guard lock(core->mutex);
        dropped = core->removeObjectLocked(id_);
    }
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::createTimeline(AudioQueueTimelineId& timeline)
{
    timeline = 0;
    if (auto failed = failure(anySelector, AudioOperation::queueCreateTimeline))
        return *failed;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    timeline = nextTimeline_++;
    timelines_.push_back(timeline);
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::currentTime(AudioQueueTimelineId timeline, AudioTimeStamp& time)
{
    time = AudioTimeStamp{};
    auto failed = failure(anySelector, AudioOperation::queueCurrentTime);
    if (failed && *failed != AudioStatuses::ok)
        return *failed;
    bool valid = !failed;
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        valid = valid && core->queueTimeValid;
    }
    std::lock_guard lock(mutex_);
    if (std::find(timelines_.begin(), timelines_.end(), timeline) == timelines_.end())
        return AudioStatuses::illegalOperation;
    if (!valid || !running_)
        return AudioStatuses::ok;
    const double now = rt::clock().hostTime();
    time.sampleTime = (now - startHost_) * format_.sampleRate;
    time.hostTime = hostTicks(now);
    time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    return AudioStatuses::ok;
}

AudioStatus SimAudioQueue::disposeTimeline(AudioQueueTimelineId timeline)
{
    std::lock_guard lock(mutex_);
    auto found = std::find(timelines_.begin(), timelines_.end(), timeline);
    if (found == timelines_.end())
        return AudioStatuses::illegalOperation;
    timelines_.erase(found);
    return AudioStatuses::ok;
}

std::string SimAudioQueue::deviceUID() const
{
    std::lock_guard lock(mutex_);
    return deviceUID_;
}

bool SimAudioQueue::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

bool SimAudioQueue::isDisposed() const
{
    std::lock_guard lock(mutex_);
    return disposed_;
}

std::size_t SimAudioQueue::allocatedBuffers() const
{
    std::lock_guard lock(mutex_);
    return buffers_.size();
}

std::size_t SimAudioQueue::enqueuedBuffers() const
{
    std::lock_guard lock(mutex_);
    return enqueued_.size();
}

std::size_t SimAudioQueue::completedBuffers() const
{
    std::lock_guard lock(mutex_);
    return completed_;
}

std::vector<float> SimAudioQueue::playedSamples() const
{
    std::lock_guard lock(mutex_);
    return played_;
}

std::size_t SimAudioQueue::openTimelines() const
{
    std::lock_guard lock(mutex_);
    return timelines_.size();
}

void SimAudioQueue::simulateStop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
    draining_ = false;
    playing_ = false;
    ++generation_;
    if (timer_ != 0)
        rt::clock().cancel(timer_);
    timer_ = 0;
}

double SimAudioQueue::frameSeconds(const AudioQueueBuffer& buffer) const
{
    const std::uint32_t frameBytes = format_.bytesPerFrame == 0 ? 4 : format_.bytesPerFrame;
    return format_.sampleRate > 0 ? (buffer.byteSize / frameBytes) / format_.sampleRate : 0;
}

void SimAudioQueue::playNextLocked()
{
    if (direction_ != Direction::output || !running_ || playing_ || disposed_)
        return;
    if (enqueued_.empty()) {
        if (draining_) {
            running_ = false;
            draining_ = false;
        }
        return;
    }
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        if (core->queuesStalled)
            return;
    }
    playing_ = true;
    const double duration = frameSeconds(*enqueued_.front());
    std::weak_ptr<SimAudioQueue> weak = weak_from_this();
    const std::uint64_t generation = generation_;
    timer_ = rt::clock().schedule(rt::TimeBase::uptime, rt::clock().reading(rt::TimeBase::uptime) + duration,
                                  [weak, generation] {
                                      // The queue's own thread.
                                      rt::background().run([weak, generation] {
                                          if (auto queue = weak.lock())
                                              queue->finishPlaying(generation);
                                      });
                                  });
}

void SimAudioQueue::finishPlaying(std::uint64_t generation)
{
    AudioQueueBuffer* buffer;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || !playing_ || enqueued_.empty())
            return;
        buffer = enqueued_.front();
        enqueued_.pop_front();
        playing_ = false;
        timer_ = 0;
        ++completed_;
        framesDone_ += frameSeconds(*buffer) * format_.sampleRate;
        played_.insert(played_.end(), buffer->data, buffer->data + buffer->byteSize / sizeof(float));
    }
    output_(userData_, *this, *buffer);
    std::lock_guard lock(mutex_);
    playNextLocked();
}

std::size_t SimAudioQueue::deliverInput()
{
    std::deque<AudioQueueBuffer*> filling;
    std::string uid;
    double firstFrame;
    {
        std::lock_guard lock(mutex_);
        if (direction_ != Direction::input || !running_ || disposed_)
            return 0;
        filling.swap(enqueued_);
        uid = deviceUID_;
        firstFrame = framesDone_;
    }
    SimSignal signal;
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        const AudioObjectId device = uid.empty()
            ? core->number(audioSystemObject, {AudioSelectors::defaultInputDevice}, 0)
            : core->deviceWithUID(uid);
        auto object = core->objects.find(device);
        if (object != core->objects.end())
            signal = object->second.signal;
    }
    const std::uint32_t channels = std::max<std::uint32_t>(format_.channelsPerFrame, 1);
    std::size_t delivered = 0;
    for (AudioQueueBuffer* buffer : filling) {
        {
            // The callback may have stopped or disposed of the queue.
            std::lock_guard lock(mutex_);
            if (disposed_ || !running_)
                break;
        }
        const std::uint32_t frames = buffer->capacity / (channels * 4);
        buffer->byteSize = frames * channels * 4;
        for (std::uint32_t frame = 0; frame < frames; ++frame)
            for (std::uint32_t c = 0; c < channels; ++c)
                buffer->data[frame * channels + c] = signal ? signal(c, firstFrame + frame) : 0.0f;
        AudioTimeStamp time;
        time.sampleTime = firstFrame;
        time.hostTime = hostTicks(rt::clock().hostTime());
        time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
        firstFrame += frames;
        {
            std::lock_guard lock(mutex_);
            framesDone_ = firstFrame;
            ++completed_;
        }
        input_(userData_, *this, *buffer, time);
        ++delivered;
    }
    return delivered;
}

}  // namespace parlaro::sim
