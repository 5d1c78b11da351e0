#include "audio/DeviceForwarder.h"

#include "platform/AudioSystem.h"
#include "platform/AudioTimeStamp.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace parlaro {

namespace {

constexpr std::int64_t scratchFrames = 8192;  // 64 KiB of stereo float
constexpr std::int64_t pullOffset = DeviceForwarder::maxOutputFrames;

// `message` is already localized; the platform status follows it.
ModuleError forwardingError(std::string message, std::optional<AudioStatus> status = std::nullopt)
{
    if (status)
        message = bracketed(message, std::to_string(*status));
    return ModuleError(ModuleID::virtualMic, 11, std::move(message));
}

// A call that "succeeded" without giving a result has no status worth showing.
std::optional<AudioStatus> failedStatus(AudioStatus status)
{
    return status != AudioStatuses::ok ? std::optional<AudioStatus>(status) : std::nullopt;
}

// The audio server never hands out such stamps; a cycle that carries one is skipped
// rather than turned into an undefined integer.
std::optional<std::int64_t> wholeSampleTime(double sampleTime)
{
    constexpr double limit = 4.0e18;
    if (!std::isfinite(sampleTime) || std::abs(sampleTime) >= limit) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(sampleTime);
}

std::int64_t framesIn(const AudioIOBuffer& buffer)
{
    return buffer.byteSize / (std::max<std::uint32_t>(buffer.channels, 1) * 4);
}

// Spreads the rendered stereo frames over the device's buffers: separate
// buffers take left, right and silence; one mono buffer takes the average;
// one multi-channel buffer takes left and right in its first two channels.
void copyToOutput(const float* stereo, std::int64_t frames, std::span<AudioIOBuffer> output)
{
    for (std::size_t b = 0; b < output.size(); ++b) {
        AudioIOBuffer& buffer = output[b];
        if (buffer.data == nullptr) {
            continue;
        }
        const std::uint32_t channels = std::max<std::uint32_t>(buffer.channels, 1);
        const std::int64_t count = std::min(framesIn(buffer), frames);
        for (std::int64_t i = 0; i < count; ++i) {
            const float left = stereo[2 * i];
            const float right = stereo[2 * i + 1];
            float* out = buffer.data + i * channels;
            for (std::uint32_t c = 0; c < channels; ++c) {
                float value = 0.0f;
                if (output.size() > 1) {
                    value = b == 0 ? left : b == 1 ? right : 0.0f;
                } else if (channels == 1) {
                    value = (left + right) * 0.5f;
                } else {
                    value = c == 0 ? left : c == 1 ? right : 0.0f;
                }
                out[c] = value;
            }
        }
    }
}

}  // namespace

DeviceForwarder::DeviceForwarder(AudioObjectId input, AudioObjectId output, bool forceResample)
    : system_(audioSystem()), input_(input), output_(output), ring_(std::make_unique<SampleTimeRing>())
{
    head_ = ReadHead{0, std::nullopt, 0};

    // The input follows the output's buffer size, so both cycles are alike.
    std::uint32_t outputBuffer = 0;
    if (system_.get(output_, {AudioSelectors::bufferFrameSize}, outputBuffer) == AudioStatuses::ok) {
        system_.setPropertyData(input_, {AudioSelectors::bufferFrameSize}, AudioPropertyValue(outputBuffer));
    }

    inputTiming_ = deviceTiming(input_, AudioScope::input);
    outputTiming_ = deviceTiming(output_, AudioScope::output);
    mode_ = inputTiming_.rate != outputTiming_.rate || forceResample ? Mode::resample : Mode::direct;
    baseRatio_ = outputTiming_.rate / inputTiming_.rate;
    const std::uint32_t distance =
        inputTiming_.safetyOffset + outputTiming_.safetyOffset + inputTiming_.bufferFrames + outputTiming_.bufferFrames;
    distance_ = distance;
    head_.distance = distance_;
    hostTicksPerInputFrame_ = (1.0 / hostTickSeconds) / inputTiming_.rate;
    scratch_.reset(new float[2 * scratchFrames]());

    try {
        if (mode_ == Mode::resample) {
            auto created = RingResampler::create(*ring_, distance_, scratch_.get() + 2 * pullOffset);
            if (!created.resampler) {
                throw forwardingError(localized("无法启动变速"), created.error);
            }
            resampler_ = std::move(created.resampler);
            ratio_.store(baseRatio_, std::memory_order_release);
        }
        startDevices();
    } catch (...) {
        tearDown();
        releaseResources();
        throw;
    }
}

