#pragma once

#include "audio/CallAudioCapturing.h"
#include "audio/FarEndActivity.h"
#include "platform/AudioSystem.h"
#include "speech/ModuleError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// Captures everything the computer plays except this program's own output:
// a private process tap read through a private aggregate device, whose I/O
// procedure hands each cycle to the capture's queue. There the cycle becomes
// a new buffer, whose loudness goes into the far-end record first, then the
// buffer to the listener.
//
// The I/O procedure runs on the real-time thread, so it neither allocates nor
// waits: it copies the cycle into one of slotCount slots made with the
// device, publishes it with atomics and fires an allocation-free trigger of
// the queue, whose drain turns filled slots into buffers in order. A cycle
// longer than a slot is split over as many slots as it needs, each piece
// delivered as a buffer of its own starting where the piece starts; a cycle
// finding too few free slots (the queue is that far behind) is dropped whole
// and counted.
//
// It repairs itself when the default output changes, the audio server
// restarts or its aggregate device dies, trying up to five builds a second
// apart; when all fail it reports through onStop and the far-end record learns
// that no tap runs any more.
//
// Held by shared_ptr. Everything but the I/O procedure and stopAndWait() runs
// on queue(); callers use it synchronously there.
class CallAudioCapture final : public CallAudioCapturing, public std::enable_shared_from_this<CallAudioCapture> {
public:
    static constexpr const char* queueLabel = "call-audio-capture";
    static constexpr const char* deviceName = "Parlaro Listen";
    static constexpr const char* tapName = "Parlaro";
    // How long the quit path waits for its stop.
    static constexpr double stopWaitSeconds = 0.5;
    // Cycles the I/O procedure can have on their way to the queue.
    static constexpr std::size_t slotCount = 32;
    // A slot holds the device's buffer frame size, within these bounds (the
    // upper one when the size cannot be read); the lower one leaves room for
    // a device whose buffer grows while it runs.
    static constexpr std::uint32_t fewestSlotFrames = 4096;
    static constexpr std::uint32_t mostSlotFrames = 8192;

    explicit CallAudioCapture(std::shared_ptr<FarEndActivity> farEnd);
    // Tears down what is left, so no tap or device outlives the capture.
    ~CallAudioCapture() override;
    CallAudioCapture(const CallAudioCapture&) = delete;
    CallAudioCapture& operator=(const CallAudioCapture&) = delete;

    const std::shared_ptr<rt::SerialQueue>& queue() const override { return queue_; }
    // Throws ModuleError CAP-2 when the capture device cannot be built; the
    // handlers stay stored all the same.
    void start(BufferHandler onBuffer, StopHandler onStop) override;
    void stop() override;
    // Posts stop() and waits for it at most stopWaitSeconds; true when it ran
    // in that time. A stop that did not is still run later.
    bool stopAndWait() override;

    // What exists now (on the queue): 0 / none when nothing.
    AudioObjectId tapID() const { return tapID_; }
    AudioObjectId aggregateID() const { return aggregateID_; }
    std::optional<AudioIOProcId> procID() const { return procID_; }
    std::int64_t generation() const { return generation_; }
    const std::shared_ptr<FarEndActivity>& farEnd() const { return farEnd_; }
    // Of the running device (on the queue): frames one slot holds, and cycles
    // dropped for want of a free slot; 0 when none runs.
    std::size_t slotFrames() const;
    std::uint64_t droppedCycles() const;

private:
    class CycleSlots;
    struct IOContext;
    struct SystemListener {
        AudioListenerToken defaultOutput;
        AudioListenerToken serverRestart;
    };

    void createTapAndAggregate();
    void teardown();
    void installSystemListener();
    void aliveChanged(AudioObjectId aggregate);
    void restart(int attempt);

    static ModuleError startError(std::optional<AudioStatus> status);
    static AudioStatus ioProc(AudioObjectId device, const AudioTimeStamp& now, std::span<const AudioIOBuffer> input,
                              const AudioTimeStamp& inputTime, std::span<AudioIOBuffer> output,
                              const AudioTimeStamp& outputTime, void* context);
    static void drain(CycleSlots& slots, const std::weak_ptr<CallAudioCapture>& capture, FarEndActivity& farEnd);
    static void deliver(const std::weak_ptr<CallAudioCapture>& capture, FarEndActivity& farEnd,
                        std::shared_ptr<PcmBuffer> buffer, double start);

    std::shared_ptr<FarEndActivity> farEnd_;
    std::shared_ptr<rt::SerialQueue> queue_;
    AudioObjectId tapID_ = 0;
    AudioObjectId aggregateID_ = 0;
    std::optional<AudioIOProcId> procID_;
    // What the I/O procedure reads; lives while the procedure is registered.
    std::unique_ptr<IOContext> context_;
    // Contexts of procedures the system would not destroy: the procedure may
    // still run, so they are kept as long as the capture lives.
    std::vector<std::unique_ptr<IOContext>> retired_;
    BufferHandler onBuffer_;
    StopHandler onStop_;
    std::int64_t generation_ = 0;
    std::optional<SystemListener> systemListener_;
    AudioListenerToken aliveListener_;
};

}  // namespace parlaro
