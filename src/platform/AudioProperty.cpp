#include "platform/AudioProperty.h"

#include <type_traits>

namespace parlaro {

std::string fourCharText(std::uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xff);
        if (c < 0x20 || c > 0x7e)
            return std::to_string(code);
        text.push_back(c);
    }
    return text;
}

std::string AudioPropertyAddress::description() const
{
    return "'" + fourCharText(selector) + "' " + fourCharText(static_cast<std::uint32_t>(scope)) + " "
        + std::to_string(element);
}

std::uint32_t AudioBufferLayout::totalChannels() const
{
    std::uint32_t total = 0;
    for (std::uint32_t channels : channelsPerBuffer)
        total += channels;
    return total;
}

AudioStreamDescription AudioStreamDescription::pcm(const AudioFormat& format)
{
    AudioStreamDescription description;
    const auto sampleBytes = static_cast<std::uint32_t>(format.bytesPerSample());
    description.sampleRate = format.sampleRate;
    description.formatFlags = flagPacked | (format.sampleType == SampleType::float32 ? flagFloat : flagSignedInteger)
        | (format.interleaved ? 0u : flagNonInterleaved);
    description.bytesPerFrame = format.interleaved ? sampleBytes * format.channelCount : sampleBytes;
    description.bytesPerPacket = description.bytesPerFrame;
    description.framesPerPacket = 1;
    description.channelsPerFrame = format.channelCount;
    description.bitsPerChannel = sampleBytes * 8;
    return description;
}

std::optional<AudioFormat> AudioStreamDescription::audioFormat() const
{
    if (formatID != linearPCM)
        return std::nullopt;
    AudioFormat format;
    format.sampleRate = sampleRate;
    format.channelCount = channelsPerFrame;
    format.interleaved = (formatFlags & flagNonInterleaved) == 0;
    if ((formatFlags & flagFloat) != 0 && bitsPerChannel == 32)
        format.sampleType = SampleType::float32;
    else if ((formatFlags & flagFloat) == 0 && bitsPerChannel == 16)
        format.sampleType = SampleType::int16;
    else
        return std::nullopt;
    if (!format.isValid())
        return std::nullopt;
    return format;
}

std::uint32_t audioByteSize(const AudioPropertyValue& value)
{
    return std::visit(
        [](const auto& v) -> std::uint32_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::uint32_t>)
                return 4;
            else if constexpr (std::is_same_v<T, double> || std::is_same_v<T, AudioString>)
                return 8;
            else if constexpr (std::is_same_v<T, std::vector<std::uint32_t>>)
                return static_cast<std::uint32_t>(4 * v.size());
            else if constexpr (std::is_same_v<T, std::vector<AudioValueRange>>)
                return static_cast<std::uint32_t>(16 * v.size());
            else if constexpr (std::is_same_v<T, AudioBufferLayout>)
                return static_cast<std::uint32_t>(4 + 16 * v.channelsPerBuffer.size());
            else if constexpr (std::is_same_v<T, AudioStreamDescription>)
                return 40;
            else
                return static_cast<std::uint32_t>(12 + 4 * v.streamIsOn.size());
        },
        value);
}

}  // namespace parlaro
