#pragma once

#include <cstdint>

namespace parlaro::sys {

// Where a stream's frame 0 lies on the host clock, fitted from observations
// "frame n was at the device at host time t". Single observations are off by
// scheduling delays and by latency readings that jump about after a start,
// so the fit takes the earliest reading of the first half second of audio
// and afterwards moves towards new readings by at most 1 % of the audio time
// between them: consecutive time stamps stay a frame count apart (within
// 1 %), and a device clock that runs a little off is still followed. Never
// allocates.
class PulseHostClock {
public:
    void reset() { known_ = false; }
    void observe(double hostSeconds, double frame, double rate) noexcept
    {
        if (rate <= 0)
            return;
        const double origin = hostSeconds - frame / rate;
        if (!known_ || frame / rate < settlingSeconds) {
            if (!known_ || origin < origin_)
                origin_ = origin;
            known_ = true;
            lastFrame_ = frame;
            return;
        }
        const double limit = 0.01 * (frame - lastFrame_) / rate;
        lastFrame_ = frame;
        const double step = origin - origin_;
        origin_ += step > limit ? limit : (step < -limit ? -limit : step);
    }
    bool known() const { return known_; }
    double hostSeconds(double frame, double rate) const { return origin_ + frame / rate; }

private:
    static constexpr double settlingSeconds = 0.5;
    double origin_ = 0;
    double lastFrame_ = 0;
    bool known_ = false;
};

}  // namespace parlaro::sys
