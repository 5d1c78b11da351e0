#include "platform/linux/pulse/PulseInputEngine.h"

#include "runtime/Error.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <pthread.h>

namespace parlaro::sys {

namespace {

[[noreturn]] void fail(AudioStatus status)
{
    throw DomainError("AudioEngine", status, "audio engine error " + std::to_string(status));
}

constexpr double ringSeconds = 2.0;

}  // namespace

PulseInputEngine::PulseInputEngine(std::shared_ptr<PulseStreamHost> host) : host_(std::move(host))
{
}

PulseInputEngine::~PulseInputEngine()
{
    defaultWatch_.release();
    stop();
}

void PulseInputEngine::setInputDevice(AudioObjectId device)
{
    const std::string uid = host_->uidOf(device);
    if (uid.empty() || !host_->resolve(uid, true))
        fail(AudioStatuses::badDevice);
    std::lock_guard lock(mutex_);
    deviceUID_ = uid;
}

AudioFormat PulseInputEngine::inputFormat() const
{
    std::string uid;
    {
        std::lock_guard lock(mutex_);
        uid = deviceUID_;
    }
    const auto side = host_->resolve(uid, true);
    if (!side)
        return AudioFormat{0, 0, SampleType::float32, false};
    return AudioFormat{static_cast<double>(side->rate), side->channels, SampleType::float32, false};
}

void PulseInputEngine::installTap(std::uint32_t bufferFrames, const AudioFormat& format, AudioTapBlock block)
{
    std::lock_guard lock(mutex_);
    tap_ = std::move(block);
    tapFrames_ = bufferFrames;
    tapFormat_ = format;
}

void PulseInputEngine::removeTap()
{
    std::lock_guard lock(mutex_);
    tap_ = nullptr;
    tapFrames_ = 0;
    tapFormat_.reset();
}

void PulseInputEngine::prepare()
{
}

void PulseInputEngine::start()
{
    if (host_->loop.inThread())
        fail(AudioStatuses::illegalOperation);
    std::string uid;
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return;
        uid = deviceUID_;
    }
    const auto side = host_->resolve(uid, true);
    {
        PulseLoopLock loop(host_->loop);
        if (!host_->context)
            fail(AudioStatuses::serverUnavailable);
        if (!side)
            fail(AudioStatuses::badDevice);
        {
            std::lock_guard lock(mutex_);
            // The tap gets the input as it is; another rate or channel count
            // would need a converter in front of the tap.
            if (tapFormat_ && (tapFormat_->sampleRate != side->rate || tapFormat_->channelCount != side->channels))
                fail(AudioStatuses::unsupportedOperation);
            streamFormat_ = AudioFormat{static_cast<double>(side->rate), side->channels, SampleType::float32, true};
            ring_.assign(static_cast<std::size_t>(ringSeconds * side->rate) * side->channels, 0.0f);
            written_ = 0;
            read_ = 0;
            clock_.reset();
            lost_ = false;
            recordingName_ = side->name;
        }
        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, side->rate, static_cast<std::uint8_t>(side->channels)};
        stream_ = pa_stream_new(host_->context, "microphone", &sampleFormat, nullptr);
        if (!stream_)
            fail(AudioStatuses::unspecified);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(20000, &sampleFormat));
        pa_stream_set_state_callback(stream_, onState, this);
        pa_stream_set_read_callback(stream_, onRead, this);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE
                                                          | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, side->name.c_str(), &attr, flags) < 0) {
            closeLocked();
            fail(AudioStatuses::unspecified);
        }
        host_->loop.waitLocked(
            [&] {
                const auto state = pa_stream_get_state(stream_);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            2.0);
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            closeLocked();
            fail(AudioStatuses::unspecified);
        }
    }
    std::lock_guard lock(mutex_);
    running_ = true;
    ending_ = false;
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void PulseInputEngine::stop()
{
    {
        PulseLoopLock loop(host_->loop);
        closeLocked();
    }
    const bool fromOutside = thread_.joinable() && thread_.get_id() != std::this_thread::get_id();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        ending_ = true;
        handsOnRest_ = fromOutside;
    }
    wake_.notify_all();
    if (fromOutside)
        thread_.join();
    else if (thread_.joinable())
        thread_.detach();
}

