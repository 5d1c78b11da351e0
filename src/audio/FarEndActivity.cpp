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

bool byStart(const FarEndActivity::Span& a, const FarEndActivity::Span& b)
{
    return a.start < b.start;
}

} // namespace

double FarEndActivity::levelDB(double sumOfSquares, std::size_t count)
{
    const double rms = std::sqrt(sumOfSquares / static_cast<double>(count));
    if (!(rms > 1e-9))
        return floorDB;
    return std::max(floorDB, 20.0 * std::log10(rms));
}

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
    spans(after, result);
    return result;
}

double FarEndActivity::spans(double after, std::vector<Span>& into) const
{
    into.clear();
    double known;
    {
        std::lock_guard guard(lock_);
        for (const Span& span : heard_) {
            if (span.end > after)
                into.push_back(span);
        }
        for (const Span& span : played_) {
            if (span.end > after)
                into.push_back(span);
        }
        known = tapRunning_ ? tapKnownThrough_ : std::numeric_limits<double>::infinity();
    }
    std::stable_sort(into.begin(), into.end(), byStart);
    return known;
}

double FarEndActivity::knownThrough() const
{
    std::lock_guard guard(lock_);
    return tapRunning_ ? tapKnownThrough_ : std::numeric_limits<double>::infinity();
}

std::vector<FarEndActivity::Span> FarEndActivity::spans(const PcmBuffer& buffer, double start, double window)
{
    return levelSpans(buffer, start, window);
}

} // namespace parlaro
