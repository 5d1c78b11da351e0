#include "audio/DriftController.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace parlaro {

double DriftController::update(double errorFrames)
{
    ++samples_;
    recent_.push_back(errorFrames);
    if (recent_.size() > window) {
        recent_.erase(recent_.begin(), recent_.end() - static_cast<std::ptrdiff_t>(window));
    }
    if (recent_.size() < window) {
        return ppm_;
    }
    const double mean = std::accumulate(recent_.begin(), recent_.end(), 0.0) / static_cast<double>(window);
    if (!setpoint_) {
        if (samples_ >= setpointAfter) {
            setpoint_ = mean;
        }
        return ppm_;
    }
    const double e = mean - *setpoint_;
    if (std::abs(e) > jumpFrames) {
        // A resync moved the read position; the error's new level is the
        // route's new normal, not drift to be corrected.
        setpoint_ = mean;
        recent_.clear();
        return ppm_;
    }
    integral_ = std::clamp(integral_ + integralStep * e, -integralLimit, integralLimit);
    ppm_ = std::clamp(proportionalGain * e + integralGain * integral_, -ppmLimit, ppmLimit);
    return ppm_;
}

}  // namespace parlaro