bool PulseInputEngine::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void PulseInputEngine::closeLocked()
{
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

AudioListenerToken PulseInputEngine::observeConfigurationChanges(AudioCallbackQueue queue,
                                                                 std::function<void()> onChange)
{
    auto observer = std::make_shared<Observer>(Observer{std::move(queue), std::move(onChange)});
    {
        std::lock_guard lock(mutex_);
        observers_.push_back(observer);
    }
    std::weak_ptr<PulseInputEngine> weak = weak_from_this();
    return AudioListenerToken([weak, observer] {
        observer->alive = false;
        if (auto engine = weak.lock()) {
            std::lock_guard lock(engine->mutex_);
            std::erase(engine->observers_, observer);
        }
    });
}

void PulseInputEngine::defaultInputChanged()
{
    std::string following;
    {
        std::lock_guard lock(mutex_);
        if (!deviceUID_.empty() || !running_)
            return;
        following = recordingName_;
    }
    const auto now = host_->resolve("", true);
    if (now && now->name == following)
        return;
    // The default moved: the engine's input is gone, as after an unplug.
    {
        PulseLoopLock loop(host_->loop);
        closeLocked();
    }
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    changed();
}

void PulseInputEngine::changed()
{
    std::vector<std::shared_ptr<Observer>> observers;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
    }
    for (const auto& observer : observers)
        observer->queue.dispatch([observer] {
            if (observer->alive && observer->onChange)
                observer->onChange();
        });
}

void PulseInputEngine::onState(pa_stream* stream, void* self)
{
    auto* engine = static_cast<PulseInputEngine*>(self);
    engine->host_->loop.signal();
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        return;
    {
        std::lock_guard lock(engine->mutex_);
        engine->running_ = false;
        engine->lost_ = true;
    }
    engine->wake_.notify_all();
}

void PulseInputEngine::onRead(pa_stream* stream, std::size_t, void* self)
{
    auto* engine = static_cast<PulseInputEngine*>(self);
    pa_usec_t latency = 0;
    int negative = 0;
    const double delay = pa_stream_get_latency(stream, &latency, &negative) == 0 && !negative ? latency / 1e6 : 0;
    const double now = pulseHostNow() * 1e-9;
    {
        std::lock_guard lock(engine->mutex_);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                break;
            const std::size_t floats = bytes / sizeof(float);
            const std::size_t size = engine->ring_.size();
            for (std::size_t i = 0; i < floats; ++i)
                engine->ring_[(engine->written_ + i) % size] = data ? static_cast<const float*>(data)[i] : 0.0f;
            engine->written_ += floats;
            if (engine->written_ - engine->read_ > size)
                engine->read_ = engine->written_ - size;
            pa_stream_drop(stream);
        }
        // The last frame read was at the device `delay` ago.
        const double frames = static_cast<double>(engine->written_) / engine->streamFormat_.channelCount;
        engine->clock_.observe(now - delay, frames, engine->streamFormat_.sampleRate);
    }
    engine->wake_.notify_one();
}

void PulseInputEngine::run()
{
    pthread_setname_np(pthread_self(), "pulse-input");
    std::unique_lock lock(mutex_);
    while (!ending_) {
        if (lost_) {
            lost_ = false;
            lock.unlock();
            changed();
            lock.lock();
            continue;
        }
        const std::size_t wanted = static_cast<std::size_t>(tapFrames_) * streamFormat_.channelCount;
        if (!tap_ || !tapFormat_ || wanted == 0 || written_ - read_ < wanted) {
            wake_.wait_for(lock, std::chrono::milliseconds(10));
            continue;
        }
        handOn(lock, tapFrames_);
    }
    // What came since the last whole buffer was said before the stop (the
    // end of the last word of a press let go at once): it goes on as a
    // shorter buffer rather than being dropped. Not after a stop from the
    // tap itself, whose owner may be going.
    const std::uint32_t channels = streamFormat_.channelCount;
    while (handsOnRest_ && tap_ && tapFormat_ && channels > 0 && tapFrames_ > 0 && written_ - read_ >= channels)
        handOn(lock, static_cast<std::uint32_t>(std::min<std::size_t>((written_ - read_) / channels, tapFrames_)));
}

void PulseInputEngine::handOn(std::unique_lock<std::mutex>& lock, std::uint32_t frames)
{
    const std::uint32_t channels = streamFormat_.channelCount;
    const AudioFormat format = *tapFormat_;
    auto buffer = std::make_shared<PcmBuffer>(format, frames);
    buffer->setFrameLength(frames);
    const std::size_t size = ring_.size();
    for (std::uint32_t frame = 0; frame < frames; ++frame)
        for (std::uint32_t c = 0; c < channels; ++c) {
            const float sample = ring_[(read_ + frame * channels + c) % size];
            const std::uint32_t array = format.interleaved ? 0 : c;
            const std::size_t at = format.interleaved ? frame * channels + c : frame;
            if (format.sampleType == SampleType::float32)
                buffer->floatChannelData(array)[at] = sample;
            else
                buffer->int16ChannelData(array)[at] =
                    static_cast<std::int16_t>(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
        }
    AudioTimeStamp time;
    time.sampleTime = static_cast<double>(read_ / channels);
    time.hostTime = hostTicks(clock_.hostSeconds(time.sampleTime, streamFormat_.sampleRate));
    time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    read_ += static_cast<std::size_t>(frames) * channels;
    AudioTapBlock block = tap_;
    lock.unlock();
    block(std::move(buffer), time);
    lock.lock();
}

}  // namespace parlaro::sys
