#pragma once

#include "platform/sim/SimAudioSystem.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro::test {

// A sim device in one expression:
//   sim.addDevice(test::simDevice(40, "mic").named("USB Mic").input({1}).rate(44100));
// Whatever is not said keeps SimDevice's own default.
class SimDeviceBuilder {
public:
    SimDeviceBuilder(AudioObjectId id, std::string uid)
    {
        device_.id = id;
        device_.uid = std::move(uid);
    }

    SimDeviceBuilder& named(std::optional<std::string> name)
    {
        device_.name = std::move(name);
        return *this;
    }
    // Channels of each buffer, per scope.
    SimDeviceBuilder& input(std::vector<std::uint32_t> buffers)
    {
        device_.inputBuffers = std::move(buffers);
        return *this;
    }
    SimDeviceBuilder& output(std::vector<std::uint32_t> buffers)
    {
        device_.outputBuffers = std::move(buffers);
        return *this;
    }
    SimDeviceBuilder& transport(std::uint32_t type)
    {
        device_.transportType = type;
        return *this;
    }
    SimDeviceBuilder& source(std::uint32_t outputSource)
    {
        device_.outputSource = outputSource;
        return *this;
    }
    SimDeviceBuilder& rate(double nominal)
    {
        device_.nominalRate = nominal;
        return *this;
    }
    SimDeviceBuilder& rates(std::vector<AudioValueRange> available)
    {
        device_.availableRates = std::move(available);
        return *this;
    }
    SimDeviceBuilder& bufferFrames(std::uint32_t frames)
    {
        device_.bufferFrames = frames;
        return *this;
    }
    SimDeviceBuilder& safetyOffsets(std::uint32_t input, std::uint32_t output)
    {
        device_.inputSafetyOffset = input;
        device_.outputSafetyOffset = output;
        return *this;
    }
    SimDeviceBuilder& ppm(double drift)
    {
        device_.ppm = drift;
        return *this;
    }
    SimDeviceBuilder& dead()
    {
        device_.alive = false;
        return *this;
    }
    // Left out of the device list, though its UID finds it.
    SimDeviceBuilder& unlisted()
    {
        device_.listed = false;
        return *this;
    }
    SimDeviceBuilder& listed()
    {
        device_.listed = true;
        return *this;
    }
    SimDeviceBuilder& with(AudioSelector selector, AudioPropertyValue value)
    {
        device_.custom[selector] = std::move(value);
        return *this;
    }

    const sim::SimDevice& build() const { return device_; }
    operator sim::SimDevice() const { return device_; }  // NOLINT: reads as a SimDevice where one is asked

private:
    sim::SimDevice device_;
};

inline SimDeviceBuilder simDevice(AudioObjectId id, std::string uid)
{
    return SimDeviceBuilder(id, std::move(uid));
}

}  // namespace parlaro::test
