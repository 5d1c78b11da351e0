#include "audio/InputLevelTap.h"

#include "platform/AudioSystem.h"
#include "runtime/Error.h"
#include "speech/Localization.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace parlaro {

namespace {

AudioStreamDescription inputFormat(std::uint32_t channels)
{
    AudioFormat format;
    format.sampleRate = InputLevelTap::sampleRate;
    format.channelCount = channels;
    format.sampleType = SampleType::float32;
    format.interleaved = true;
    return AudioStreamDescription::pcm(format);
}

DomainError tapError(std::string message)
{
    return DomainError(InputLevelTap::errorDomain, 1, std::move(message));
}

std::string stepFailure(const std::string& step, AudioStatus status)
{
    return localized("%@失败（%@）", step, status);
}

}  // namespace

InputLevelTap::~InputLevelTap()
{
    stop();
}

void InputLevelTap::fail(std::shared_ptr<AudioQueue> queue, const std::string& message)
{
    {
        std::lock_guard lock(lock_);
        running_ = false;
    }
    queue->dispose(true);
    throw tapError(message);
}

void InputLevelTap::start(const std::string& deviceUID, std::int64_t channels, std::optional<std::string> key)
{
    stop();
    const std::uint32_t count = channels < 2 ? 1 : 2;

    std::shared_ptr<AudioQueue> queue;
    const AudioStatus created = audioSystem().newInputQueue(inputFormat(count), &inputCallback, this, queue);
    if (created != AudioStatuses::ok) {
        throw tapError(stepFailure(localized("打开声音输入"), created));
    }
    if (!queue) {
        throw tapError(localized("无法打开声音输入"));
    }
    if (auto status = queue->setProperty(AudioSelectors::queueCurrentDevice, AudioString(deviceUID));
        status != AudioStatuses::ok) {
        fail(queue, stepFailure(localized("选择声音输入"), status));
    }
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        AudioQueueBuffer* buffer = nullptr;
        AudioStatus status = queue->allocateBuffer(count * framesPerBuffer * 4, buffer);
        if (status == AudioStatuses::ok && buffer != nullptr) {
            status = queue->enqueueBuffer(*buffer);
        }
        if (status != AudioStatuses::ok || buffer == nullptr) {
            fail(queue, stepFailure(localized("准备输入缓冲"), status));
        }
    }
    {
        std::lock_guard lock(lock_);
        running_ = true;
        peak_ = 0;
    }
    if (auto status = queue->start(); status != AudioStatuses::ok) {
        fail(queue, stepFailure(localized("启动声音输入"), status));
    }
    queue_ = queue;
    std::lock_guard lock(lock_);
    channels_ = count;
    deviceUID_ = deviceUID;
    deviceKey_ = key ? *key : deviceUID;
}

void InputLevelTap::stop()
{
    {
        std::lock_guard lock(lock_);
        running_ = false;
        recorded_.reset();
    }
    if (auto queue = std::exchange(queue_, nullptr)) {
        queue->stop(true);
        queue->dispose(true);
    }
    std::lock_guard lock(lock_);
    deviceUID_.reset();
    deviceKey_.reset();
}

void InputLevelTap::inputCallback(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer, const AudioTimeStamp&)
{
    auto* tap = static_cast<InputLevelTap*>(userData);
    const std::size_t count = buffer.data ? buffer.byteSize / 4 : 0;
    float loudest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        loudest = std::max(loudest, std::fabs(buffer.data[i]));
    }
    bool again = false;
    {
        std::lock_guard lock(tap->lock_);
        tap->peak_ = std::max(tap->peak_, loudest);
        if (tap->recorded_) {
            const auto held = static_cast<std::int64_t>(tap->recorded_->size());
            const auto room = static_cast<std::size_t>(std::max<std::int64_t>(tap->recordLimit_ - held, 0));
            const std::size_t taken = std::min(room, count);
            // Fits the capacity reserved by beginRecording: no allocation here.
            tap->recorded_->insert(tap->recorded_->end(), buffer.data, buffer.data + taken);
        }
        again = tap->running_;
    }
    if (again) {
        queue.enqueueBuffer(buffer);
    }
}

void InputLevelTap::beginRecording(double seconds)
{
    // A negative, unmeasurable or enormous length must not turn into a
    // wrapped count or a reservation of the whole memory.
    const double length = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, longestRecording);
    const auto limit = static_cast<std::int64_t>(std::floor(length * sampleRate)) * std::int64_t(channels());
    // Reserved before taking the lock, so the queue's thread never waits
    // on the allocation.
    std::vector<float> storage;
    storage.reserve(static_cast<std::size_t>(limit));
    std::lock_guard lock(lock_);
    recordLimit_ = limit;
    recorded_ = std::move(storage);
}

InputLevelTap::Recording InputLevelTap::finishRecording()
{
    std::lock_guard lock(lock_);
    Recording recording;
    if (recorded_) {
        recording.samples = std::move(*recorded_);
    }
    recorded_.reset();
    recording.channels = channels_;
    recording.sampleRate = sampleRate;
    return recording;
}

std::optional<PcmBuffer> InputLevelTap::recordingBuffer(const std::vector<float>& samples, std::uint32_t channels,
                                                        double sampleRate)
{
    // A count of 0 channels would make an unusable buffer; read it as mono.
    const std::uint32_t count = std::max<std::uint32_t>(channels, 1);
    const std::size_t frames = samples.size() / count;
    const AudioFormat format{
        .sampleRate = sampleRate, .channelCount = count, .sampleType = SampleType::float32, .interleaved = false};
    if (frames == 0 || !format.isValid()) {
        return std::nullopt;
    }
    PcmBuffer buffer(format, frames);
    buffer.setFrameLength(frames);
    for (std::uint32_t channel = 0; channel < count; ++channel) {
        float* target = buffer.floatChannelData(channel);
        for (std::size_t frame = 0; frame < frames; ++frame) {
            target[frame] = samples[frame * count + channel];
        }
    }
    return buffer;
}

std::vector<PcmBuffer> InputLevelTap::makeBuffers(const std::vector<float>& samples, double sampleRate,
                                                  std::uint32_t channels)
{
    std::vector<PcmBuffer> buffers;
    if (auto buffer = recordingBuffer(samples, channels, sampleRate)) {
        buffers.push_back(std::move(*buffer));
    }
    return buffers;
}

float InputLevelTap::takePeak()
{
    std::lock_guard lock(lock_);
    return std::exchange(peak_, 0.0f);
}

bool InputLevelTap::isQueueRunning() const
{
    if (!queue_) {
        return false;
    }
    std::uint32_t running = 0;
    return queue_->get(AudioSelectors::queueIsRunning, running) == AudioStatuses::ok && running != 0;
}

std::optional<std::string> InputLevelTap::deviceUID() const
{
    std::lock_guard lock(lock_);
    return deviceUID_;
}

std::optional<std::string> InputLevelTap::deviceKey() const
{
    std::lock_guard lock(lock_);
    return deviceKey_;
}

std::uint32_t InputLevelTap::channels() const
{
    std::lock_guard lock(lock_);
    return channels_;
}

}  // namespace parlaro
