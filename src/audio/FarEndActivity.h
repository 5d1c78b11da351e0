#pragma once

#include "platform/LevelSpans.h"
#include "platform/PcmBuffer.h"

#include <limits>
#include <mutex>
#include <optional>
#include <vector>

namespace parlaro {

// When sound that could come back into the user's microphone was audible,
// and how loud: the other party as the call application plays it ("heard",
// measured from the system-audio tap) and the program's own speech played on
// a real output device ("played"). The echo gate asks it how loud the far
// end was in a window of time. Times are host clock seconds.
//
// One lock guards the record; it is held only for list work and never while
// calling out. Old spans age out when new ones of the same kind arrive, so
// about 6 s of history is kept.
class FarEndActivity {
public:
    // Times on the host clock, seconds.
    using Span = LevelSpan;

    FarEndActivity() = default;
    FarEndActivity(const FarEndActivity&) = delete;
    FarEndActivity& operator=(const FarEndActivity&) = delete;

    // The host clock in seconds.
    static double hostTime();

    // The far-end capture started: until the tap reports again, the far end
    // is unknown.
    void tapStarted();
    // The far-end capture stopped: levels are known from what is held.
    void tapStopped();

    // Levels of one tapped buffer, `through` being the end of the last span.
    // An empty list changes nothing.
    void heard(const std::vector<Span>& spans, double through);
    // The spans of one playback, already placed on the host clock. An empty
    // list changes nothing.
    void played(const std::vector<Span>& spans);
    // Playback stopped early at `time`: later spans go, running ones end then.
    void cutPlayed(double time);

    // The loudest far-end level overlapping (from, to), -120 when nothing
    // does; none while the running tap has not yet reported past `from`.
    std::optional<double> level(double from, double to) const;
    // Heard and played spans ending after `time`, sorted by start.
    std::vector<Span> spans(double after) const;
    // The same spans into `into` (its storage is reused), and, read under the
    // same hold of the lock, how far the far end is known (knownThrough()).
    double spans(double after, std::vector<Span>& into) const;
    // How far the far end is known: what the running tap has reported, or
    // all time (+infinity) while no tap runs.
    double knownThrough() const;

    // The level in dB of `count` samples whose squares sum to `sumOfSquares`:
    // 20 log10 of the RMS, never below -120, and -120 for near silence.
    static double levelDB(double sumOfSquares, std::size_t count);

    // The RMS level of channel 0 in consecutive windows of `window` seconds,
    // the first beginning at `start`; the last window holds the remainder.
    // Touches nothing shared.
    static std::vector<Span> spans(const PcmBuffer& buffer, double start, double window);

private:
    mutable std::mutex lock_;
    std::vector<Span> heard_;
    // Whether every heard span starts and ends no earlier than the one
    // before it, as the tap reports them; lookups then halve instead of
    // reading every span.
    bool heardInOrder_ = true;
    std::vector<Span> played_;  // sorted by start
    bool tapRunning_ = false;
    // The latest end the running tap has reported.
    double tapKnownThrough_ = -std::numeric_limits<double>::infinity();
};

}  // namespace parlaro
