#include "audio/CaptureAnchor.h"

namespace parlaro {

static_assert(std::atomic<double>::is_always_lock_free, "the anchor must be lock-free");
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the anchor must be lock-free");

void CaptureAnchor::publish(double sampleTime, std::uint64_t hostTime)
{
    const std::uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    // Keeps the value stores below from becoming visible before the odd count.
    std::atomic_thread_fence(std::memory_order_release);
    sample_.store(sampleTime, std::memory_order_relaxed);
    host_.store(hostTime, std::memory_order_relaxed);
    sequence_.store(sequence + 2, std::memory_order_release);
}

std::optional<CaptureAnchor::Snapshot> CaptureAnchor::snapshot() const
{
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        if (before == 0 || (before & 1U) != 0) {
            continue;
        }
        const double sample = sample_.load(std::memory_order_relaxed);
        const std::uint64_t host = host_.load(std::memory_order_relaxed);
        // Keeps the value loads above from moving past the second count load.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) {
            return Snapshot{sample, host};
        }
    }
    return std::nullopt;
}

std::optional<double> CaptureAnchor::inputSampleTime(std::uint64_t hostTime, double hostTicksPerInputFrame) const
{
    const auto anchor = snapshot();
    if (!anchor) {
        return std::nullopt;
    }
    const auto delta = static_cast<std::int64_t>(hostTime - anchor->hostTime);
    return anchor->sampleTime + static_cast<double>(delta) / hostTicksPerInputFrame;
}

}  // namespace parlaro
