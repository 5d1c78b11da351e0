#pragma once

#include "platform/AudioSystem.h"

#include <functional>
#include <memory>

namespace parlaro {

// Calls back on the main actor whenever input or output on the virtual
// device starts or stops (its driver's 'dcio' property changes), from
// creation until release.
class DriverIOWatch {
public:
    // No watch on a device without 'dcio', or when the listener cannot be
    // registered.
    static std::shared_ptr<DriverIOWatch> make(AudioObjectId device, std::function<void()> onChange);

    AudioObjectId device() const { return device_; }
    const AudioPropertyAddress& address() const { return address_; }

private:
    DriverIOWatch(AudioObjectId device, std::function<void()> onChange) : device_(device), block_(std::move(onChange))
    {
    }

    AudioObjectId device_;
    std::function<void()> block_;
    AudioPropertyAddress address_{AudioSelectors::driverIOActivity, AudioScope::global, 0};
    AudioListenerToken registration_;
};

}  // namespace parlaro
