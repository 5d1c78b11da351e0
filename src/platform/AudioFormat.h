#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlaro {

enum class SampleType { float32, int16 };

// The shape of PCM audio: rate, channels, sample representation and layout.
// Interleaved audio keeps all channels of a frame together in one array;
// non-interleaved audio keeps one array per channel.
struct AudioFormat {
    double sampleRate = 48000;
    std::uint32_t channelCount = 1;
    SampleType sampleType = SampleType::float32;
    bool interleaved = false;

    std::size_t bytesPerSample() const;
    // Memory one frame occupies across all channels, whatever the layout.
    std::size_t bytesPerFrame() const;
    // A positive, finite rate and at least one channel.
    bool isValid() const;
    // For error texts: "48000 Hz, 2 ch, float32, interleaved".
    std::string description() const;

    bool operator==(const AudioFormat&) const = default;
};

}  // namespace parlaro
