#pragma once

#include "platform/AudioIOProc.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::sys {

// A stream some other program plays: what a far-end capture listens to.
struct PulsePlayingStream {
    std::uint32_t sinkInput = PA_INVALID_INDEX;
    // The monitor of the sink it plays on.
    std::string monitor;
    bool operator==(const PulsePlayingStream&) const = default;
};

// An I/O procedure on a far-end capture device: one record stream per
// playing stream (each reads that stream alone from its sink's monitor),
// mixed into 48 kHz stereo float cycles of `frames` frames. A timer on the
// stream loop clocks the cycles, so silence keeps coming when nothing plays.
// All calls run under the stream loop's lock; the cycles run on that loop, so
// none runs after stop() returns. A cycle never allocates: each member's ring
// is made when the member joins.
class PulseTapIO {
public:
    static constexpr std::uint32_t rate = 48000;
    static constexpr std::uint32_t channels = 2;

    PulseTapIO(AudioObjectId device, AudioIOProc proc, void* context);
    ~PulseTapIO();
    PulseTapIO(const PulseTapIO&) = delete;
    PulseTapIO& operator=(const PulseTapIO&) = delete;

    void start(pa_context* context, pa_mainloop_api* api, std::uint32_t frames,
               const std::vector<PulsePlayingStream>& playing);
    // Membership follows what plays: streams that ended leave, new ones join.
    void follow(const std::vector<PulsePlayingStream>& playing);
    void stop();
    bool isStarted() const { return timer_ != nullptr; }
    std::size_t memberCount() const { return members_.size(); }

private:
    struct Member {
        PulsePlayingStream source;
        pa_stream* stream = nullptr;
        std::vector<float> ring;
        std::size_t read = 0;  // floats, monotonic
        std::size_t written = 0;
        bool primed = false;
    };

    static void onRead(pa_stream* stream, std::size_t bytes, void* member);
    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);
    void join(const PulsePlayingStream& playing);
    static void leave(Member& member);
    void cycle();

    const AudioObjectId device_;
    const AudioIOProc proc_;
    void* const context_;
    pa_context* pulse_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_time_event* timer_ = nullptr;
    struct timeval next_ {};
    std::uint32_t frames_ = 0;
    std::vector<float> mix_;
    std::vector<std::unique_ptr<Member>> members_;
    double sample_ = 0;
};

}  // namespace parlaro::sys
