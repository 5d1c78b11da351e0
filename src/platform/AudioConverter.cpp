#include "platform/AudioConverter.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace parlaro {
namespace {

constexpr std::size_t chunkFrames = 4096;

DomainError converterError(AudioConverter::ErrorCode code, std::string text)
{
    return DomainError(AudioConverter::errorDomain, static_cast<std::int64_t>(code), std::move(text));
}

int converterType(AudioConverter::Quality quality)
{
    switch (quality) {
    case AudioConverter::Quality::medium:
        return SRC_SINC_MEDIUM_QUALITY;
    case AudioConverter::Quality::fastest:
        return SRC_SINC_FASTEST;
    case AudioConverter::Quality::best:
        break;
    }
    return SRC_SINC_BEST_QUALITY;
}

// Input frames the sinc filter keeps beyond the current position before it
// emits an output frame, rounded up from the filter lengths of each quality.
// The callback interface takes a callback that returns no frames as the end
// of the stream, so the converter must never ask for output its staged input
// cannot cover; this bound is what makes that promise safe.
double filterReach(AudioConverter::Quality quality)
{
    switch (quality) {
    case AudioConverter::Quality::medium:
        return 48;
    case AudioConverter::Quality::fastest:
        return 22;
    case AudioConverter::Quality::best:
        break;
    }
    return 146;
}

std::uint64_t saturatingSubtract(std::uint64_t a, std::uint64_t b)
{
    return a > b ? a - b : 0;
}

}  // namespace

struct AudioConverter::Impl {
    AudioFormat from;
    AudioFormat to;
    std::uint32_t workChannels;
    bool resampling;
    double ratio;
    std::uint64_t reach = 0;
    SRC_STATE* state = nullptr;

    // Input already mapped to workChannels, interleaved float, not yet given
    // to the resampler.
    std::vector<float> staged;
    std::size_t stagedHead = 0;
    std::size_t stagedCount = 0;
    // What the resampler reads from; it keeps a pointer into this until it has
    // consumed all of it, so it only changes inside the callback.
    std::vector<float> handoff;
    std::vector<float> scratch;

    std::uint64_t handedFrames = 0;
    std::uint64_t producedFrames = 0;
    std::uint64_t requestTarget = 0;
    bool inputEnded = false;
    bool drained = false;
    bool finished = false;
    bool starved = false;
    std::optional<DomainError> failure;

    Impl(const AudioFormat& fromFormat, const AudioFormat& toFormat, Quality quality)
        : from(fromFormat), to(toFormat), workChannels(std::min(fromFormat.channelCount, toFormat.channelCount)),
          resampling(fromFormat.sampleRate != toFormat.sampleRate), ratio(toFormat.sampleRate / fromFormat.sampleRate)
    {
        staged.resize(4 * chunkFrames * workChannels);
        scratch.resize(chunkFrames * workChannels);
        if (!resampling) {
            return;
        }
        if (!src_is_valid_ratio(ratio)) {
            throw converterError(ErrorCode::unsupportedRatio,
                                 "Cannot convert " + from.description() + " to " + to.description()
                                     + ": rate ratio outside 1/256...256");
        }
        reach = static_cast<std::uint64_t>(std::ceil(filterReach(quality) / std::min(ratio, 1.0)));
        handoff.resize(chunkFrames * workChannels);
        int error = 0;
        state = src_callback_new(&Impl::supply, converterType(quality), static_cast<int>(workChannels), &error, this);
        if (state == nullptr) {
            throw converterError(ErrorCode::resamplerFailed,
                                 std::string("Cannot create the resampler: ") + src_strerror(error));
        }
    }

