#include "platform/linux/pulse/PulseAudioQueue.h"

#include <algorithm>
#include <cstring>
#include <pthread.h>

namespace parlaro::sys {

namespace {

constexpr double streamSeconds = 0.05;

}  // namespace

std::shared_ptr<PulseAudioQueue> PulseAudioQueue::make(std::shared_ptr<PulseStreamHost> host, Direction direction,
                                                       const AudioStreamDescription& format,
                                                       AudioQueueOutputCallback output, AudioQueueInputCallback input,
                                                       void* userData)
{
    const auto shape = format.audioFormat();
    if (!shape || (!shape->interleaved && shape->channelCount > 1) || shape->channelCount > PA_CHANNELS_MAX
        || (direction == Direction::output ? !output : !input))
        return nullptr;
    auto queue = std::make_shared<PulseAudioQueue>(std::move(host), direction, format, output, input, userData);
    if (!pa_sample_spec_valid(&queue->spec_))
        return nullptr;
    queue->thread_ = std::thread(deliver, queue->delivery_, std::weak_ptr<PulseAudioQueue>(queue));
    return queue;
}

PulseAudioQueue::PulseAudioQueue(std::shared_ptr<PulseStreamHost> host, Direction direction,
                                 const AudioStreamDescription& format, AudioQueueOutputCallback output,
                                 AudioQueueInputCallback input, void* userData)
    : host_(std::move(host)), direction_(direction), format_(format), output_(output), input_(input),
      userData_(userData), delivery_(std::make_shared<Delivery>())
{
    const auto shape = format.audioFormat();
    if (shape) {
        spec_.format = shape->sampleType == SampleType::float32 ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE;
        spec_.rate = static_cast<std::uint32_t>(shape->sampleRate);
        spec_.channels = static_cast<std::uint8_t>(shape->channelCount);
    }
}

PulseAudioQueue::~PulseAudioQueue()
{
    {
        PulseLoopLock lock(host_->loop);
        closeLocked(true);
    }
    endDelivery();
}

void PulseAudioQueue::endDelivery()
{
    {
        std::lock_guard lock(delivery_->mutex);
        delivery_->ending = true;
    }
    delivery_->wake.notify_all();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

AudioStatus PulseAudioQueue::getProperty(AudioSelector selector, AudioPropertyValue& value)
{
    std::string uid;
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        if (selector == AudioSelectors::queueIsRunning) {
            value = std::uint32_t{running_ ? 1u : 0u};
            return AudioStatuses::ok;
        }
        if (selector != AudioSelectors::queueCurrentDevice)
            return AudioStatuses::unknownProperty;
        uid = deviceUID_;
    }
    // Not chosen: the queue plays on (or records from) the default device.
    if (uid.empty())
        uid = host_->defaultUID(direction_ == Direction::input);
    value = uid.empty() ? AudioString{} : AudioString(uid);
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::setProperty(AudioSelector selector, const AudioPropertyValue& value)
{
    if (selector != AudioSelectors::queueCurrentDevice)
        return AudioStatuses::unknownProperty;
    const auto* uid = std::get_if<AudioString>(&value);
    if (!uid || !*uid)
        return AudioStatuses::badPropertySize;
    if (!host_->resolve(**uid, direction_ == Direction::input))
        return AudioStatuses::badDevice;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    deviceUID_ = **uid;
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::allocateBuffer(std::uint32_t byteCapacity, AudioQueueBuffer*& buffer)
{
    buffer = nullptr;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    buffer = &buffers_.allocate(byteCapacity);
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::enqueueBuffer(AudioQueueBuffer& buffer)
{
    if (host_->loop.inThread())
        return AudioStatuses::illegalOperation;
    PulseLoopLock loop(host_->loop);
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        if (!buffers_.accepts(buffer))
            return AudioStatuses::illegalOperation;
        enqueued_.push_back(&buffer);
    }
    writeLocked();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::start()
{
    if (host_->loop.inThread())
        return AudioStatuses::illegalOperation;
    std::string uid;
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        uid = deviceUID_;
    }
    const bool input = direction_ == Direction::input;
    const auto side = host_->resolve(uid, input);
    PulseLoopLock loop(host_->loop);
    {
        std::lock_guard lock(mutex_);
        draining_ = false;
        if (running_ && stream_)
            return AudioStatuses::ok;
    }
    if (!host_->context)
        return AudioStatuses::serverUnavailable;
    if (!side)
        return AudioStatuses::badDevice;
    closeStreamLocked(true);
    stream_ = pa_stream_new(host_->context, input ? "queue input" : "queue output", &spec_, nullptr);
    if (!stream_)
        return AudioStatuses::unspecified;
    const auto frameBytes = static_cast<std::uint32_t>(pa_frame_size(&spec_));
    const std::uint32_t block = static_cast<std::uint32_t>(std::max(1.0, streamSeconds * spec_.rate)) * frameBytes;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = input ? static_cast<std::uint32_t>(-1) : 2 * block;
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = input ? block : static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE
                                                      | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
    pa_stream_set_state_callback(stream_, onState, this);
    int connected;
    if (input) {
        pa_stream_set_read_callback(stream_, onRead, this);
        connected = pa_stream_connect_record(stream_, side->name.c_str(), &attr, flags);
    } else {
        pa_stream_set_write_callback(stream_, onWrite, this);
        connected = pa_stream_connect_playback(stream_, side->name.c_str(), &attr, flags, nullptr, nullptr);
    }
    if (connected < 0) {
        closeLocked(true);
        return AudioStatuses::unspecified;
    }
    host_->loop.waitLocked(
        [&] {
            const auto state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        2.0);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        closeLocked(true);
        return AudioStatuses::unspecified;
    }
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        framesDone_ = 0;
        framesIn_ = 0;
        bufferStart_ = 0;
        clock_.reset();
    }
    writeLocked();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::stop(bool immediate)
{
    if (host_->loop.inThread())
        return AudioStatuses::illegalOperation;
    PulseLoopLock loop(host_->loop);
    bool drain = false;
    {
        std::lock_guard lock(mutex_);
        if (disposed_)
            return AudioStatuses::badObject;
        if (!running_)
            return AudioStatuses::ok;
        drain = !immediate && direction_ == Direction::output && stream_;
        if (drain)
            draining_ = true;
    }
    if (drain)
        writeLocked();
    else
        closeLocked(true);
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::dispose(bool)
{
    if (host_->loop.inThread())
        return AudioStatuses::illegalOperation;
    {
        PulseLoopLock loop(host_->loop);
        {
            std::lock_guard lock(mutex_);
            if (disposed_)
                return AudioStatuses::badObject;
        }
        closeLocked(true);
        std::lock_guard lock(mutex_);
        disposed_ = true;
        timelines_.clear();
    }
    {
        std::lock_guard lock(delivery_->mutex);
        delivery_->done.clear();
    }
    endDelivery();
    // Only now: a buffer being handed back is read by its callback until the
    // callback returns, and ending the delivery waited for that.
    std::lock_guard lock(mutex_);
    buffers_.clear();
    return AudioStatuses::ok;
}

void PulseAudioQueue::closeLocked(bool flush)
{
    closeStreamLocked(flush);
    std::lock_guard lock(mutex_);
    running_ = false;
    draining_ = false;
    enqueued_.clear();
    frontOffset_ = 0;
}

void PulseAudioQueue::closeStreamLocked(bool flush)
{
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        if (flush && direction_ == Direction::output && pa_stream_get_state(stream_) == PA_STREAM_READY)
            if (pa_operation* operation = pa_stream_flush(stream_, nullptr, nullptr))
                pa_operation_unref(operation);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
}

void PulseAudioQueue::onState(pa_stream* stream, void* self)
{
    auto* queue = static_cast<PulseAudioQueue*>(self);
    queue->host_->loop.signal();
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        // The device or the server went away under the queue.
        std::lock_guard lock(queue->mutex_);
        queue->running_ = false;
        queue->draining_ = false;
    }
}

void PulseAudioQueue::onWrite(pa_stream*, std::size_t, void* self)
{
    static_cast<PulseAudioQueue*>(self)->writeLocked();
}

void PulseAudioQueue::writeLocked()
{
    if (!stream_ || direction_ != Direction::output || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    std::size_t writable = pa_stream_writable_size(stream_);
    bool drainNow = false;
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return;
        const auto frameBytes = pa_frame_size(&spec_);
        while (writable > 0 && !enqueued_.empty()) {
            AudioQueueBuffer* front = enqueued_.front();
            const std::size_t left = front->byteSize - frontOffset_;
            const std::size_t n = std::min(left, writable - writable % frameBytes);
            if (n == 0)
                break;
            pa_stream_write(stream_, reinterpret_cast<const std::uint8_t*>(front->data) + frontOffset_, n, nullptr, 0,
                            PA_SEEK_RELATIVE);
            frontOffset_ += n;
            writable -= n;
            if (frontOffset_ >= front->byteSize) {
                enqueued_.pop_front();
                frontOffset_ = 0;
                framesDone_ += static_cast<double>(front->byteSize) / frameBytes;
                hand(front, AudioTimeStamp{});
            }
        }
        if (draining_ && enqueued_.empty()) {
            draining_ = false;
            drainNow = true;
        }
    }
    if (drainNow)
        if (pa_operation* operation = pa_stream_drain(stream_, onDrained, this))
            pa_operation_unref(operation);
}

void PulseAudioQueue::onDrained(pa_stream*, int, void* self)
{
    auto* queue = static_cast<PulseAudioQueue*>(self);
    std::lock_guard lock(queue->mutex_);
    if (queue->enqueued_.empty())
        queue->running_ = false;
}

void PulseAudioQueue::onRead(pa_stream* stream, std::size_t, void* self)
{
    auto* queue = static_cast<PulseAudioQueue*>(self);
    pa_usec_t latency = 0;
    int negative = 0;
    const double delay = pa_stream_get_latency(stream, &latency, &negative) == 0 && !negative ? latency / 1e6 : 0;
    const double now = pulseHostNow() * 1e-9;
    const double frameBytes = static_cast<double>(pa_frame_size(&queue->spec_));
    std::lock_guard lock(queue->mutex_);
    // The last frame waiting now was at the device `delay` ago.
    queue->clock_.observe(now - delay, queue->framesIn_ + pa_stream_readable_size(stream) / frameBytes,
                          queue->spec_.rate);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        std::size_t taken = 0;
        while (taken < bytes && !queue->enqueued_.empty() && queue->running_) {
            AudioQueueBuffer* front = queue->enqueued_.front();
            const std::size_t n = std::min<std::size_t>(front->capacity - queue->frontOffset_, bytes - taken);
            auto* target = reinterpret_cast<std::uint8_t*>(front->data) + queue->frontOffset_;
            if (data)
                std::memcpy(target, static_cast<const std::uint8_t*>(data) + taken, n);
            else
                std::memset(target, 0, n);
            if (queue->frontOffset_ == 0)
                queue->bufferStart_ = queue->framesIn_ + taken / frameBytes;
            queue->frontOffset_ += n;
            taken += n;
            if (queue->frontOffset_ >= front->capacity) {
                queue->enqueued_.pop_front();
                queue->frontOffset_ = 0;
                front->byteSize = front->capacity;
                AudioTimeStamp time;
                time.sampleTime = queue->bufferStart_;
                time.hostTime = hostTicks(queue->clock_.hostSeconds(time.sampleTime, queue->spec_.rate));
                time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
                queue->hand(front, time);
            }
        }
        queue->framesIn_ += bytes / frameBytes;
        pa_stream_drop(stream);
    }
}

void PulseAudioQueue::hand(AudioQueueBuffer* buffer, const AudioTimeStamp& time)
{
    {
        std::lock_guard lock(delivery_->mutex);
        delivery_->done.push_back({buffer, time});
    }
    delivery_->wake.notify_one();
}

void PulseAudioQueue::deliver(std::shared_ptr<Delivery> delivery, std::weak_ptr<PulseAudioQueue> weak)
{
    pthread_setname_np(pthread_self(), "pulse-queue");
    std::unique_lock lock(delivery->mutex);
    for (;;) {
        delivery->wake.wait(lock, [&] { return delivery->ending || !delivery->done.empty(); });
        if (delivery->ending)
            return;
        Done done = delivery->done.front();
        delivery->done.pop_front();
        lock.unlock();
        if (auto queue = weak.lock()) {
            if (queue->direction_ == Direction::output)
                queue->output_(queue->userData_, *queue, *done.buffer);
            else
                queue->input_(queue->userData_, *queue, *done.buffer, done.time);
        }
        lock.lock();
    }
}

AudioStatus PulseAudioQueue::createTimeline(AudioQueueTimelineId& timeline)
{
    timeline = 0;
    std::lock_guard lock(mutex_);
    if (disposed_)
        return AudioStatuses::badObject;
    timeline = nextTimeline_++;
    timelines_.push_back(timeline);
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::currentTime(AudioQueueTimelineId timeline, AudioTimeStamp& time)
{
    time = AudioTimeStamp{};
    if (host_->loop.inThread())
        return AudioStatuses::illegalOperation;
    PulseLoopLock loop(host_->loop);
    std::lock_guard lock(mutex_);
    if (std::find(timelines_.begin(), timelines_.end(), timeline) == timelines_.end())
        return AudioStatuses::illegalOperation;
    if (!running_ || !stream_)
        return AudioStatuses::ok;
    pa_usec_t played = 0;
    if (pa_stream_get_time(stream_, &played) < 0)
        return AudioStatuses::ok;
    time.sampleTime = played / 1e6 * spec_.rate;
    time.hostTime = pulseHostNow();
    time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    return AudioStatuses::ok;
}

AudioStatus PulseAudioQueue::disposeTimeline(AudioQueueTimelineId timeline)
{
    std::lock_guard lock(mutex_);
    auto found = std::find(timelines_.begin(), timelines_.end(), timeline);
    if (found == timelines_.end())
        return AudioStatuses::illegalOperation;
    timelines_.erase(found);
    return AudioStatuses::ok;
}

}  // namespace parlaro::sys
