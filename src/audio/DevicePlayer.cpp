#include "audio/DevicePlayer.h"

#include "audio/AudioDevices.h"
#include "platform/AudioSystem.h"
#include "platform/AudioTimeStamp.h"
#include "runtime/Clock.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

namespace parlaro {

namespace {

ModuleError playbackError(std::string message)
{
    return ModuleError(ModuleID::speech, 4, std::move(message));
}

ModuleError stepFailure(const std::string& step, AudioStatus status)
{
    return playbackError(localized("%@失败（%@）", step, status));
}

AudioStreamDescription queueFormat(double sampleRate, std::uint32_t channels)
{
    AudioFormat format;
    format.sampleRate = sampleRate;
    format.channelCount = channels;
    format.sampleType = SampleType::float32;
    format.interleaved = true;
    return AudioStreamDescription::pcm(format);
}

}  // namespace

// Shared with the queue's own thread, which only counts played buffers.
struct DevicePlayer::Progress {
    std::mutex lock;
    std::int64_t count = 0;
};

// Undoes one play's queue on every way out of play(), the frame's
// destruction included: the echo record is clipped, the queue stopped and
// disposed, and forgotten unless a later play has replaced it.
struct DevicePlayer::PlayState {
    std::shared_ptr<DevicePlayer> player;
    std::shared_ptr<AudioQueue> queue;
    bool echoReference = false;

    PlayState(std::shared_ptr<DevicePlayer> owner, std::shared_ptr<AudioQueue> created, bool echo)
        : player(std::move(owner)), queue(std::move(created)), echoReference(echo)
    {
    }
    PlayState(const PlayState&) = delete;
    PlayState& operator=(const PlayState&) = delete;
    ~PlayState()
    {
        try {
            if (echoReference && player->farEnd_) {
                player->farEnd_->cutPlayed(player->stoppedAt_.value_or(FarEndActivity::hostTime()));
            }
        } catch (...) {
            // Clipping the record is best effort; the queue must go regardless.
        }
        if (player->queue_ == queue) {
            player->queue_.reset();
        }
        queue->stop(true);
        queue->dispose(true);
    }
};

DevicePlayer::DevicePlayer(AudioObjectId deviceID, std::shared_ptr<FarEndActivity> farEnd)
    : deviceID_(deviceID), farEnd_(std::move(farEnd))
{
}

void DevicePlayer::outputCallback(void* userData, AudioQueue&, AudioQueueBuffer&)
{
    auto* progress = static_cast<Progress*>(userData);
    std::lock_guard lock(progress->lock);
    ++progress->count;
}

void DevicePlayer::stop()
{
    ++stops_;
    if (queue_ && !stoppedAt_) {
        stoppedAt_ = FarEndActivity::hostTime();
    }
    if (queue_) {
        queue_->stop(true);
    }
}

rt::Async<void> DevicePlayer::play(std::vector<PcmBuffer> buffers, CurrentCheck isCurrent)
{
    auto self = shared_from_this();
    if (!isCurrent()) {
        throw rt::CancellationError();
    }
    const std::uint64_t stopsAtStart = stops_;
    stopsAtLatestPlay_ = stopsAtStart;
    auto stopped = [this, stopsAtStart] { return stops_ != stopsAtStart; };
    stoppedAt_.reset();
    if (buffers.empty() || !(buffers.front().format().sampleRate > 0)) {
        co_return;
    }

    std::optional<AudioDevice> device;
    for (auto& candidate : AudioDevices::outputDevices()) {
        if (candidate.id == deviceID_) {
            device = candidate;
            break;
        }
    }
    if (!device || device->uid.empty()) {
        throw ModuleError(ModuleID::speech, 2, localized("播放设备已断开"));
    }

    const AudioFormat first = buffers.front().format();
    const double sampleRate = first.sampleRate;
    const std::uint32_t channels = first.channelCount;

    const bool echoReference = device->uid != virtualMicUID && device->uid != injectionUID
        && device->transportType != AudioTransports::virtualDevice && farEnd_ != nullptr;
    std::vector<FarEndActivity::Span> spans;
    if (echoReference) {
        double offset = 0;
        for (const auto& buffer : buffers) {
            if (buffer.frameLength() == 0) {
                continue;
            }
            auto levels = FarEndActivity::spans(buffer, offset, levelWindow);
            spans.insert(spans.end(), levels.begin(), levels.end());
            offset += double(buffer.frameLength()) / buffer.format().sampleRate;
        }
    }

    auto progress = std::make_shared<Progress>();
    std::shared_ptr<AudioQueue> queue;
    const AudioStatus created =
        audioSystem().newOutputQueue(queueFormat(sampleRate, channels), &outputCallback, progress.get(), queue);
    if (created != AudioStatuses::ok) {
        throw stepFailure(localized("创建播放通道"), created);
    }
    if (!queue) {
        throw playbackError(localized("无法创建播放通道"));
    }
    queue_ = queue;
    PlayState cleanup(self, queue, echoReference);

    if (auto status = queue->setProperty(AudioSelectors::queueCurrentDevice, AudioString(device->uid));
        status != AudioStatuses::ok) {
        throw stepFailure(localized("选择播放设备"), status);
    }
    AudioString current;
    if (auto status = queue->get(AudioSelectors::queueCurrentDevice, current); status != AudioStatuses::ok) {
        throw stepFailure(localized("确认播放设备"), status);
    }
    if (!current || *current != device->uid) {
        throw playbackError(localized("播放设备与所选设备不一致"));
    }

    std::int64_t enqueued = 0;
    double duration = 0;
    for (const auto& buffer : buffers) {
        const std::size_t frames = buffer.frameLength();
        if (frames == 0) {
            continue;
        }
        const AudioFormat& format = buffer.format();
        if (format.sampleRate != sampleRate || format.channelCount != channels
            || format.sampleType != SampleType::float32 || format.interleaved
            || buffer.floatChannelData(0) == nullptr) {
            throw playbackError(localized("语音音频格式不一致"));
        }
        const std::uint64_t bytes = std::uint64_t(frames) * channels * 4;
        if (bytes > std::numeric_limits<std::uint32_t>::max()) {
            throw playbackError(localized("语音音频格式不一致"));
        }
        AudioQueueBuffer* target = nullptr;
        if (auto status = queue->allocateBuffer(std::uint32_t(bytes), target); status != AudioStatuses::ok) {
            throw stepFailure(localized("准备语音缓冲"), status);
        }
        if (target == nullptr) {
            throw playbackError(localized("无法准备语音缓冲"));
        }
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            const float* source = buffer.floatChannelData(channel);
            for (std::size_t frame = 0; frame < frames; ++frame) {
                target->data[frame * channels + channel] = source[frame];
            }
        }
        target->byteSize = std::uint32_t(bytes);
        if (auto status = queue->enqueueBuffer(*target); status != AudioStatuses::ok) {
            throw stepFailure(localized("加入播放队列"), status);
        }
        ++enqueued;
        duration += double(frames) / sampleRate;
    }
    if (enqueued == 0) {
        throw playbackError(localized("没有可播放的语音"));
    }
    if (!isCurrent() || stopped()) {
        throw rt::CancellationError();
    }
    if (auto status = queue->start(); status != AudioStatuses::ok) {
        throw stepFailure(localized("启动播放"), status);
    }
    if (echoReference) {
        co_await anchorEchoReference(queue, sampleRate, std::move(spans));
    }
    if (auto status = queue->stop(false); status != AudioStatuses::ok) {
        throw stepFailure(localized("完成播放队列"), status);
    }

