#pragma once

#include <cstdint>
#include <optional>

namespace parlaro {

// The read position of a direct (same-rate) route: tied to the output's
// sample time by a fixed offset, placed `distance` frames behind the newest
// input on the first read and again whenever a read would leave the ring's
// held window. Owned by the output I/O thread alone.
struct ReadHead {
    std::int64_t distance = 0;
    // Read sample time minus output sample time; none until placed.
    std::optional<std::int64_t> offset;
    int resyncs = 0;

    // The input sample time where a read of `frames` frames for output sample
    // time `outputTime` starts, given the ring's end and capacity. Places or
    // replaces the head as needed.
    std::int64_t start(std::int64_t end, std::int64_t outputTime, std::int64_t frames, std::int64_t capacity)
    {
        if (!offset) {
            offset = (end - distance) - outputTime;
        }
        std::int64_t read = outputTime + *offset;
        const bool valid = end >= read + frames && read >= end - capacity + frames;
        if (!valid) {
            read = end - distance;
            offset = read - outputTime;
            ++resyncs;
        }
        return read;
    }
};

}  // namespace parlaro
