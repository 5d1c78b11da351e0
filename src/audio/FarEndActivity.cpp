#include "audio/FarEndActivity.h"

#include "runtime/Runtime.h"

#include <algorithm>
#include <cmath>

namespace parlaro {

namespace {

constexpr double horizon = 5.0;
constexpr double floorDB = -120.0;

// Prunes only once the oldest span lies more than a second past the cut-off,
// and then back to it, so most calls do no list work at all.
void prune(std::vector<FarEndActivity::Span>& spans, double cutOff)
{
    if (spans.empty() || !(spans.front().end < cutOff - 1.0))
        return;
    std::erase_if(spans, [cutOff](const FarEndActivity::Span& span) { return span.end < cutOff; });
}

double levelOf(double sumOfSquares, std::size_t count)
{
    const double rms = std::sqrt(sumOfSquares / static_cast<double>(count));
    if (!(rms > 1e-9))
        return floorDB;
    return std::max(floorDB, 20.0 * std::log10(rms));
}

} // namespace

double FarEndActivity::hostTime()
{
    return rt::clock().hostTime();
}

void FarEndActivity::tapStarted()
{
    std::lock_guard guard(lock_);
    tapRunning_ = true;
    tapKnownThrough_ = -std::numeric_limits<double>::infinity();
}

void FarEndActivity::tapStopped()
{
    std::lock_guard guard(lock_);
    tapRunning_ = false;
}

void FarEndActivity::heard(const std::vector<Span>& spans, double through)
{
    if (spans.empty())
        return;
    std::lock_guard guard(lock_);
    heard_.insert(heard_.end(), spans.begin(), spans.end());
    tapKnownThrough_ = std::max(tapKnownThrough_, through);
    prune(heard_, tapKnownThrough_ - horizon);
}

void FarEndActivity::played(const std::vector<Span>& spans)
{
    if (spans.empty())
        return;
    const double earliest =
        std::min_element(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; })
            ->start;
    const double now = hostTime();
    std::lock_guard guard(lock_);
    prune(played_, std::min(now, earliest) - horizon);
    played_.insert(played_.end(), spans.begin(), spans.end());
    std::stable_sort(played_.begin(), played_.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
}

void FarEndActivity::cutPlayed(double time)
{
    std::lock_guard guard(lock_);
    std::erase_if(played_, [time](const Span& span) { return span.start >= time; });
    for (Span& span : played_)
        span.end = std::min(span.end, time);
}

std::optional<double> FarEndActivity::level(double from, double to) const
{
    std::lock_guard guard(lock_);
    if (tapRunning_ && tapKnownThrough_ <= from)
        return std::nullopt;
    double loudest = floorDB;
    auto consider = [&](const std::vector<Span>& spans) {
        for (const Span& span : spans) {
            if (span.start < to && from < span.end)
                loudest = std::max(loudest, span.levelDB);
        }
    };
    consider(heard_);
    consider(played_);
    return loudest;
}

std::vector<FarEndActivity::Span> FarEndActivity::spans(double after) const
{
    std::vector<Span> result;
    {
        std::lock_guard guard(lock_);
        for (const Span& span : heard_) {
            if (span.end > after)
                result.push_back(span);
        }
        for (const Span& span : played_) {
            if (span.end > after)
                result.push_back(span);
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    return result;
}

std::vector<FarEndActivity::Span> FarEndActivity::spans(const PcmBuffer& buffer, double start, double window)
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

    // Guards the conversion too: a NaN, negative or huge window never
    // reaches the integer cast.
    const double wanted = std::round(window * rate);
    std::size_t windowFrames = 1;
    if (wanted >= static_cast<double>(frames))
        windowFrames = frames;
    else if (wanted >= 2.0)
        windowFrames = static_cast<std::size_t>(wanted);

    std::vector<Span> spans;
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
        spans.push_back(Span{spanStart, spanStart + static_cast<double>(count) / rate, levelOf(sum, count)});
    }
    return spans;
}

} // namespace parlaro
