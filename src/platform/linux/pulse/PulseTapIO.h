#pragma once

#include "platform/AudioIOProc.h"
#include "platform/linux/pulse/PulseTapMixer.h"

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
// mixed into 48 kHz stereo float cycles of `frames` frames by a
// `PulseTapMixer`. A timer on the stream loop clocks the cycles, so silence
// keeps coming when nothing plays; cycles also go out as soon as the sound a
// late cycle waited for arrives. All calls run under the stream loop's lock;
// the cycles run on that loop, so none runs after stop() returns. A cycle
// never allocates: each member's ring is made when the member joins.
// Streams are told apart by their client's pid, so this program's own sound
// stays out only while it plays through client streams of its own (a server
// loopback module would carry it under no pid of ours).
//
// A stream's sound reaches its record stream only from when that attaches,
// a few milliseconds after the stream appears; a sink renders as far ahead
// as the smallest latency asked of it, which with nobody asking is its
// whole buffer (two seconds on PulseAudio's), so a sentence in a stream of
// its own would be gone up to its middle before it could be heard. While
// the capture runs, every sink's monitor is therefore also read at a short
// latency (its peaks only, thrown away), which keeps what a new stream
// loses to a few milliseconds of its lead-in.
class PulseTapIO {
public:
    static constexpr std::uint32_t rate = PulseTapMixer::rate;
    static constexpr std::uint32_t channels = PulseTapMixer::channels;
    // Cycles that go out back to back before the loop serves others again.
    static constexpr int burst = 8;

    PulseTapIO(AudioObjectId device, AudioIOProc proc, void* context);
    ~PulseTapIO();
    PulseTapIO(const PulseTapIO&) = delete;
    PulseTapIO& operator=(const PulseTapIO&) = delete;

    void start(pa_context* context, pa_mainloop_api* api, std::uint32_t frames,
               const std::vector<PulsePlayingStream>& playing);
    // Membership follows what plays: streams that ended leave, new ones join;
    // `monitors` are the monitors of the sinks a stream may start on.
    void follow(const std::vector<PulsePlayingStream>& playing, const std::vector<std::string>& monitors = {});
    // Stops, and says on stderr how much sound fell past the backlog's bound
    // since the start, if any did.
    void stop();
    bool isStarted() const { return timer_ != nullptr; }
    std::size_t memberCount() const { return members_.size(); }

private:
    struct Member {
        PulseTapIO* io = nullptr;
        PulsePlayingStream source;
        pa_stream* stream = nullptr;
        PulseTapMixer::Member* sound = nullptr;
    };

    // Peaks a second read from a paced monitor, one a fragment: its sink
    // renders no more than 1/pacedRate s ahead.
    static constexpr std::uint32_t pacedRate = 50;

    struct Paced {
        std::string monitor;
        pa_stream* stream = nullptr;
    };

    static void onRead(pa_stream* stream, std::size_t bytes, void* member);
    static void onPacedRead(pa_stream* stream, std::size_t bytes, void*);
    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);
    void join(const PulsePlayingStream& playing);
    void leave(Member& member);
    void pace(const std::vector<std::string>& monitors);
    static void release(pa_stream*& stream);
    void pump() noexcept;
    void deliver() noexcept;

    const AudioObjectId device_;
    const AudioIOProc proc_;
    void* const context_;
    pa_context* pulse_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_time_event* timer_ = nullptr;
    std::unique_ptr<PulseTapMixer> mixer_;
    std::vector<std::unique_ptr<Member>> members_;
    std::vector<Paced> paced_;
};

}  // namespace parlaro::sys
