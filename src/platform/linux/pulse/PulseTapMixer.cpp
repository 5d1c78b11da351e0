#include "platform/linux/pulse/PulseTapMixer.h"

#include <algorithm>
#include <cmath>

namespace parlaro::sys {

namespace {

double periodMicros(std::uint32_t frames)
{
    return static_cast<double>(frames) * 1e6 / PulseTapMixer::rate;
}

}  // namespace

PulseTapMixer::PulseTapMixer(std::uint32_t frames)
    : frames_(std::max<std::uint32_t>(frames, 1)), mix_(static_cast<std::size_t>(frames_) * channels, 0.0f)
{
}

void PulseTapMixer::start(std::uint64_t nowMicros) noexcept
{
    origin_ = nowMicros;
    ticks_ = 0;
    holdSince_ = 0;
    startMicros_ = 0;
    sample_ = 0;
    for (auto& member : members_) {
        member->read = member->written;
        member->primed = false;
    }
}

PulseTapMixer::Member& PulseTapMixer::join()
{
    auto member = std::make_unique<Member>();
    member->ring.assign(static_cast<std::size_t>(static_cast<double>(backlogMicros) * 1e-6 * rate) * channels, 0.0f);
    members_.push_back(std::move(member));
    return *members_.back();
}

void PulseTapMixer::leave(const Member& member)
{
    std::erase_if(members_, [&](const std::unique_ptr<Member>& known) { return known.get() == &member; });
}

void PulseTapMixer::write(Member& member, const float* samples, std::size_t floats) noexcept
{
    const std::size_t size = member.ring.size();
    for (std::size_t i = 0; i < floats; ++i)
        member.ring[(member.written + i) % size] = samples ? samples[i] : 0.0f;
    member.written += floats;
    if (member.written - member.read > size) {
        const std::size_t lost = member.written - member.read - size;
        member.read += lost;
        dropped_.fetch_add(lost / channels, std::memory_order_relaxed);
    }
}

std::uint64_t PulseTapMixer::due(std::uint64_t cycle) const noexcept
{
    return origin_ + static_cast<std::uint64_t>(std::ceil(static_cast<double>(cycle + 1) * periodMicros(frames_)));
}

bool PulseTapMixer::waitingForSound() const noexcept
{
    return std::any_of(members_.begin(), members_.end(),
                       [&](const auto& member) { return member->primed && member->available() < mix_.size(); });
}

bool PulseTapMixer::playing() const noexcept
{
    return std::any_of(members_.begin(), members_.end(), [](const auto& member) { return member->primed; });
}

bool PulseTapMixer::backlogged() const noexcept
{
    return playing() && std::all_of(members_.begin(), members_.end(), [&](const auto& member) {
               return !member->primed || member->available() > highCycles * mix_.size();
           });
}

bool PulseTapMixer::pull(std::uint64_t nowMicros) noexcept
{
    const double period = periodMicros(frames_);
    std::uint64_t start = 0;
    if (nowMicros < due(ticks_)) {
        if (!backlogged())
            return false;
        // Sound beyond what the clock has asked for yet: it follows the
        // cycle before, and never lies in the future.
        const auto latest = nowMicros - std::min(nowMicros, static_cast<std::uint64_t>(std::llround(period)));
        start = std::min(startMicros_ + static_cast<std::uint64_t>(std::llround(period)), latest);
    } else {
        if (waitingForSound()) {
            if (holdSince_ == 0)
                holdSince_ = nowMicros;
            if (nowMicros < holdSince_ + static_cast<std::uint64_t>(holdCycles * period))
                return false;
        } else if (nowMicros > due(ticks_) + backlogMicros && !playing()) {
            // Nothing plays and the clock is further behind than the bound:
            // the silence it owes beyond the bound is skipped, not sent.
            const double behind = static_cast<double>(nowMicros - backlogMicros - due(ticks_));
            const auto skip = static_cast<std::uint64_t>(behind / period) + 1;
            ticks_ += skip;
            sample_ += static_cast<double>(skip * frames_);
            skipped_.fetch_add(skip * frames_, std::memory_order_relaxed);
        }
        start = origin_ + static_cast<std::uint64_t>(std::ceil(static_cast<double>(ticks_) * period));
        ++ticks_;
    }
    holdSince_ = 0;
    mixCycle();
    startMicros_ = std::max(start, startMicros_);
    sampleTime_ = sample_;
    sample_ += frames_;
    return true;
}

std::uint64_t PulseTapMixer::wakeMicros() const noexcept
{
    if (holdSince_ != 0)
        return holdSince_ + static_cast<std::uint64_t>(holdCycles * periodMicros(frames_));
    return due(ticks_);
}

void PulseTapMixer::mixCycle() noexcept
{
    std::fill(mix_.begin(), mix_.end(), 0.0f);
    const std::size_t wanted = mix_.size();
    for (const auto& member : members_) {
        const std::size_t size = member->ring.size();
        if (!member->primed) {
            if (member->available() < primeCycles * wanted)
                continue;
            member->primed = true;
        }
        const std::size_t n = std::min(member->available(), wanted);
        for (std::size_t i = 0; i < n; ++i)
            mix_[i] += member->ring[(member->read + i) % size];
        member->read += n;
        if (n < wanted)
            member->primed = false;
    }
}

}  // namespace parlaro::sys
