#pragma once

#include "platform/AudioProperty.h"
#include "platform/AudioTimeStamp.h"

#include <cstdint>
#include <span>

namespace parlaro {

// One buffer of a device cycle: `channels` interleaved float channels in
// `byteSize` bytes. The frame count is byteSize / (channels * 4).
struct AudioIOBuffer {
    std::uint32_t channels = 1;
    std::uint32_t byteSize = 0;
    float* data = nullptr;

    std::uint32_t frames() const { return channels == 0 ? 0 : byteSize / (channels * 4); }
};

using AudioIOProcId = std::uint32_t;

// A device's real-time I/O procedure: a plain function and its context, so the
// I/O thread never copies a closure. It runs once per device cycle with the
// captured input and the output to fill (both laid out as the device's stream
// configuration of that scope), and their time stamps. It must not allocate,
// lock the main actor, block or log. The status it returns is ignored.
using AudioIOProc = AudioStatus (*)(AudioObjectId device, const AudioTimeStamp& now,
                                    std::span<const AudioIOBuffer> input, const AudioTimeStamp& inputTime,
                                    std::span<AudioIOBuffer> output, const AudioTimeStamp& outputTime, void* context);

}  // namespace parlaro
