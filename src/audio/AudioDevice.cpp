#include "audio/AudioDevice.h"

#include <array>
#include <string_view>

namespace parlaro {

bool AudioDevice::isHeadphones() const
{
    if (outputChannels < 1)
        return false;
    if (outputSource == AudioDataSources::headphones)
        return true;
    if (outputSource == AudioDataSources::internalSpeaker)
        return false;
    // Every keyword is ASCII or without case, so lowering ASCII letters finds
    // the same matches a full Unicode lowering would.
    std::string lowered = name;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    constexpr std::array<std::string_view, 7> keywords{"耳机",    "headphone", "headset", "earphone",
                                                       "airpods", "earbuds",   "buds"};
    for (std::string_view keyword : keywords)
        if (lowered.find(keyword) != std::string::npos)
            return true;
    return false;
}

}  // namespace parlaro

std::size_t std::hash<parlaro::AudioDevice>::operator()(const parlaro::AudioDevice& device) const noexcept
{
    std::size_t seed = 0;
    auto combine = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2); };
    combine(std::hash<std::uint32_t>{}(device.id));
    combine(std::hash<std::string>{}(device.name));
    combine(std::hash<std::string>{}(device.uid));
    combine(std::hash<std::int64_t>{}(device.inputChannels));
    combine(std::hash<std::int64_t>{}(device.outputChannels));
    combine(std::hash<std::uint32_t>{}(device.transportType));
    combine(std::hash<std::uint32_t>{}(device.outputSource));
    return seed;
}