DeviceForwarder::~DeviceForwarder()
{
    tearDown();
    releaseResources();
}

DeviceForwarder::DeviceTiming DeviceForwarder::deviceTiming(AudioObjectId device, AudioScope scope) const
{
    DeviceTiming timing;
    const AudioStatus status = system_.get(device, {AudioSelectors::nominalSampleRate}, timing.rate);
    if (status != AudioStatuses::ok) {
        throw forwardingError(localized("无法读取设备"), failedStatus(status));
    }
    if (!(timing.rate > 0)) {
        throw forwardingError(localized("无法读取设备"));
    }
    if (system_.get(device, {AudioSelectors::bufferFrameSize}, timing.bufferFrames) != AudioStatuses::ok) {
        timing.bufferFrames = 0;
    }
    if (system_.get(device, {AudioSelectors::safetyOffset, scope}, timing.safetyOffset) != AudioStatuses::ok) {
        timing.safetyOffset = 0;
    }
    return timing;
}

void DeviceForwarder::startDevices()
{
    AudioIOProcId id = 0;
    AudioStatus status = system_.createIOProc(input_, &DeviceForwarder::inputProc, this, id);
    if (status != AudioStatuses::ok || id == 0) {
        throw forwardingError(localized("无法读取设备"), failedStatus(status));
    }
    inputProc_ = id;
    id = 0;
    status = system_.createIOProc(output_, &DeviceForwarder::outputProc, this, id);
    if (status != AudioStatuses::ok || id == 0) {
        throw forwardingError(localized("无法打开播放设备"), failedStatus(status));
    }
    outputProc_ = id;

    restrictStreams(input_, AudioScope::output, *inputProc_);
    restrictStreams(output_, AudioScope::input, *outputProc_);

    status = system_.startDevice(output_, *outputProc_);
    if (status != AudioStatuses::ok) {
        throw forwardingError(localized("无法打开播放设备"), failedStatus(status));
    }
    status = system_.startDevice(input_, *inputProc_);
    if (status != AudioStatuses::ok) {
        throw forwardingError(localized("无法读取设备"), failedStatus(status));
    }
}

// Each procedure only needs one direction of its device; turning the other
// direction's streams off spares the device that work. Best effort.
void DeviceForwarder::restrictStreams(AudioObjectId device, AudioScope scope, AudioIOProcId proc)
{
    const AudioPropertyAddress address{AudioSelectors::ioProcStreamUsage, scope};
    const AudioPropertyValue qualifier(std::uint32_t{proc});
    std::uint32_t size = 0;
    if (system_.getPropertyDataSize(device, address, size, &qualifier) != AudioStatuses::ok || size < 16) {
        return;
    }
    AudioStreamUsage usage;
    if (system_.get(device, address, usage, &qualifier) != AudioStatuses::ok) {
        return;
    }
    usage.procedure = proc;
    std::fill(usage.streamIsOn.begin(), usage.streamIsOn.end(), 0U);
    system_.setPropertyData(device, address, AudioPropertyValue(usage));
}

void DeviceForwarder::tearDown()
{
    if (inputProc_) {
        system_.stopDevice(input_, *inputProc_);
        system_.destroyIOProc(input_, *inputProc_);
        inputProc_.reset();
    }
    if (outputProc_) {
        system_.stopDevice(output_, *outputProc_);
        system_.destroyIOProc(output_, *outputProc_);
        outputProc_.reset();
    }
}

