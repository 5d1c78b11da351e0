#pragma once

#include "audio/DeviceForwarder.h"
#include "audio/DirectVoiceRouting.h"
#include "audio/DriftController.h"
#include "platform/AudioListenerToken.h"
#include "runtime/Task.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"

#include <memory>
#include <optional>
#include <vector>

namespace parlaro {

// Keeps one forwarding route between two devices running and healthy: owns
// the forwarder, runs the drift control loop that keeps the two clocks
// together, watches both devices and rebuilds the route when one disappears,
// changes its rate or overloads, and gives up, saying so through the stop
// callback, when that happens too often.
//
// Main actor only. Device notifications arrive on the audio system's
// notification thread; they read nothing of the route there and hop to the
// main actor before looking at its state. Own it through std::shared_ptr:
// callbacks hold it weakly.
class DirectVoice final : public DirectVoiceRouting, public std::enable_shared_from_this<DirectVoice> {
public:
    // How the two clocks are kept together.
    enum class Steering {
        // Same rates: direct copy, drift left alone; else as resample.
        none,
        // Same rates: direct copy, drift corrected by the input device's
        // clock correction ('dcck'); else as resample.
        driverClockOnInput,
        // Always resample; drift corrected through the conversion ratio.
        resample,
    };

    static constexpr double controlInterval = 0.1;
    static constexpr double restartDelay = 0.3;
    static constexpr double restartWindow = 10;
    static constexpr std::size_t restartLimit = 3;
    static constexpr double overloadWindow = 10;
    static constexpr std::size_t overloadLimit = 3;
    static constexpr std::uint32_t largestBufferFrames = 2048;
    static constexpr std::int64_t sameDeviceCode = 10;

    DirectVoice(Steering steering, bool allowSameDevice);
    ~DirectVoice() override;
    DirectVoice(const DirectVoice&) = delete;
    DirectVoice& operator=(const DirectVoice&) = delete;

    void start(AudioObjectId input, AudioObjectId output, StopHandler onStop) override;
    void stop() override;

    Steering steering() const { return steering_; }
    bool allowSameDevice() const { return allowSameDevice_; }
    const std::shared_ptr<DeviceForwarder>& forwarder() const { return forwarder_; }
    const DriftController& controller() const { return controller_; }
    std::optional<AudioObjectId> steeredDriver() const { return steeredDriver_; }
    const rt::Uuid& session() const { return session_; }
    std::size_t listenerCount() const { return listeners_.size(); }
    const std::vector<rt::Instant>& restarts() const { return restarts_; }
    const std::vector<rt::Instant>& overloads() const { return overloads_; }
    bool isControlling() const { return static_cast<bool>(controlTask_); }

    // Writes -ppm to the device's clock correction when it has one; failures
    // are ignored.
    static void setDriverClockCorrection(AudioObjectId device, double ppm);

private:
    struct Route {
        AudioObjectId input;
        AudioObjectId output;
        StopHandler onStop;
    };

    void begin(AudioObjectId input, AudioObjectId output, StopHandler onStop);
    void tearDown();
    void startControlLoop();
    void watch(AudioObjectId device, const std::shared_ptr<const Route>& route);

    // Main actor, after a notification hopped there.
    static void requestRestart(const std::weak_ptr<DirectVoice>& weak, rt::Uuid session,
                               std::shared_ptr<const Route> route);
    static void overloaded(const std::weak_ptr<DirectVoice>& weak, rt::Uuid session, std::shared_ptr<const Route> route,
                           rt::Instant when);
    static rt::Async<void> restart(std::weak_ptr<DirectVoice> weak, rt::Uuid requested,
                                   std::shared_ptr<const Route> route);

    Steering steering_;
    std::shared_ptr<DeviceForwarder> forwarder_;
    DriftController controller_;
    rt::TaskHandle<void> controlTask_;
    std::optional<AudioObjectId> steeredDriver_;
    rt::Uuid session_;
    std::vector<AudioListenerToken> listeners_;
    std::vector<rt::Instant> restarts_;
    std::vector<rt::Instant> overloads_;
    bool allowSameDevice_;
};

}  // namespace parlaro
