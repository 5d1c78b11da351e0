#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace parlaro {

// Turns the forwarder's timing error (input frames between where the reader
// is and where it should be) into a clock correction in parts per million.
//
// It never steers toward zero: a route's measured error carries a constant
// offset from buffer placement, so the controller first learns where the
// averaged error settles and then holds it there. A jump far beyond anything
// drift can cause (a resync of the read position) moves that setpoint instead
// of being fought.
//
// A positive correction means the input must be consumed faster: the reader
// lags further behind than its target.
class DriftController {
public:
    static constexpr std::size_t window = 10;
    static constexpr int setpointAfter = 20;
    static constexpr double jumpFrames = 4000;
    static constexpr double integralStep = 0.1;
    static constexpr double integralLimit = 5000;
    static constexpr double proportionalGain = 2;
    static constexpr double integralGain = 0.1;
    static constexpr double ppmLimit = 500;

    // One measurement in input frames; returns the correction in ppm.
    double update(double errorFrames);

    const std::vector<double>& recent() const { return recent_; }
    int samples() const { return samples_; }
    std::optional<double> setpoint() const { return setpoint_; }
    double integral() const { return integral_; }
    double ppm() const { return ppm_; }

private:
    std::vector<double> recent_;
    int samples_ = 0;
    std::optional<double> setpoint_;
    double integral_ = 0;
    double ppm_ = 0;
};

}  // namespace parlaro
