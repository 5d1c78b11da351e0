#include "platform/LevelSpans.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace parlaro {

namespace {

constexpr double floorDB = -120.0;

double levelOf(double sumOfSquares, std::size_t count)
{
    const double rms = std::sqrt(sumOfSquares / static_cast<double>(count));
    if (!(rms > 1e-9))
        return floorDB;
    return std::max(floorDB, 20.0 * std::log10(rms));
}

}  // namespace

std::vector<LevelSpan> levelSpans(const PcmBuffer& buffer, double start, double window)
{
    const std::size_t frames = buffer.frameLength();
    if (frames == 0)
        return {};
    const float* floats = buffer.floatChannelData(0);
    const std::int16_t* int16s = floats ? nullptr : buffer.int16ChannelData(0);
    if (!floats && !int16s)
        return {};
    const double rate = buffer.format().sampleRate;
    const std::size_t stride = buffer.stride();

    // Also keeps a NaN, negative or huge window away from the integer cast.
    const double wanted = std::round(window * rate);
    std::size_t windowFrames = 1;
    if (wanted >= static_cast<double>(frames))
        windowFrames = frames;
    else if (wanted >= 2.0)
        windowFrames = static_cast<std::size_t>(wanted);

    std::vector<LevelSpan> spans;
    spans.reserve((frames + windowFrames - 1) / windowFrames);
    for (std::size_t offset = 0; offset < frames; offset += windowFrames) {
        const std::size_t count = std::min(windowFrames, frames - offset);
        double sum = 0.0;
        if (floats) {
            const float* sample = floats + offset * stride;
            for (std::size_t i = 0; i < count; ++i, sample += stride)
                sum += static_cast<double>(*sample) * static_cast<double>(*sample);
        } else {
            const std::int16_t* sample = int16s + offset * stride;
            for (std::size_t i = 0; i < count; ++i, sample += stride) {
                const double value = static_cast<double>(*sample) * (1.0 / 32768.0);
                sum += value * value;
            }
        }
        const double spanStart = start + static_cast<double>(offset) / rate;
        spans.push_back(LevelSpan{spanStart, spanStart + static_cast<double>(count) / rate, levelOf(sum, count)});
    }
    return spans;
}

}  // namespace parlaro
