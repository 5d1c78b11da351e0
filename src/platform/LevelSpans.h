#pragma once

#include "platform/PcmBuffer.h"

#include <vector>

namespace parlaro {

// The level of one stretch of a buffer. Times are seconds from the origin
// the caller gave.
struct LevelSpan {
    double start;
    double end;
    double levelDB;  // RMS of the first channel, dB full scale, never below -120

    bool operator==(const LevelSpan&) const = default;
};

// The RMS level of channel 0 in consecutive windows of `window` seconds (as
// many frames as that is at the buffer's rate, rounded, at least 1), the first
// beginning at `start`; the last window holds the remainder. An RMS of 1e-9
// or less reads -120 dB. Allocates only the result.
std::vector<LevelSpan> levelSpans(const PcmBuffer& buffer, double start, double window);

}  // namespace parlaro
