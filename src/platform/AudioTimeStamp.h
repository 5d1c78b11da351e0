#pragma once

#include <cmath>
#include <cstdint>

namespace parlaro {

// Host time is counted in ticks of one nanosecond; hostTickSeconds turns a
// tick count into seconds of the host clock (rt::Clock::hostTime()).
inline constexpr double hostTickSeconds = 1e-9;

inline std::uint64_t hostTicks(double hostSeconds)
{
    return hostSeconds <= 0 ? 0 : static_cast<std::uint64_t>(std::llround(hostSeconds / hostTickSeconds));
}

// When a stretch of audio was (or will be) at the device: its position on the
// device's sample timeline and on the host clock. Each part counts only when
// its flag is set.
struct AudioTimeStamp {
    static constexpr std::uint32_t sampleTimeValid = 1u << 0;
    static constexpr std::uint32_t hostTimeValid = 1u << 1;
    static constexpr std::uint32_t rateScalarValid = 1u << 2;

    double sampleTime = 0;
    std::uint64_t hostTime = 0;
    double rateScalar = 1;
    std::uint32_t flags = 0;

    bool hasSampleTime() const { return (flags & sampleTimeValid) != 0; }
    bool hasHostTime() const { return (flags & hostTimeValid) != 0; }
    double hostSeconds() const { return static_cast<double>(hostTime) * hostTickSeconds; }
};

}  // namespace parlaro
