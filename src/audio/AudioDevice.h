#pragma once

#include "platform/AudioProperty.h"

#include <cstdint>
#include <functional>
#include <string>

namespace parlaro {

// One audio device as the device list shows it. Lists and pickers identify a
// device by `id`; equality compares every field.
struct AudioDevice {
    AudioObjectId id = 0;
    std::string name;
    std::string uid;
    std::int64_t inputChannels = 0;
    std::int64_t outputChannels = 0;
    std::uint32_t transportType = 0;
    std::uint32_t outputSource = 0;

    // Whether sound played on the device stays in the user's ears: its data
    // source says so, or else its name does.
    bool isHeadphones() const;

    bool operator==(const AudioDevice&) const = default;
};

}  // namespace parlaro

template <>
struct std::hash<parlaro::AudioDevice> {
    std::size_t operator()(const parlaro::AudioDevice& device) const noexcept;
};
