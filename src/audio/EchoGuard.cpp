#include "audio/EchoGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace parlaro {

namespace {

// How long a buffer may wait for a far end that does not report.
constexpr double longestWait = 1.0;
constexpr double windowSeconds = 0.01;
// Far beyond any sample rate's window; only keeps the cast defined.
constexpr double maxWindowFrames = 1 << 24;

double duration(const PcmBuffer& buffer)
{
    return static_cast<double>(buffer.frameLength()) / buffer.format().sampleRate;
}

// A buffer of the same format holding exactly the filled frames.
std::shared_ptr<PcmBuffer> copyOf(const PcmBuffer& source)
{
    const std::size_t frames = source.frameLength();
    auto copy = std::make_shared<PcmBuffer>(source.format(), frames);
    copy->setFrameLength(frames);
    const AudioFormat& format = source.format();
    const std::uint32_t arrays = format.interleaved ? 1 : format.channelCount;
    const std::size_t samples = format.interleaved ? frames * format.channelCount : frames;
    for (std::uint32_t channel = 0; channel < arrays; ++channel) {
        if (format.sampleType == SampleType::float32)
            std::memcpy(copy->floatChannelData(channel), source.floatChannelData(channel), samples * sizeof(float));
        else
            std::memcpy(copy->int16ChannelData(channel), source.int16ChannelData(channel),
                        samples * sizeof(std::int16_t));
    }
    return copy;
}

}  // namespace

EchoGuard::EchoGuard(std::shared_ptr<FarEndActivity> farEnd, EchoGate::Config config)
    : farEnd_(std::move(farEnd)), gate_(std::move(config))
{
}

const std::shared_ptr<EchoGuard>& EchoGuard::shared()
{
    static const std::shared_ptr<EchoGuard> guard = std::make_shared<EchoGuard>(std::make_shared<FarEndActivity>());
    return guard;
}

EchoGuard::Buffers EchoGuard::push(const PcmBuffer& buffer, std::optional<double> start, double now)
{
    if (buffer.frameLength() == 0)
        return {};
    std::shared_ptr<PcmBuffer> copy;
    try {
        copy = copyOf(buffer);
    } catch (const std::exception&) {
        return {};
    }
    const double begins = start ? *start : now - duration(*copy);
    std::lock_guard guard(lock_);
    waiting_.push_back(Waiting{std::move(copy), begins});
    return drain(false, now);
}

EchoGuard::Buffers EchoGuard::flush()
{
    std::lock_guard guard(lock_);
    Buffers released = drain(true, 0.0);
    // The microphone stopped: its last window is as long as it got.
    if (auto last = windows_.close())
        learnFrom(*last);
    return released;
}

void EchoGuard::reset()
{
    std::lock_guard guard(lock_);
    EchoGate fresh(std::move(gate_.config));
    gate_ = std::move(fresh);
}

void EchoGuard::discardWaiting()
{
    std::lock_guard guard(lock_);
    waiting_.clear();
}

EchoGate::Route EchoGuard::route() const
{
    std::lock_guard guard(lock_);
    return gate_.route;
}

std::optional<EchoGate::Fit> EchoGuard::lastFit() const
{
    std::lock_guard guard(lock_);
    return gate_.lastFit;
}

std::size_t EchoGuard::waitingCount() const
{
    std::lock_guard guard(lock_);
    return waiting_.size();
}

EchoGuard::Buffers EchoGuard::drain(bool force, double now)
{
    Buffers released;
    while (!waiting_.empty()) {
        Waiting& oldest = waiting_.front();
        const double end = oldest.start + duration(*oldest.buffer);
        if (!force) {
            // Taken under the guard's lock: guard first, then the record.
            const double known = farEnd_->knownThrough();
            if (known < end && now - end < longestWait)
                break;
        }
        Waiting entry = std::move(oldest);
        waiting_.pop_front();
        observe(*entry.buffer, entry.start);
        released.push_back(std::move(entry.buffer));
    }
    return released;
}

void EchoGuard::observe(PcmBuffer& buffer, double start)
{
    const std::size_t frames = buffer.frameLength();
    float* first = buffer.floatChannelData(0);
    if (!first || frames == 0)
        return;
    const AudioFormat& format = buffer.format();
    const double rate = format.sampleRate;
    const std::size_t stride = buffer.stride();

    // Also keeps a NaN or huge window away from the integer cast.
    const double wanted = std::round(rate * windowSeconds);
    std::size_t window = 1;
    if (wanted >= maxWindowFrames)
        window = static_cast<std::size_t>(maxWindowFrames);
    else if (wanted > 1.0)
        window = static_cast<std::size_t>(wanted);

    auto learn = [this](const MicWindows::Window& finished) { learnFrom(finished); };
    auto decide = [&](std::size_t offset, std::size_t count, double windowStart, double windowEnd) {
        if (!gate_.isEcho(windowStart, windowEnd, *farEnd_))
            return;
        if (format.interleaved) {
            std::fill_n(first + offset * stride, count * stride, 0.0f);
        } else {
            for (std::uint32_t channel = 0; channel < format.channelCount; ++channel)
                std::fill_n(buffer.floatChannelData(channel) + offset, count, 0.0f);
        }
    };
    windows_.cut(first, frames, stride, rate, window, start, learn, decide);
}

void EchoGuard::learnFrom(const MicWindows::Window& window)
{
    gate_.addEvidence(window.start, window.end, window.micDB, *farEnd_);
    if (gate_.evidenceGrew && window.end - gate_.lastRefit >= gate_.config.refitEverySeconds) {
        gate_.lastRefit = window.end;
        gate_.evidenceGrew = false;
        gate_.refit(window.end);
    }
}

}  // namespace parlaro
