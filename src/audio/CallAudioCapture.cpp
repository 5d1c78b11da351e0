#include "audio/CallAudioCapture.h"

#include "audio/AudioDevices.h"
#include "runtime/Runtime.h"
#include "runtime/Uuid.h"
#include "speech/Localization.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress defaultOutputAddress{"dOut"_fcc};
constexpr AudioPropertyAddress serverRestartAddress{"srst"_fcc};
constexpr AudioPropertyAddress aliveAddress{"livn"_fcc};
constexpr AudioPropertyAddress tapFormatAddress{"tfmt"_fcc};

constexpr int lastAttempt = 4;
constexpr double retryDelay = 1.0;
constexpr double levelWindow = 0.01;

} // namespace

// Everything the I/O procedure touches: fixed while the procedure is
// registered.
struct CallAudioCapture::IOContext {
    AudioFormat format;
    // The tap's bytes per frame as it describes its stream (per buffer when
    // the channels are not interleaved).
    std::uint32_t bytesPerFrame;
    std::shared_ptr<rt::SerialQueue> queue;
    std::shared_ptr<FarEndActivity> farEnd;
    std::weak_ptr<CallAudioCapture> capture;
};

CallAudioCapture::CallAudioCapture(std::shared_ptr<FarEndActivity> farEnd)
    : farEnd_(std::move(farEnd)), queue_(rt::makeSerialQueue(queueLabel))
{
}

CallAudioCapture::~CallAudioCapture()
{
    systemListener_.reset();
    aliveListener_.release();
    if (tapID_ != 0 || aggregateID_ != 0) {
        teardown();
        farEnd_->tapStopped();
    }
}

ModuleError CallAudioCapture::startError(std::optional<AudioStatus> status)
{
    std::string message = localized("无法开始收听系统声音");
    if (status)
        message += "（" + std::to_string(*status) + "）";
    return ModuleError(ModuleID::callAudio, 2, std::move(message));
}

void CallAudioCapture::start(BufferHandler onBuffer, StopHandler onStop)
{
    ++generation_;
    onBuffer_ = std::move(onBuffer);
    onStop_ = std::move(onStop);
    // Callers stop a running capture first; should one not, its tap and
    // device must not be left behind unowned.
    if (tapID_ != 0 || aggregateID_ != 0)
        teardown();
    createTapAndAggregate();
    if (!systemListener_)
        installSystemListener();
}

void CallAudioCapture::stop()
{
    farEnd_->tapStopped();
    ++generation_;
    systemListener_.reset();
    teardown();
    onBuffer_ = nullptr;
    onStop_ = nullptr;
}

bool CallAudioCapture::stopAndWait()
{
    // The posted stop holds the capture, so it runs even when the wait gives
    // up and the owner lets go meanwhile.
    auto self = shared_from_this();
    return queue_->syncWithin(stopWaitSeconds, [self] { self->stop(); });
}

void CallAudioCapture::createTapAndAggregate()
{
    AudioSystem& system = audioSystem();

    ProcessTapDescription tap;
    if (auto own = AudioDevices::ownProcessObject())
        tap.excludedProcesses.push_back(*own);
    tap.name = tapName;
    tap.isPrivate = true;
    tap.muteBehavior = 0;
    tap.uuid = rt::Uuid::random();
    AudioObjectId tapID = 0;
    if (const AudioStatus status = system.createProcessTap(tap, tapID); status != AudioStatuses::ok)
        throw startError(status);
    tapID_ = tapID;

    AggregateDeviceDescription aggregate;
    aggregate.name = deviceName;
    aggregate.uid = std::string(uidPrefix) + rt::Uuid::random().toString();
    aggregate.isPrivate = true;
    aggregate.tapAutoStart = true;
    aggregate.tapUIDs = {tap.uuid.toString()};
    AudioObjectId aggregateID = 0;
    if (const AudioStatus status = system.createAggregateDevice(aggregate, aggregateID);
        status != AudioStatuses::ok) {
        teardown();
        throw startError(status);
    }
    aggregateID_ = aggregateID;

    AudioStreamDescription description;
    std::optional<AudioFormat> format;
    if (system.get(tapID_, tapFormatAddress, description) == AudioStatuses::ok)
        format = description.audioFormat();
    if (!format) {
        teardown();
        throw startError(std::nullopt);
    }

    auto context = std::make_unique<IOContext>(
        IOContext{*format, description.bytesPerFrame, queue_, farEnd_, weak_from_this()});
    AudioIOProcId procID = 0;
    if (system.createIOProc(aggregateID_, &CallAudioCapture::ioProc, context.get(), procID) != AudioStatuses::ok
        || procID == 0) {
        teardown();
        throw startError(std::nullopt);
    }
    procID_ = procID;
    context_ = std::move(context);

    if (const AudioStatus status = system.startDevice(aggregateID_, procID); status != AudioStatuses::ok) {
        teardown();
        throw startError(status);
    }

    farEnd_->tapStarted();

    std::weak_ptr<CallAudioCapture> weak = weak_from_this();
    const AudioObjectId watched = aggregateID_;
    aliveListener_ = system.addPropertyListener(aggregateID_, aliveAddress, AudioCallbackQueue::serial(queue_),
                                                [weak, watched](std::span<const AudioPropertyAddress>) {
                                                    if (auto self = weak.lock())
                                                        self->aliveChanged(watched);
                                                });
}