    ~Impl()
    {
        if (state != nullptr) {
            src_delete(state);
        }
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Input frames the resampler needs to have been given to emit `outputs`
    // frames in total (an upper bound).
    std::uint64_t inputNeededFor(std::uint64_t outputs) const
    {
        if (outputs == 0) {
            return 0;
        }
        return static_cast<std::uint64_t>(std::ceil(static_cast<double>(outputs - 1) / ratio)) + reach + 2;
    }

    // Output frames in total that `inputs` given frames certainly yield.
    std::uint64_t outputsCoveredBy(std::uint64_t inputs) const
    {
        if (inputs <= reach + 2) {
            return 0;
        }
        return static_cast<std::uint64_t>(std::floor(static_cast<double>(inputs - reach - 2) * ratio));
    }

    static long supply(void* context, float** data)
    {
        auto& self = *static_cast<Impl*>(context);
        if (self.stagedCount == 0) {
            // Returning nothing ends the stream for the resampler. Outside a
            // real end that would cut the audio short, so it is a failure.
            self.starved = !self.inputEnded;
            return 0;
        }
        std::size_t give = self.stagedCount;
        if (!self.inputEnded) {
            // Hand over only what the current request needs: the resampler
            // asks again at the start of every read, and what stays staged
            // answers that.
            const std::uint64_t need = saturatingSubtract(self.inputNeededFor(self.requestTarget), self.handedFrames);
            give = static_cast<std::size_t>(std::clamp<std::uint64_t>(need, 1, self.stagedCount));
        }
        give = std::min(give, chunkFrames);
        const std::size_t samples = give * self.workChannels;
        std::memcpy(self.handoff.data(), self.staged.data() + self.stagedHead * self.workChannels,
                    samples * sizeof(float));
        self.stagedHead += give;
        self.stagedCount -= give;
        self.handedFrames += give;
        *data = self.handoff.data();
        return static_cast<long>(give);
    }

    void fail(ErrorCode code, std::string text)
    {
        if (!failure) {
            failure = converterError(code, std::move(text));
        }
    }

    void makeRoom(std::size_t frames)
    {
        const std::size_t needed = (stagedCount + frames) * workChannels;
        if ((stagedHead + stagedCount + frames) * workChannels > staged.size()) {
            std::memmove(staged.data(), staged.data() + stagedHead * workChannels,
                         stagedCount * workChannels * sizeof(float));
            stagedHead = 0;
        }
        if (needed > staged.size()) {
            staged.resize(std::max(needed, staged.size() * 2));
        }
    }

    void append(const PcmBuffer& buffer)
    {
        const std::size_t frames = buffer.frameLength();
        makeRoom(frames);
        const std::uint32_t inChannels = from.channelCount;
        const std::size_t stride = buffer.stride();
        const bool isFloat = buffer.format().sampleType == SampleType::float32;
        auto sample = [&](std::uint32_t channel, std::size_t frame) {
            return isFloat ? buffer.floatChannelData(channel)[frame * stride]
                           : int16ToFloat(buffer.int16ChannelData(channel)[frame * stride]);
        };
        float* out = staged.data() + (stagedHead + stagedCount) * workChannels;
        for (std::size_t frame = 0; frame < frames; ++frame) {
            if (workChannels == 1 && inChannels > 1) {
                float sum = 0.0f;
                for (std::uint32_t channel = 0; channel < inChannels; ++channel) {
                    sum += sample(channel, frame);
                }
                *out++ = sum / static_cast<float>(inChannels);
            } else {
                for (std::uint32_t channel = 0; channel < workChannels; ++channel) {
                    *out++ = sample(channel, frame);
                }
            }
        }
        stagedCount += frames;
    }

    // Pulls input until `needed` frames are staged. Returns true when the
    // input block had nothing more for now.
    bool stage(const InputBlock& input, std::size_t needed)
    {
        while (!inputEnded && stagedCount < needed) {
            InputStatus status = InputStatus::haveData;
            const PcmBuffer* buffer = input ? input(needed - stagedCount, status) : nullptr;
            const bool hasFrames = buffer != nullptr && buffer->frameLength() > 0;
            if (hasFrames) {
                const AudioFormat& format = buffer->format();
                if (format.sampleRate != from.sampleRate || format.channelCount != from.channelCount) {
                    fail(ErrorCode::inputFormatMismatch,
                         "Input audio is " + format.description() + ", expected " + from.description());
                    return true;
                }
                append(*buffer);
            }
            if (status == InputStatus::endOfStream) {
                inputEnded = true;
                return false;
            }
            if (status == InputStatus::noDataNow || !hasFrames) {
                return true;
            }
        }
        return false;
    }

    void deliver(const float* frames, std::size_t count, PcmBuffer& output, std::size_t at) const
    {
        const std::size_t stride = output.stride();
        const bool isFloat = output.format().sampleType == SampleType::float32;
        for (std::uint32_t channel = 0; channel < to.channelCount; ++channel) {
            const std::uint32_t source = channel % workChannels;
            if (isFloat) {
                float* out = output.floatChannelData(channel) + at * stride;
                for (std::size_t frame = 0; frame < count; ++frame) {
                    out[frame * stride] = frames[frame * workChannels + source];
                }
            } else {
                std::int16_t* out = output.int16ChannelData(channel) + at * stride;
                for (std::size_t frame = 0; frame < count; ++frame) {
                    out[frame * stride] = floatToInt16(frames[frame * workChannels + source]);
                }
            }
        }
    }

    std::size_t emitDirect(PcmBuffer& output, std::size_t at, std::size_t want)
    {
        const std::size_t count = std::min(want, stagedCount);
        if (count == 0) {
            drained = inputEnded;
            return 0;
        }
        deliver(staged.data() + stagedHead * workChannels, count, output, at);
        stagedHead += count;
        stagedCount -= count;
        producedFrames += count;
        return count;
    }

    std::size_t emitResampled(PcmBuffer& output, std::size_t at, std::size_t want)
    {
        if (drained) {
            return 0;
        }
        std::uint64_t count = want;
        if (!inputEnded) {
            // The resampler's first step of every read is to ask for input,
            // so something must be staged even when its history suffices.
            if (stagedCount == 0) {
                return 0;
            }
            const std::uint64_t covered = outputsCoveredBy(handedFrames + stagedCount);
            count = std::min<std::uint64_t>(want, saturatingSubtract(covered, producedFrames));
            if (count == 0) {
                return 0;
            }
        }
        count = std::min<std::uint64_t>(count, chunkFrames);
        requestTarget = producedFrames + count;
        const long got = src_callback_read(state, ratio, static_cast<long>(count), scratch.data());
        if (starved) {
            fail(ErrorCode::resamplerFailed, "The resampler ran out of input in the middle of a stream");
            return 0;
        }
        if (got < 0 || src_error(state) != 0) {
            fail(ErrorCode::resamplerFailed, std::string("Resampling failed: ") + src_strerror(src_error(state)));
            return 0;
        }
        const auto produced = static_cast<std::size_t>(got);
        if (inputEnded && produced < count) {
            drained = true;
        }
        deliver(scratch.data(), produced, output, at);
        producedFrames += produced;
        return produced;
    }

    void reset()
    {
        if (state != nullptr) {
            src_reset(state);
        }
        stagedHead = stagedCount = 0;
        handedFrames = producedFrames = requestTarget = 0;
        inputEnded = drained = finished = starved = false;
        failure.reset();
    }
};

AudioConverter::AudioConverter(const AudioFormat& from, const AudioFormat& to, Quality quality)
{
    if (!from.isValid() || !to.isValid()) {
        throw converterError(ErrorCode::invalidFormat,
                             "Cannot convert " + from.description() + " to " + to.description());
    }
    impl_ = std::make_unique<Impl>(from, to, quality);
}

AudioConverter::~AudioConverter() = default;
AudioConverter::AudioConverter(AudioConverter&&) noexcept = default;
AudioConverter& AudioConverter::operator=(AudioConverter&&) noexcept = default;

const AudioFormat& AudioConverter::inputFormat() const
{
    return impl_->from;
}

const AudioFormat& AudioConverter::outputFormat() const
{
    return impl_->to;
}

AudioConverter::Result AudioConverter::convert(PcmBuffer& output, const InputBlock& input)
{
    Impl& self = *impl_;
    output.setFrameLength(0);
    if (self.failure) {
        return {OutputStatus::error, self.failure};
    }
    const AudioFormat& format = output.format();
    if (format.sampleRate != self.to.sampleRate || format.channelCount != self.to.channelCount) {
        return {OutputStatus::error,
                converterError(ErrorCode::outputFormatMismatch,
                               "Output buffer is " + format.description() + ", expected " + self.to.description())};
    }
    if (self.finished) {
        return {OutputStatus::endOfStream, std::nullopt};
    }

    const std::size_t capacity = output.frameCapacity();
    std::size_t produced = 0;
    bool dry = false;
    while (produced < capacity) {
        const std::size_t want = capacity - produced;
        if (!self.inputEnded && !dry) {
            const std::uint64_t needed = self.resampling
                ? saturatingSubtract(self.inputNeededFor(self.producedFrames + want), self.handedFrames)
                : want;
            dry = self.stage(input, static_cast<std::size_t>(needed));
            if (self.failure) {
                break;
            }
        }
        const std::size_t got =
            self.resampling ? self.emitResampled(output, produced, want) : self.emitDirect(output, produced, want);
        if (self.failure || got == 0) {
            break;
        }
        produced += got;
    }
    output.setFrameLength(produced);

    if (self.failure) {
        return {OutputStatus::error, self.failure};
    }
    if (produced == capacity && capacity > 0) {
        return {OutputStatus::haveData, std::nullopt};
    }
    if (self.drained) {
        if (produced > 0) {
            return {OutputStatus::haveData, std::nullopt};
        }
        self.finished = true;
        return {OutputStatus::endOfStream, std::nullopt};
    }
    return {OutputStatus::inputRanDry, std::nullopt};
}

AudioConverter::Converted AudioConverter::convert(std::size_t frameCapacity, const InputBlock& input)
{
    PcmBuffer buffer(impl_->to, frameCapacity);
    Result result = convert(buffer, input);
    return {std::move(buffer), result.status, std::move(result.error)};
}

void AudioConverter::reset()
{
    impl_->reset();
}

}  // namespace parlaro
