#include "audio/CallAudioCapture.h"

#include "audio/AudioDevices.h"
#include "runtime/Runtime.h"
#include "runtime/Uuid.h"
#include "runtime/UuidSource.h"
#include "speech/Localization.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress defaultOutputAddress{AudioSelectors::defaultOutputDevice};
constexpr AudioPropertyAddress serverRestartAddress{AudioSelectors::serviceRestarted};
constexpr AudioPropertyAddress aliveAddress{AudioSelectors::isAlive};
constexpr AudioPropertyAddress tapFormatAddress{AudioSelectors::tapFormat};
constexpr AudioPropertyAddress bufferFrameSizeAddress{AudioSelectors::bufferFrameSize};

constexpr int lastAttempt = 4;
constexpr double retryDelay = 1.0;
constexpr double levelWindow = 0.01;

}  // namespace

// Cycles on their way from the I/O thread to the queue: a ring of slots made
// with the device, filled by the procedure alone and emptied by the queue
// alone, so two counters tell each side which slots are its own.
class CallAudioCapture::CycleSlots {
public:
    CycleSlots(const AudioFormat& format, std::uint32_t bytesPerFrame, std::size_t slotFrames)
        : format_(format), bytesPerFrame_(bytesPerFrame), slotFrames_(slotFrames)
    {
        slots_.reserve(slotCount);
        for (std::size_t i = 0; i < slotCount; ++i)
            slots_.push_back(Slot{PcmBuffer(format, slotFrames)});
    }

    std::size_t slotFrames() const { return slotFrames_; }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // On the I/O thread: copies the cycle into free slots; false when it
    // brought nothing (empty, or dropped).
    bool put(std::span<const AudioIOBuffer> input, const AudioTimeStamp& inputTime) noexcept
    {
        if (input.empty() || input[0].byteSize == 0 || bytesPerFrame_ > input[0].byteSize)
            return false;
        const std::size_t frames = input[0].byteSize / std::max<std::uint32_t>(bytesPerFrame_, 1);
        const std::size_t pieces = (frames + slotFrames_ - 1) / slotFrames_;
        const std::uint64_t filled = filled_.load(std::memory_order_relaxed);
        const std::uint64_t emptied = emptied_.load(std::memory_order_acquire);
        if (slotCount - (filled - emptied) < pieces) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            const std::size_t first = piece * slotFrames_;
            Slot& slot = slots_[(filled + piece) % slotCount];
            slot.frames = std::min(slotFrames_, frames - first);
            slot.framesAfter = frames - first - slot.frames;
            slot.time = inputTime.hasHostTime()
                ? std::optional<double>(inputTime.hostSeconds() + static_cast<double>(first) / format_.sampleRate)
                : std::nullopt;
            copy(input, first, slot);
        }
        filled_.store(filled + pieces, std::memory_order_release);
        return true;
    }

    // On the queue: the oldest filled slot as a new buffer, the slot freed.
    // Nothing when all slots are free.
    struct Taken {
        std::shared_ptr<PcmBuffer> buffer;
        std::optional<double> time;
        std::size_t framesAfter = 0;
    };
    std::optional<Taken> take()
    {
        const std::uint64_t emptied = emptied_.load(std::memory_order_relaxed);
        if (emptied == filled_.load(std::memory_order_acquire))
            return std::nullopt;
        const Slot& slot = slots_[emptied % slotCount];
        Taken taken{nullptr, slot.time, slot.framesAfter};
        try {
            taken.buffer = std::make_shared<PcmBuffer>(format_, slot.frames);
            taken.buffer->setFrameLength(slot.frames);
            for (std::size_t i = 0; i < arrays(); ++i)
                std::memcpy(data(*taken.buffer, i), data(slot.samples, i), slot.frames * arrayFrameBytes());
        } catch (const std::bad_alloc&) {
            // The cycle is lost, as it would be had the slot not been free.
            taken.buffer = nullptr;
        }
        emptied_.store(emptied + 1, std::memory_order_release);
        return taken;
    }