    const rt::Instant deadline = rt::clock().now() + duration + finishGrace;
    for (;;) {
        rt::checkCancellation();
        if (stopped()) {
            throw rt::CancellationError();
        }
        std::uint32_t running = 0;
        if (auto status = queue->get(AudioSelectors::queueIsRunning, running); status != AudioStatuses::ok) {
            throw stepFailure(localized("检查播放状态"), status);
        }
        std::int64_t played = 0;
        {
            std::lock_guard lock(progress->lock);
            played = progress->count;
        }
        if (played >= enqueued && running == 0) {
            co_return;
        }
        const rt::Instant now = rt::clock().now();
        if (!(now < deadline)) {
            throw playbackError(localized("语音播放超时，请重试"));
        }
        // The last nap ends on the deadline itself, so a play that never
        // finishes fails exactly then.
        co_await rt::sleepUntil(std::min(now + pollInterval, deadline));
    }
}

rt::Async<void> DevicePlayer::anchorEchoReference(std::shared_ptr<AudioQueue> queue, double sampleRate,
                                                  std::vector<FarEndActivity::Span> spans)
{
    auto self = shared_from_this();
    AudioQueueTimelineId timeline = 0;
    if (queue->createTimeline(timeline) != AudioStatuses::ok || timeline == 0) {
        co_return;
    }
    std::optional<AudioTimeStamp> accepted;
    for (int attempt = 0; attempt < anchorAttempts; ++attempt) {
        AudioTimeStamp stamp;
        if (queue->currentTime(timeline, stamp) == AudioStatuses::ok && stamp.hasSampleTime() && stamp.hasHostTime()
            && stamp.sampleTime >= 0) {
            accepted = stamp;
            break;
        }
        try {
            co_await rt::sleepFor(anchorInterval);
        } catch (...) {
            // A cancelled nap only shortens the wait for a valid time.
        }
    }
    queue->disposeTimeline(timeline);
    if (!accepted || !farEnd_) {
        co_return;
    }
    const double audioStart = accepted->hostSeconds() - accepted->sampleTime / sampleRate;
    for (auto& span : spans) {
        span.start += audioStart;
        span.end += audioStart;
    }
    farEnd_->played(spans);
}

}  // namespace parlaro
