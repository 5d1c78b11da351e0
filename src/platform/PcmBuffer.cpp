#include "platform/PcmBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace parlaro {

PcmBuffer::PcmBuffer(const AudioFormat& format, std::size_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity)
{
    if (!format.isValid()) {
        throw std::invalid_argument("PcmBuffer: invalid audio format " + format.description());
    }
    const std::size_t samples = frameCapacity * format.channelCount;
    if (format.sampleType == SampleType::float32) {
        floats_.assign(samples, 0.0f);
    } else {
        int16s_.assign(samples, 0);
    }
}

void PcmBuffer::setFrameLength(std::size_t frames)
{
    if (frames > frameCapacity_) {
        throw std::out_of_range("PcmBuffer: frame length " + std::to_string(frames) + " exceeds capacity "
                                + std::to_string(frameCapacity_));
    }
    frameLength_ = frames;
}

std::size_t PcmBuffer::offset(std::size_t frame, std::uint32_t channel) const
{
    if (frame >= frameCapacity_ || channel >= format_.channelCount) {
        throw std::out_of_range("PcmBuffer: sample outside the buffer");
    }
    return format_.interleaved ? frame * format_.channelCount + channel : channel * frameCapacity_ + frame;
}

float* PcmBuffer::floatChannelData(std::uint32_t channel)
{
    return const_cast<float*>(std::as_const(*this).floatChannelData(channel));
}

const float* PcmBuffer::floatChannelData(std::uint32_t channel) const
{
    if (format_.sampleType != SampleType::float32 || channel >= format_.channelCount) {
        return nullptr;
    }
    return floats_.data() + (format_.interleaved ? channel : channel * frameCapacity_);
}

std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t channel)
{
    return const_cast<std::int16_t*>(std::as_const(*this).int16ChannelData(channel));
}

const std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t channel) const
{
    if (format_.sampleType != SampleType::int16 || channel >= format_.channelCount) {
        return nullptr;
    }
    return int16s_.data() + (format_.interleaved ? channel : channel * frameCapacity_);
}

float PcmBuffer::floatSample(std::size_t frame, std::uint32_t channel) const
{
    const std::size_t at = offset(frame, channel);
    return format_.sampleType == SampleType::float32 ? floats_[at] : int16ToFloat(int16s_[at]);
}

void PcmBuffer::setFloatSample(std::size_t frame, std::uint32_t channel, float value)
{
    const std::size_t at = offset(frame, channel);
    if (format_.sampleType == SampleType::float32) {
        floats_[at] = value;
    } else {
        int16s_[at] = floatToInt16(value);
    }
}

float int16ToFloat(std::int16_t sample)
{
    return static_cast<float>(sample) / 32768.0f;
}

std::int16_t floatToInt16(float sample)
{
    if (std::isnan(sample)) {
        return 0;
    }
    const float scaled = std::nearbyint(sample * 32768.0f);
    if (scaled >= 32767.0f) {
        return 32767;
    }
    if (scaled <= -32768.0f) {
        return -32768;
    }
    return static_cast<std::int16_t>(scaled);
}

float peakLevel(const PcmBuffer& buffer)
{
    const AudioFormat& format = buffer.format();
    const std::size_t stride = buffer.stride();
    float peak = 0.0f;
    for (std::uint32_t channel = 0; channel < format.channelCount; ++channel) {
        if (const float* samples = buffer.floatChannelData(channel)) {
            for (std::size_t frame = 0; frame < buffer.frameLength(); ++frame) {
                const float magnitude = std::fabs(samples[frame * stride]);
                if (magnitude > peak) {
                    peak = magnitude;
                }
            }
        } else if (const std::int16_t* pcm = buffer.int16ChannelData(channel)) {
            int largest = 0;
            for (std::size_t frame = 0; frame < buffer.frameLength(); ++frame) {
                const int magnitude = std::abs(static_cast<int>(pcm[frame * stride]));
                if (magnitude > largest) {
                    largest = magnitude;
                }
            }
            peak = std::max(peak, static_cast<float>(largest) / 32768.0f);
        }
    }
    return peak;
}

}  // namespace parlaro