void CallAudioCapture::teardown()
{
    AudioSystem& system = audioSystem();
    aliveListener_.release();
    if (aggregateID_ != 0) {
        if (procID_) {
            system.stopDevice(aggregateID_, *procID_);
            if (system.destroyIOProc(aggregateID_, *procID_) != AudioStatuses::ok && context_)
                retired_.push_back(std::move(context_));
        }
        system.destroyAggregateDevice(aggregateID_);
    }
    if (tapID_ != 0)
        system.destroyProcessTap(tapID_);
    tapID_ = 0;
    aggregateID_ = 0;
    procID_.reset();
    context_.reset();
}

void CallAudioCapture::installSystemListener()
{
    AudioSystem& system = audioSystem();
    std::weak_ptr<CallAudioCapture> weak = weak_from_this();
    auto repair = [weak](std::span<const AudioPropertyAddress>) {
        if (auto self = weak.lock())
            self->restart(0);
    };
    // Registration statuses are ignored: a listener that could not be added
    // simply never fires.
    SystemListener listener;
    listener.defaultOutput =
        system.addPropertyListener(audioSystemObject, defaultOutputAddress, AudioCallbackQueue::serial(queue_), repair);
    listener.serverRestart =
        system.addPropertyListener(audioSystemObject, serverRestartAddress, AudioCallbackQueue::serial(queue_), repair);
    systemListener_.emplace(std::move(listener));
}

void CallAudioCapture::aliveChanged(AudioObjectId aggregate)
{
    // A notification of a device already replaced says nothing about ours.
    if (aggregateID_ == 0 || aggregateID_ != aggregate)
        return;
    std::uint32_t alive = 0;
    if (audioSystem().get(aggregate, aliveAddress, alive) != AudioStatuses::ok || alive == 0)
        restart(0);
}

void CallAudioCapture::restart(int attempt)
{
    if (!onBuffer_)
        return;
    teardown();
    std::string reason;
    try {
        createTapAndAggregate();
        return;
    } catch (const Error& error) {
        reason = error.localizedDescription();
    }
    if (attempt >= lastAttempt) {
        // Nothing captures any more: the echo gate must not wait for a far end
        // that will never report.
        farEnd_->tapStopped();
        if (onStop_)
            onStop_(reason);
        return;
    }
    std::weak_ptr<CallAudioCapture> weak = weak_from_this();
    const std::int64_t generation = generation_;
    queue_->asyncAfter(retryDelay, [weak, generation, attempt] {
        if (auto self = weak.lock(); self && self->generation_ == generation)
            self->restart(attempt + 1);
    });
}

AudioStatus CallAudioCapture::ioProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer> input,
                                     const AudioTimeStamp& inputTime, std::span<AudioIOBuffer>,
                                     const AudioTimeStamp&, void* context)
{
    const auto& io = *static_cast<const IOContext*>(context);
    if (input.empty() || input[0].byteSize == 0 || io.bytesPerFrame > input[0].byteSize)
        return AudioStatuses::ok;
    const std::size_t frames = input[0].byteSize / std::max<std::uint32_t>(io.bytesPerFrame, 1);

    std::shared_ptr<PcmBuffer> buffer;
    try {
        buffer = std::make_shared<PcmBuffer>(io.format, frames);
    } catch (const std::bad_alloc&) {
        return AudioStatuses::ok;
    } catch (const std::invalid_argument&) {
        return AudioStatuses::ok;
    }
    buffer->setFrameLength(frames);

    // The buffer keeps the tap's layout: one array when interleaved, one per
    // channel otherwise; each source array fills the array of its index.
    const AudioFormat& format = io.format;
    const std::size_t arrays = format.interleaved ? 1 : format.channelCount;
    const std::size_t arrayBytes =
        frames * format.bytesPerSample() * (format.interleaved ? format.channelCount : 1);
    for (std::size_t i = 0; i < std::min(arrays, input.size()); ++i) {
        const auto channel = static_cast<std::uint32_t>(i);
        void* target = format.sampleType == SampleType::float32 ? static_cast<void*>(buffer->floatChannelData(channel))
                                                                : static_cast<void*>(buffer->int16ChannelData(channel));
        if (!target || !input[i].data)
            continue;
        std::memcpy(target, input[i].data, std::min<std::size_t>(arrayBytes, input[i].byteSize));
    }

    std::optional<double> time;
    if (inputTime.hasHostTime())
        time = inputTime.hostSeconds();
    io.queue->async([capture = io.capture, farEnd = io.farEnd, buffer = std::move(buffer), time]() mutable {
        deliver(capture, *farEnd, std::move(buffer), time);
    });
    return AudioStatuses::ok;
}

void CallAudioCapture::deliver(const std::weak_ptr<CallAudioCapture>& capture, FarEndActivity& farEnd,
                               std::shared_ptr<PcmBuffer> buffer, std::optional<double> time)
{
    const double start = time ? *time
                              : FarEndActivity::hostTime()
            - static_cast<double>(buffer->frameLength()) / buffer->format().sampleRate;
    // Recorded whether or not anyone listens: the echo gate needs it.
    const auto spans = FarEndActivity::spans(*buffer, start, levelWindow);
    if (!spans.empty())
        farEnd.heard(spans, spans.back().end);
    if (auto self = capture.lock(); self && self->onBuffer_)
        self->onBuffer_(std::move(buffer));
}

} // namespace parlaro
