#pragma once

#include "platform/AudioIOProc.h"
#include "platform/linux/pulse/PulseHostClock.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace parlaro::sys {

// Where one side of a device lives on the server.
struct PulseSide {
    std::string name;  // empty: the device has no such side (or it is off)
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
};

// An I/O procedure running on a device: a record stream on its input side
// and a playback stream on its output side, in cycles of exactly `frames`
// frames whatever block sizes the server hands out. Cycles are driven by the
// record stream when there is one (its output is written straight after),
// otherwise by the playback stream's requests. Start and stop run under the
// stream loop's lock; the callbacks run on that loop with the lock held, so
// none runs after stop() returns. Nothing is allocated after start().
class PulseDeviceIO {
public:
    PulseDeviceIO(AudioObjectId device, AudioIOProc proc, void* context);
    ~PulseDeviceIO();
    PulseDeviceIO(const PulseDeviceIO&) = delete;
    PulseDeviceIO& operator=(const PulseDeviceIO&) = delete;

    // Under the lock. `onOverload` runs on the loop thread when a stream
    // under- or overflows. False when no stream could be made.
    // `loop` is signalled when a stream's state changes.
    bool start(pa_context* context, pa_threaded_mainloop* loop, const PulseSide& input, const PulseSide& output,
               std::uint32_t frames, std::function<void()> onOverload);
    // Under the lock; the streams are gone afterwards.
    void stop();
    bool isStarted() const { return record_ || playback_; }
    // Under the lock: every stream is ready (false when one failed).
    bool ready() const;
    bool failed() const;

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onXrun(pa_stream* stream, void* self);
    static void onState(pa_stream* stream, void* self);
    void cycle(bool write);
    pa_stream* makeStream(pa_context* context, const PulseSide& side, const char* name);

    const AudioObjectId device_;
    const AudioIOProc proc_;
    void* const context_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_stream* record_ = nullptr;
    pa_stream* playback_ = nullptr;
    std::uint32_t frames_ = 0;
    std::uint32_t inputChannels_ = 0;
    std::uint32_t outputChannels_ = 0;
    double rate_ = 48000;
    std::vector<float> input_;
    std::vector<float> output_;
    std::size_t inputFilled_ = 0;    // floats
    std::size_t outputPending_ = 0;  // bytes of output_ not yet written
    double inputSample_ = 0;
    double outputSample_ = 0;
    PulseHostClock inputClock_;
    std::function<void()> onOverload_;
};

// The CLOCK_MONOTONIC time in nanoseconds: the host clock of time stamps.
std::uint64_t pulseHostNow() noexcept;

}  // namespace parlaro::sys
