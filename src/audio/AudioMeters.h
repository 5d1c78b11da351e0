#pragma once

#include "audio/AudioDevices.h"
#include "audio/InputLevelTap.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace parlaro {

// How loud the microphone and the virtual microphone are, each from 0 to 1
// on a 60 dB scale, for the meters, the talk button and the microphone
// check. Two level taps read the devices; a task polls them every 0.05 s
// while at least one runs, and once a second restarts a tap whose queue has
// stopped under it.
//
// Main actor. Create with std::make_shared: the poll task holds it weakly.
class AudioMeters : public rt::ObservableObject, public std::enable_shared_from_this<AudioMeters> {
public:
    static constexpr double pollInterval = 0.05;
    // Polls between health checks of a tap (once a second).
    static constexpr std::int64_t healthCheckTicks = 20;
    // The most a meter falls in one poll; it rises at once.
    static constexpr float fallPerTick = 0.075f;
    // Smaller moves are not shown, except a fall to silence.
    static constexpr float smallestChange = 0.004f;

    AudioMeters();
    ~AudioMeters();
    AudioMeters(const AudioMeters&) = delete;
    AudioMeters& operator=(const AudioMeters&) = delete;

    rt::Observable<float> micLevel{0.0f, changes()};
    rt::Observable<float> virtualLevel{0.0f, changes()};
    // Why the microphone cannot be metered; none while it can.
    rt::Observable<std::optional<std::string>> micError{std::nullopt, changes()};

    const std::shared_ptr<InputLevelTap> micTap = std::make_shared<InputLevelTap>();
    const std::shared_ptr<InputLevelTap> virtualTap = std::make_shared<InputLevelTap>();

    // Meters these devices (none stops that tap). A tap already on the same
    // device keeps running. When neither tap runs afterwards the meters stop.
    void update(std::optional<AudioDevice> mic, std::optional<AudioDevice> virtualDevice);
    // Both devices forgotten, polling ended, both taps stopped, levels 0.
    void stop();

    const std::optional<AudioDevice>& micDevice() const { return micDevice_; }
    const std::optional<AudioDevice>& virtualDevice() const { return virtualDevice_; }
    bool isPolling() const { return poll_ && !poll_.isFinished(); }

    // The level a meter at `level` shows after a poll that read `peak`.
    static float nextLevel(float level, float peak);

private:
    // Starts or keeps the tap on the device; the failure text, if any.
    static std::optional<std::string> configure(InputLevelTap& tap, const std::optional<AudioDevice>& device,
                                                std::int64_t& ticks);
    void poll();
    void startPolling();

    std::optional<AudioDevice> micDevice_;
    std::optional<AudioDevice> virtualDevice_;
    std::int64_t micTicks_ = 0;
    std::int64_t virtualTicks_ = 0;
    rt::TaskHandle<> poll_;
};

}  // namespace parlaro
