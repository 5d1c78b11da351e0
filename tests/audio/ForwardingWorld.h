#pragma once

#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace parlaro::test {

inline constexpr AudioObjectId microphoneID = 40;
inline constexpr AudioObjectId slowMicrophoneID = 41;  // 44.1 kHz
inline constexpr AudioObjectId virtualDeviceID = 50;
inline constexpr AudioObjectId headphonesID = 60;

// A user's microphone, the virtual device and headphones on the sim's device
// clocks, with the runtime and platform every route needs.
struct ForwardingWorld {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;

    ForwardingWorld()
    {
        audio.addDevice(test::simDevice(microphoneID, "mic").named("Microphone").input({1}).bufferFrames(256));
        audio.addDevice(
            test::simDevice(slowMicrophoneID, "mic-44k").named("Microphone").input({1}).bufferFrames(256).rate(44100));
        audio.addDevice(test::simDevice(virtualDeviceID, "com.parlaro.virtualmic.injection")
                            .named("Virtual")
                            .input({2})
                            .output({2})
                            .transport(AudioTransports::virtualDevice)
                            .with(AudioSelectors::driverClockCorrection, 0.0));
        audio.addDevice(test::simDevice(headphonesID, "phones").named("Headphones").output({2}));
    }

    std::uint32_t number(AudioObjectId device, const AudioPropertyAddress& address)
    {
        std::uint32_t value = 0;
        audio.get(device, address, value);
        return value;
    }
    double real(AudioObjectId device, const AudioPropertyAddress& address)
    {
        double value = 0;
        audio.get(device, address, value);
        return value;
    }
    bool anyProcs() const { return !audio.ioProcs().empty(); }
};

// Input that names its own sample time: 0.25 + t / 1e6 on every channel, so
// each played sample tells which captured frame it came from.
inline float timeCode(double sampleTime)
{
    return static_cast<float>(0.25 + sampleTime * 1e-6);
}
inline std::int64_t decodeTime(float sample)
{
    return std::llround((static_cast<double>(sample) - 0.25) * 1e6);
}

// Zero crossings per second of the played samples, halved: the tone's pitch.
inline double pitch(const std::vector<float>& samples, std::size_t from, double rate)
{
    int crossings = 0;
    for (std::size_t i = from + 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) {
            ++crossings;
        }
    }
    return crossings / 2.0 / (static_cast<double>(samples.size() - from) / rate);
}

}  // namespace parlaro::test
