#pragma once

#include "platform/AudioIOProc.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>

namespace parlaro {

// Where the two channels of one captured cycle come from: frame i of the left
// channel is left[i * leftStride], of the right channel right[i * rightStride].
struct StereoSource {
    const float* left = nullptr;
    std::size_t leftStride = 1;
    const float* right = nullptr;
    std::size_t rightStride = 1;
};

// Stereo audio indexed by the input device's sample time, shared by one
// writer (the input I/O thread) and one reader (the output I/O thread).
//
// Frame t lives at index t & mask. `end` is the only synchronisation: the
// writer stores the samples, then publishes end with release ordering; the
// reader loads end with acquire ordering and trusts only frames inside the
// window it names. The samples are relaxed atomics, so a frame the writer is
// overwriting while the reader copies it is a stale or fresh value, never
// undefined behaviour; such a frame lies outside the held window anyway.
class SampleTimeRing {
public:
    static constexpr std::int64_t capacity = 65536;
    static constexpr std::int64_t mask = capacity - 1;
    // `end` before the first write.
    static constexpr std::int64_t emptyMarker = std::numeric_limits<std::int64_t>::min();

    // Allocates and zeroes the samples (512 KiB).
    SampleTimeRing();
    SampleTimeRing(const SampleTimeRing&) = delete;
    SampleTimeRing& operator=(const SampleTimeRing&) = delete;

    // One past the newest written sample time, or emptyMarker.
    std::int64_t end() const { return end_.load(std::memory_order_acquire); }
    // Whether frame t is held given an end loaded earlier.
    static bool holds(std::int64_t end, std::int64_t t) { return end != emptyMarker && t < end && t >= end - capacity; }

    // Stores `count` frames starting at sample time `at` and publishes the new
    // end. A count below 1 or a source without left samples writes nothing;
    // a source without right samples is mono (right = left).
    void write(const StereoSource& source, std::int64_t count, std::int64_t at);
    // The same from a device's captured buffers: left is the first buffer's
    // first channel; right its second channel, else the second buffer's first
    // channel, else left again.
    void write(std::span<const AudioIOBuffer> buffers, std::int64_t count, std::int64_t at);

    // Copies frames from..from+count-1 into `destination` (interleaved
    // stereo); frames not held become silence. Returns how many were held.
    std::int64_t read(float* destination, std::int64_t count, std::int64_t from) const;

private:
    std::unique_ptr<std::atomic<float>[]> samples_;
    std::atomic<std::int64_t> end_{emptyMarker};
};

}  // namespace parlaro
