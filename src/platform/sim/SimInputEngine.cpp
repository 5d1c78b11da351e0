#include "platform/sim/SimInputEngine.h"

#include "runtime/Error.h"
#include "runtime/Runtime.h"

namespace parlaro::sim {

SimInputEngine::SimInputEngine(std::weak_ptr<SimAudioCore> core, AudioObjectId id) : core_(std::move(core)), id_(id)
{
}

void SimInputEngine::throwStatus(AudioStatus status)
{
    throw DomainError("AudioEngine", status, "audio engine error " + std::to_string(status));
}

void SimInputEngine::setInputDevice(AudioObjectId device)
{
    auto core = core_.lock();
    if (!core)
        throwStatus(AudioStatuses::badObject);
    {
        std::lock_guard lock(core->mutex);
        if (auto status = core->takeFailure(device, anySelector, AudioOperation::engineSetInputDevice))
            throwStatus(*status);
        auto found = core->objects.find(device);
        if (found == core->objects.end() || found->second.kind != SimAudioCore::ObjectKind::device)
            throwStatus(AudioStatuses::badDevice);
    }
    std::lock_guard lock(mutex_);
    device_ = device;
}

AudioFormat SimInputEngine::inputFormat() const
{
    AudioFormat none{0, 0, SampleType::float32, false};
    auto core = core_.lock();
    if (!core)
        return none;
    std::optional<AudioObjectId> chosen;
    {
        std::lock_guard lock(mutex_);
        chosen = device_;
    }
    std::lock_guard lock(core->mutex);
    if (core->takeFailure(id_, anySelector, AudioOperation::engineInputFormat))
        return none;
    const AudioObjectId device =
        chosen ? *chosen : core->number(audioSystemObject, {AudioSelectors::defaultInputDevice}, 0);
    const auto* rate = core->stored(device, {AudioSelectors::nominalSampleRate});
    if (!rate || !std::holds_alternative<double>(*rate))
        return none;
    std::uint32_t channels = 0;
    for (std::uint32_t count : core->layout(device, AudioScope::input))
        channels += count;
    return AudioFormat{std::get<double>(*rate), channels, SampleType::float32, false};
}

void SimInputEngine::installTap(std::uint32_t bufferFrames, const AudioFormat& format, AudioTapBlock block)
{
    std::lock_guard lock(mutex_);
    tap_ = std::move(block);
    tapFrames_ = bufferFrames;
    tapFormat_ = format;
}

void SimInputEngine::removeTap()
{
    std::lock_guard lock(mutex_);
    tap_ = nullptr;
    tapFrames_ = 0;
    tapFormat_.reset();
}

void SimInputEngine::prepare()
{
}

void SimInputEngine::start()
{
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        if (auto status = core->takeFailure(id_, anySelector, AudioOperation::engineStart))
            throwStatus(*status);
    }
    std::lock_guard lock(mutex_);
    running_ = true;
}

void SimInputEngine::stop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
    tappedAtStop_ = static_cast<bool>(tap_);
}

bool SimInputEngine::tappedAtStop() const
{
    std::lock_guard lock(mutex_);
    return tappedAtStop_;
}

bool SimInputEngine::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

AudioListenerToken SimInputEngine::observeConfigurationChanges(AudioCallbackQueue queue, std::function<void()> onChange)
{
    auto core = core_.lock();
    if (!core)
        return AudioListenerToken(AudioStatuses::badObject);
    return SimAudioCore::addListener(core, id_, configurationAddress, std::move(queue),
                                     [onChange = std::move(onChange)](std::span<const AudioPropertyAddress>) {
                                         if (onChange)
                                             onChange();
                                     });
}

std::optional<AudioObjectId> SimInputEngine::inputDevice() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

bool SimInputEngine::hasTap() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tap_);
}

std::uint32_t SimInputEngine::tapBufferFrames() const
{
    std::lock_guard lock(mutex_);
    return tapFrames_;
}

std::optional<AudioFormat> SimInputEngine::tapFormat() const
{
    std::lock_guard lock(mutex_);
    return tapFormat_;
}

std::size_t SimInputEngine::observerCount() const
{
    auto core = core_.lock();
    if (!core)
        return 0;
    std::lock_guard lock(core->mutex);
    std::size_t count = 0;
    for (const auto& [id, registration] : core->registrations)
        if (registration->object == id_)
            ++count;
    return count;
}

bool SimInputEngine::deliver(std::uint32_t frames, bool hostTimeValid)
{
    AudioTapBlock block;
    AudioFormat format;
    double firstFrame;
    std::optional<AudioObjectId> chosen;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !tap_ || !tapFormat_ || !tapFormat_->isValid())
            return false;
        block = tap_;
        format = *tapFormat_;
        if (frames == 0)
            frames = tapFrames_;
        firstFrame = framesDelivered_;
        framesDelivered_ += frames;
        chosen = device_;
    }
    SimSignal signal;
    if (auto core = core_.lock()) {
        std::lock_guard lock(core->mutex);
        const AudioObjectId device =
            chosen ? *chosen : core->number(audioSystemObject, {AudioSelectors::defaultInputDevice}, 0);
        auto object = core->objects.find(device);
        if (object != core->objects.end())
            signal = object->second.signal;
    }
    auto buffer = std::make_shared<PcmBuffer>(format, frames);
    buffer->setFrameLength(frames);
    if (signal)
        for (std::uint32_t frame = 0; frame < frames; ++frame)
            for (std::uint32_t c = 0; c < format.channelCount; ++c)
                buffer->setFloatSample(frame, c, signal(c, firstFrame + frame));
    AudioTimeStamp time;
    time.sampleTime = firstFrame;
    time.flags = AudioTimeStamp::sampleTimeValid;
    if (hostTimeValid) {
        time.hostTime = hostTicks(rt::clock().hostTime());
        time.flags |= AudioTimeStamp::hostTimeValid;
    }
    block(std::move(buffer), time);
    return true;
}

void SimInputEngine::changeConfiguration(bool stopsEngine)
{
    if (stopsEngine) {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    if (auto core = core_.lock())
        SimAudioCore::notify(core, id_, configurationAddress);
}

}  // namespace parlaro::sim
