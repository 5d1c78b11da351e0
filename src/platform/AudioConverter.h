#pragma once

#include "platform/AudioFormat.h"
#include "platform/PcmBuffer.h"
#include "runtime/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace parlaro {

// Converts a stream of PCM audio between two formats: sample rate (band
// limited sinc resampling), channel count and sample type. Input is pulled
// through an input block as the output needs it, so a converter can sit
// between a producer that delivers irregular chunks and a consumer that asks
// for fixed amounts.
//
// Channels: mono to N duplicates the one channel; N to mono averages; N to M
// otherwise keeps the first M channels, or repeats the input channels in
// order (c takes input channel c mod N) when M > N.
//
// The rates and channel counts of the buffers must match the formats given at
// construction; their sample type and layout may differ (any PcmBuffer is read
// and written by its own format).
//
// One thread at a time. A moved-from converter may only be destroyed or
// assigned to.
class AudioConverter {
public:
    enum class InputStatus { haveData, noDataNow, endOfStream };
    // haveData: the output buffer was filled to capacity, or these are the last
    //   frames of an ended stream.
    // inputRanDry: the input block had no data now; the output holds what
    //   could be converted so far (possibly nothing). Call again later.
    // endOfStream: the input ended and everything was delivered; no data was
    //   returned. Further calls return endOfStream until reset().
    // error: see the accompanying DomainError.
    enum class OutputStatus { haveData, inputRanDry, endOfStream, error };
    enum class Quality { best, medium, fastest };

    // Asked for input when the converter needs more. frameCount is how many
    // input frames would satisfy the current request; more or fewer may be
    // given. The block sets status and returns a buffer (may be null for
    // noDataNow / endOfStream). Frames returned together with endOfStream or
    // noDataNow are still used. The converter copies the frames before the
    // block runs again or convert() returns, so the buffer may be reused.
    using InputBlock = std::function<const PcmBuffer*(std::size_t frameCount, InputStatus& status)>;

    struct Result {
        OutputStatus status;
        std::optional<DomainError> error;
    };
    struct Converted {
        PcmBuffer buffer;
        OutputStatus status;
        std::optional<DomainError> error;
    };

    static constexpr const char* errorDomain = "AudioConverter";
    enum class ErrorCode : std::int64_t {
        invalidFormat = 1,
        unsupportedRatio = 2,
        resamplerFailed = 3,
        inputFormatMismatch = 4,
        outputFormatMismatch = 5,
    };

    // Throws DomainError (errorDomain) for invalid formats, a rate ratio
    // outside 1/256...256, or a resampler that cannot be created.
    AudioConverter(const AudioFormat& from, const AudioFormat& to, Quality quality = Quality::best);
    ~AudioConverter();
    AudioConverter(AudioConverter&&) noexcept;
    AudioConverter& operator=(AudioConverter&&) noexcept;

    const AudioFormat& inputFormat() const;
    const AudioFormat& outputFormat() const;

    // Fills output (from frame 0, up to its capacity) and sets its frame
    // length. After an error other than a mismatched output buffer the
    // converter keeps failing until reset().
    Result convert(PcmBuffer& output, const InputBlock& input);
    // The same into a new buffer of outputFormat().
    Converted convert(std::size_t frameCapacity, const InputBlock& input);

    // Forgets all buffered input and resampler history, ready for a new stream.
    void reset();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace parlaro
