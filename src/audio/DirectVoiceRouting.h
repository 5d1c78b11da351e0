#pragma once

#include "platform/AudioProperty.h"

#include <functional>
#include <string>

namespace parlaro {

// A live audio route between two devices, as the call session model holds
// one: started with the two devices and a callback that receives a localized
// text when the route stops by itself (on the main actor), and stopped.
class DirectVoiceRouting {
public:
    using StopHandler = std::function<void(const std::string& message)>;

    virtual ~DirectVoiceRouting() = default;
    // Throws the route's errors; nothing runs after a failure.
    virtual void start(AudioObjectId input, AudioObjectId output, StopHandler onStop) = 0;
    virtual void stop() = 0;
};

}  // namespace parlaro