void DeviceForwarder::releaseResources()
{
    resampler_.reset();
    scratch_.reset();
    ring_.reset();
}

std::optional<std::int64_t> DeviceForwarder::cursor() const
{
    return resampler_ ? resampler_->cursor() : std::nullopt;
}

AudioStatus DeviceForwarder::inputProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer> input,
                                       const AudioTimeStamp& inputTime, std::span<AudioIOBuffer>, const AudioTimeStamp&,
                                       void* context)
{
    static_cast<DeviceForwarder*>(context)->captured(input, inputTime);
    return AudioStatuses::ok;
}

AudioStatus DeviceForwarder::outputProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>,
                                        const AudioTimeStamp&, std::span<AudioIOBuffer> output,
                                        const AudioTimeStamp& outputTime, void* context)
{
    static_cast<DeviceForwarder*>(context)->render(output, outputTime);
    return AudioStatuses::ok;
}

void DeviceForwarder::captured(std::span<const AudioIOBuffer> input, const AudioTimeStamp& inputTime)
{
    if (input.empty() || input[0].byteSize == 0) {
        return;
    }
    const auto at = wholeSampleTime(inputTime.sampleTime);
    if (!at) {
        return;
    }
    ring_->write(input, framesIn(input[0]), *at);
    if (inputTime.hasSampleTime() && inputTime.hasHostTime()) {
        anchor_.publish(inputTime.sampleTime, inputTime.hostTime);
    }
}

void DeviceForwarder::render(std::span<AudioIOBuffer> output, const AudioTimeStamp& outputTime)
{
    if (output.empty() || output[0].byteSize == 0) {
        return;
    }
    const std::int64_t frames = std::min(framesIn(output[0]), maxOutputFrames);
    if (mode_ == Mode::resample && resampler_) {
        renderResampled(frames, outputTime);
    } else {
        renderDirect(frames, outputTime);
    }
    copyToOutput(scratch_.get(), frames, output);
}

void DeviceForwarder::renderDirect(std::int64_t frames, const AudioTimeStamp& outputTime)
{
    const std::int64_t end = ring_->end();
    const auto outputSample = wholeSampleTime(outputTime.sampleTime);
    if (end == SampleTimeRing::emptyMarker || !outputSample) {
        std::fill(scratch_.get(), scratch_.get() + 2 * frames, 0.0f);
        return;
    }
    const std::int64_t read = head_.start(end, *outputSample, frames, SampleTimeRing::capacity);
    ring_->read(scratch_.get(), frames, read);
    measure(read, outputTime);
}

void DeviceForwarder::renderResampled(std::int64_t frames, const AudioTimeStamp& outputTime)
{
    const std::int64_t end = ring_->end();
    if (end == SampleTimeRing::emptyMarker) {
        std::fill(scratch_.get(), scratch_.get() + 2 * frames, 0.0f);
        return;
    }
    resampler_->place(end);
    measure(*resampler_->cursor(), outputTime);
    resampler_->render(scratch_.get(), frames, ratio_.load(std::memory_order_acquire));
}

// How far the read position sits from where the target latency puts it, in
// input frames; positive when the reader lags further behind than intended.
void DeviceForwarder::measure(std::int64_t readPosition, const AudioTimeStamp& outputTime)
{
    if (!outputTime.hasHostTime()) {
        return;
    }
    const auto now = anchor_.inputSampleTime(outputTime.hostTime, hostTicksPerInputFrame_);
    if (!now) {
        return;
    }
    errorFrames_.store(*now - static_cast<double>(readPosition) - static_cast<double>(distance_),
                       std::memory_order_release);
    errorValid_.store(true, std::memory_order_release);
}

}  // namespace parlaro