private:
    struct Slot {
        PcmBuffer samples;
        std::size_t frames = 0;
        std::size_t framesAfter = 0;
        std::optional<double> time;
    };

    // The tap's layout: one array when interleaved, one per channel
    // otherwise; each source array fills the array of its index.
    std::size_t arrays() const { return format_.interleaved ? 1 : format_.channelCount; }
    std::size_t arrayFrameBytes() const
    {
        return format_.bytesPerSample() * (format_.interleaved ? format_.channelCount : 1);
    }
    static std::byte* data(PcmBuffer& buffer, std::size_t array)
    {
        return const_cast<std::byte*>(data(static_cast<const PcmBuffer&>(buffer), array));
    }
    static const std::byte* data(const PcmBuffer& buffer, std::size_t array)
    {
        const auto channel = static_cast<std::uint32_t>(array);
        return buffer.format().sampleType == SampleType::float32
            ? reinterpret_cast<const std::byte*>(buffer.floatChannelData(channel))
            : reinterpret_cast<const std::byte*>(buffer.int16ChannelData(channel));
    }

    // Frames [first, first + slot.frames) of every array; what the source
    // lacks reads as silence, as in a freshly made buffer.
    void copy(std::span<const AudioIOBuffer> input, std::size_t first, Slot& slot) noexcept
    {
        const std::size_t bytes = slot.frames * arrayFrameBytes();
        const std::size_t offset = first * arrayFrameBytes();
        for (std::size_t i = 0; i < arrays(); ++i) {
            std::byte* target = data(slot.samples, i);
            std::size_t copied = 0;
            if (i < input.size() && input[i].data && input[i].byteSize > offset) {
                copied = std::min<std::size_t>(bytes, input[i].byteSize - offset);
                std::memcpy(target, reinterpret_cast<const std::byte*>(input[i].data) + offset, copied);
            }
            std::memset(target + copied, 0, bytes - copied);
        }
    }

    const AudioFormat format_;
    const std::uint32_t bytesPerFrame_;
    const std::size_t slotFrames_;
    std::vector<Slot> slots_;
    std::atomic<std::uint64_t> filled_{0};
    std::atomic<std::uint64_t> emptied_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

// What the I/O procedure touches; lives while the procedure is registered.
// The drain job holds the slots too, so a drain under way outlives it.
struct CallAudioCapture::IOContext {
    std::shared_ptr<CycleSlots> slots;
    rt::SerialQueue::Trigger drainTrigger;
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
        message = bracketed(message, std::to_string(*status));
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
    tap.uuid = rt::newUuid();
    AudioObjectId tapID = 0;
    if (const AudioStatus status = system.createProcessTap(tap, tapID); status != AudioStatuses::ok)
        throw startError(status);
    tapID_ = tapID;

    AggregateDeviceDescription aggregate;
    aggregate.name = deviceName;
    aggregate.uid = std::string(listenUIDPrefix) + rt::newUuid().toString();
    aggregate.isPrivate = true;
    aggregate.tapAutoStart = true;
    aggregate.tapUIDs = {tap.uuid.toString()};
    AudioObjectId aggregateID = 0;
    if (const AudioStatus status = system.createAggregateDevice(aggregate, aggregateID); status != AudioStatuses::ok) {
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

    std::uint32_t bufferFrames = mostSlotFrames;
    if (system.get(aggregateID_, bufferFrameSizeAddress, bufferFrames) != AudioStatuses::ok)
        bufferFrames = mostSlotFrames;
    auto context = std::make_unique<IOContext>();
    try {
        context->slots = std::make_shared<CycleSlots>(*format, description.bytesPerFrame,
                                                      std::clamp(bufferFrames, fewestSlotFrames, mostSlotFrames));
    } catch (const std::bad_alloc&) {
        teardown();
        throw startError(std::nullopt);
    }
    context->drainTrigger = queue_->makeTrigger(
        [slots = context->slots, capture = weak_from_this(), farEnd = farEnd_] { drain(*slots, capture, *farEnd); });
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
    // The context's trigger goes with it: cycles still in its slots, and any
    // the procedure adds before it stops, are delivered after whatever runs
    // now, as when each cycle was a job of its own.
    if (context_) {
        queue_->async([slots = context_->slots, capture = weak_from_this(), farEnd = farEnd_] {
            drain(*slots, capture, *farEnd);
        });
    }
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
                                     const AudioTimeStamp& inputTime, std::span<AudioIOBuffer>, const AudioTimeStamp&,
                                     void* context)
{
    const auto& io = *static_cast<const IOContext*>(context);
    if (io.slots->put(input, inputTime))
        io.drainTrigger.fire();
    return AudioStatuses::ok;
}

void CallAudioCapture::drain(CycleSlots& slots, const std::weak_ptr<CallAudioCapture>& capture, FarEndActivity& farEnd)
{
    while (auto taken = slots.take()) {
        if (!taken->buffer)
            continue;
        // Without a host time the cycle ended about now; a piece of a split
        // cycle ends where the pieces after it begin.
        const double rate = taken->buffer->format().sampleRate;
        const double start = taken->time ? *taken->time
                                         : FarEndActivity::hostTime()
                - static_cast<double>(taken->buffer->frameLength() + taken->framesAfter) / rate;
        deliver(capture, farEnd, std::move(taken->buffer), start);
    }
}

void CallAudioCapture::deliver(const std::weak_ptr<CallAudioCapture>& capture, FarEndActivity& farEnd,
                               std::shared_ptr<PcmBuffer> buffer, double start)
{
    // Recorded whether or not anyone listens: the echo gate needs it.
    const auto spans = FarEndActivity::spans(*buffer, start, levelWindow);
    if (!spans.empty())
        farEnd.heard(spans, spans.back().end);
    if (auto self = capture.lock(); self && self->onBuffer_)
        self->onBuffer_(std::move(buffer));
}

std::size_t CallAudioCapture::slotFrames() const
{
    return context_ ? context_->slots->slotFrames() : 0;
}

std::uint64_t CallAudioCapture::droppedCycles() const
{
    return context_ ? context_->slots->dropped() : 0;
}

}  // namespace parlaro
