#pragma once

#include "platform/AudioFormat.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace parlaro {

// PCM audio in one of the AudioFormat layouts. All storage is allocated when
// the buffer is built, so filling and reading it is safe on audio threads.
//
// Channel c of a non-interleaved buffer is frameCapacity() contiguous samples;
// in an interleaved buffer the channels of a frame sit side by side. Either
// way channel c's sample for frame f is channelData(c)[f * stride()].
class PcmBuffer {
public:
    // Throws std::invalid_argument when the format is not valid.
    PcmBuffer(const AudioFormat& format, std::size_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    std::size_t frameCapacity() const { return frameCapacity_; }
    std::size_t frameLength() const { return frameLength_; }
    // Throws std::out_of_range beyond the capacity.
    void setFrameLength(std::size_t frames);
    // Distance in samples between consecutive frames of one channel.
    std::size_t stride() const { return format_.interleaved ? format_.channelCount : 1; }

    // Null when the buffer holds the other sample type or the channel does
    // not exist.
    float* floatChannelData(std::uint32_t channel);
    const float* floatChannelData(std::uint32_t channel) const;
    std::int16_t* int16ChannelData(std::uint32_t channel);
    const std::int16_t* int16ChannelData(std::uint32_t channel) const;

    // One sample as float in [-1, 1], int16 scaled by 1/32768. The frame may
    // lie anywhere below the capacity; out of range throws std::out_of_range.
    float floatSample(std::size_t frame, std::uint32_t channel) const;
    // Stores a float sample, scaled and clipped when the buffer holds int16.
    void setFloatSample(std::size_t frame, std::uint32_t channel, float value);

private:
    std::size_t offset(std::size_t frame, std::uint32_t channel) const;

    AudioFormat format_;
    std::size_t frameCapacity_;
    std::size_t frameLength_ = 0;
    std::vector<float> floats_;
    std::vector<std::int16_t> int16s_;
};

// int16 <-> float conversions shared by everything that moves samples.
float int16ToFloat(std::int16_t sample);
// Rounds to nearest, clips to [-32768, 32767]; NaN becomes silence.
std::int16_t floatToInt16(float sample);

// The largest absolute sample over all channels of the filled frames, int16
// scaled by 1/32768; 0 for an empty buffer.
float peakLevel(const PcmBuffer& buffer);

}  // namespace parlaro
