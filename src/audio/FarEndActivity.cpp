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

// Whether `next` keeps a list in time order: neither its start nor its end
// before those of the span it follows (a NaN time never does).
bool follows(const FarEndActivity::Span& previous, const FarEndActivity::Span& next)
{
    return next.start >= previous.start && next.end >= previous.end;
}

// The spans of a list in time order that may overlap (from, to): those from
// the first one ending after `from`, up to the first one starting at `to` or
// later. Found by halving, since the tap reports one window after the other.
std::pair<const FarEndActivity::Span*, const FarEndActivity::Span*>
orderedCandidates(const std::vector<FarEndActivity::Span>& spans, double from, double to)
{
    const auto first = std::partition_point(spans.begin(), spans.end(),
                                            [from](const FarEndActivity::Span& span) { return !(from < span.end); });
    const auto last =
        std::partition_point(first, spans.end(), [to](const FarEndActivity::Span& span) { return span.start < to; });
    return {spans.data() + (first - spans.begin()), spans.data() + (last - spans.begin())};
}

}  // namespace

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
    for (const Span& span : spans) {
        heardInOrder_ = heardInOrder_ && (heard_.empty() || follows(heard_.back(), span));
        heard_.push_back(span);
    }
    tapKnownThrough_ = std::max(tapKnownThrough_, through);
    prune(heard_, tapKnownThrough_ - horizon);
    // Pruning keeps the order; once nothing is left, any order is new.
    if (heard_.empty())
        heardInOrder_ = true;
}

void FarEndActivity::played(const std::vector<Span>& spans)
{
    if (spans.empty())
        return;
    const double earliest = std::min_element(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
                                return a.start < b.start;
                            })->start;
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
    auto consider = [&](const Span* begin, const Span* end) {
        for (const Span* span = begin; span != end; ++span) {
            if (span->start < to && from < span->end)
                loudest = std::max(loudest, span->levelDB);
        }
    };
    if (heardInOrder_) {
        const auto [begin, end] = orderedCandidates(heard_, from, to);
        consider(begin, end);
    } else {
        consider(heard_.data(), heard_.data() + heard_.size());
    }
    consider(played_.data(), played_.data() + played_.size());
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
        // In time order, the spans ending after `after` are a tail.
        auto from = heard_.begin();
        if (heardInOrder_)
            from = std::partition_point(heard_.begin(), heard_.end(),
                                        [after](const Span& span) { return !(span.end > after); });
        for (auto span = from; span != heard_.end(); ++span) {
            if (span->end > after)
                into.push_back(*span);
        }
        for (const Span& span : played_) {
            if (span.end > after)
                into.push_back(span);
        }
        known = tapRunning_ ? tapKnownThrough_ : std::numeric_limits<double>::infinity();
    }
    // Heard spans come in order and played ones are few: usually there is
    // nothing to sort.
    if (!std::is_sorted(into.begin(), into.end(), byStart))
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

}  // namespace parlaro
