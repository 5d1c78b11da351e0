#pragma once

#include "audio/AudioDevice.h"
#include "platform/AudioSystem.h"
#include "platform/OwnAudioIDs.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// The program's window onto the device list of the installed audio system.
// Stateless and callable from any thread. Failed reads are never errors
// here: they give empty lists, 0, no value or the name fallback; only
// setDefaultDevice throws.
class AudioDevices {
public:
    static std::vector<AudioDevice> allDevices();
    static std::vector<AudioDevice> outputDevices();
    static std::optional<AudioObjectId> deviceID(const std::string& uid);
    static std::optional<AudioObjectId> defaultDeviceID(bool input);
    // The default as the system itself says it is now, not as it last
    // announced it; throws DomainError "SystemAudio" with the read's status
    // when the system cannot be asked.
    static std::optional<AudioObjectId> askedDefaultDeviceID(bool input);
    // Throws DomainError "SystemAudio" with the write's status as code when
    // the system refuses it. A write it accepted, or sent without an answer
    // in time, may take effect later: defaultDeviceID tells when.
    static void setDefaultDevice(AudioObjectId device, bool input);
    static std::vector<double> nominalSampleRates(AudioObjectId device);
    // The rate the device runs at now; none when it cannot be read or is not
    // above 0.
    static std::optional<double> nominalSampleRate(AudioObjectId device);
    // True when the audio system accepted the new rate.
    static bool setNominalSampleRate(AudioObjectId device, double rate);
    // This process's process object.
    static std::optional<AudioObjectId> ownProcessObject();

    // A global string property; no value when the read fails or gives null.
    static std::optional<std::string> stringProperty(AudioObjectId object, AudioSelector selector);
    // The channels of all buffers of the device's stream configuration in
    // one scope; 0 when it cannot be read.
    static std::int64_t channelCount(AudioObjectId device, AudioScope scope);

    class RateWatch;
};

// Calls its block on the main actor whenever the device's nominal sample rate
// changes, from creation until release.
class AudioDevices::RateWatch {
public:
    // No watch when the listener cannot be registered.
    static std::shared_ptr<RateWatch> make(AudioObjectId device, AudioPropertyListener block);

    AudioObjectId device() const { return device_; }
    const AudioPropertyAddress& address() const { return address_; }

private:
    RateWatch(AudioObjectId device, AudioPropertyListener block) : device_(device), block_(std::move(block)) {}

    AudioObjectId device_;
    AudioPropertyListener block_;
    AudioPropertyAddress address_{AudioSelectors::nominalSampleRate, AudioScope::global, 0};
    AudioListenerToken registration_;
};

}  // namespace parlaro
