#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace parlaro {

// The newest captured cycle's input sample time and host time, published by
// the input I/O thread and read by the output I/O thread to translate a host
// time into an input sample time.
//
// A sequence lock: the writer makes the counter odd, stores both values and
// makes it even again; a reader that sees an odd or changed counter retries,
// a few times at most, and then gives up rather than wait on a real-time
// thread. Sequence 0 means nothing was published yet.
class CaptureAnchor {
public:
    static constexpr int readAttempts = 4;

    // Writer side (one thread).
    void publish(double sampleTime, std::uint64_t hostTime);

    struct Snapshot {
        double sampleTime;
        std::uint64_t hostTime;
    };
    // A consistent pair, or none when nothing was published or the writer
    // kept interfering.
    std::optional<Snapshot> snapshot() const;

    // The input sample time at host time `hostTime`, extrapolated from the
    // anchor; the host difference keeps its sign.
    std::optional<double> inputSampleTime(std::uint64_t hostTime, double hostTicksPerInputFrame) const;

    std::uint64_t sequence() const { return sequence_.load(std::memory_order_acquire); }

private:
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<double> sample_{0.0};
    std::atomic<std::uint64_t> host_{0};
};

}  // namespace parlaro
