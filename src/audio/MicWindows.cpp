#include "audio/MicWindows.h"

#include "audio/FarEndActivity.h"

#include <cmath>

namespace parlaro {

std::optional<MicWindows::Window> MicWindows::close()
{
    const bool open = running_ && pending_ > 0;
    const std::optional<Window> closed = open
        ? std::optional<Window>(Window{timeOf(streamFrames_ - pending_),
                                       timeOf(streamFrames_ - pending_) + static_cast<double>(pending_) / rate_,
                                       levelOf(sum_, pending_)})
        : std::nullopt;
    running_ = false;
    pending_ = 0;
    sum_ = 0.0;
    return closed;
}

bool MicWindows::continues(double rate, std::size_t windowFrames, double start) const
{
    if (!running_ || rate != rate_ || windowFrames != windowFrames_)
        return false;
    const double slack = 0.25 * static_cast<double>(windowFrames) / rate;
    return std::abs(start - timeOf(streamFrames_)) <= slack;
}

void MicWindows::open(double rate, std::size_t windowFrames, double start)
{
    running_ = true;
    rate_ = rate;
    windowFrames_ = windowFrames;
    origin_ = start;
    streamFrames_ = 0;
    pending_ = 0;
    sum_ = 0.0;
}

double MicWindows::levelOf(double sumOfSquares, std::size_t count)
{
    return FarEndActivity::levelDB(sumOfSquares, count);
}

}  // namespace parlaro
