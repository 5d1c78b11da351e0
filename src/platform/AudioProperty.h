#pragma once

#include "platform/AudioFormat.h"
#include "platform/AudioSelectors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace parlaro {

inline constexpr AudioObjectId audioUnknownObject = 0;
// The object that holds the device list, the defaults and the process list.
inline constexpr AudioObjectId audioSystemObject = 1;

enum class AudioScope : std::uint32_t {
    global = AudioScopeCodes::global,
    input = AudioScopeCodes::input,
    output = AudioScopeCodes::output,
};

struct AudioPropertyAddress {
    AudioSelector selector = 0;
    AudioScope scope = AudioScope::global;
    std::uint32_t element = 0;

    bool operator==(const AudioPropertyAddress&) const = default;
    auto operator<=>(const AudioPropertyAddress&) const = default;
    // "'nsrt' glob 0", for test failure messages.
    std::string description() const;
};

// A string property. The server hands out string references that may be
// null; nullopt is such a null reference (a successful read of nothing).
using AudioString = std::optional<std::string>;

// One entry of an available-rates list.
struct AudioValueRange {
    double minimum = 0;
    double maximum = 0;
    bool operator==(const AudioValueRange&) const = default;
};

// A stream configuration: the channel count of each buffer a device delivers
// or takes in one scope.
struct AudioBufferLayout {
    std::vector<std::uint32_t> channelsPerBuffer;

    std::uint32_t totalChannels() const;
    bool operator==(const AudioBufferLayout&) const = default;
};

// Linear PCM as the server describes a stream.
struct AudioStreamDescription {
    static constexpr std::uint32_t linearPCM = AudioFormatIDs::linearPCM;
    static constexpr std::uint32_t flagFloat = 1u << 0;
    static constexpr std::uint32_t flagSignedInteger = 1u << 2;
    static constexpr std::uint32_t flagPacked = 1u << 3;
    static constexpr std::uint32_t flagNonInterleaved = 1u << 5;

    double sampleRate = 0;
    std::uint32_t formatID = linearPCM;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0;
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;

    // Packed float or 16-bit integer PCM; interleaved unless asked otherwise.
    static AudioStreamDescription pcm(const AudioFormat& format);
    // The buffer format this description stands for; nullopt when it is not
    // float or 16-bit linear PCM with a rate and channels.
    std::optional<AudioFormat> audioFormat() const;

    bool operator==(const AudioStreamDescription&) const = default;
};

// Which streams of a device an I/O procedure uses; `procedure` names the
// procedure as the qualifier of a read and inside a write.
struct AudioStreamUsage {
    std::uint32_t procedure = 0;
    std::vector<std::uint32_t> streamIsOn;
    bool operator==(const AudioStreamUsage&) const = default;
};

// The value of one property. Each kind has the byte size the server reports
// for it, so size calls keep their meaning.
using AudioPropertyValue =
    std::variant<std::uint32_t, double, AudioString, std::vector<std::uint32_t>, std::vector<AudioValueRange>,
                 AudioBufferLayout, AudioStreamDescription, AudioStreamUsage>;

template <class T>
concept AudioPropertyType =
    std::same_as<T, std::uint32_t> || std::same_as<T, double> || std::same_as<T, AudioString> || std::
        same_as<T, std::vector<std::uint32_t>> || std::same_as<T, std::vector<AudioValueRange>> || std::same_as<
            T, AudioBufferLayout> || std::same_as<T, AudioStreamDescription> || std::same_as<T, AudioStreamUsage>;

// 4 for a number, 8 for a float or a string reference, 4 per id, 16 per
// range, 4 + 16 per buffer, 40 for a stream description, 12 + 4 per stream.
std::uint32_t audioByteSize(const AudioPropertyValue& value);

}  // namespace parlaro
