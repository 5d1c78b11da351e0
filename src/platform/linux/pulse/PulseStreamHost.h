#pragma once

#include "platform/AudioProperty.h"
#include "platform/linux/pulse/PulseDeviceIO.h"
#include "platform/linux/pulse/PulseLoop.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace parlaro::sys {

// What the stream loop's users share: the loop, its connection and a way to
// find a device's side. Queues and engines hold it, so they may outlive the
// audio system that made them; once the system is gone they find no
// connection and no devices.
struct PulseStreamHost {
    PulseLoop loop{"parlaro-streams"};
    // Under the loop's lock; null while disconnected.
    pa_context* context = nullptr;

    // A side of the device with this UID (the default device when empty):
    // nullopt when there is none.
    using Resolver = std::function<std::optional<PulseSide>(const std::string& uid, bool input)>;
    std::optional<PulseSide> resolve(const std::string& uid, bool input)
    {
        std::lock_guard lock(mutex);
        return resolver ? resolver(uid, input) : std::nullopt;
    }
    // The UID of the default device of one direction; empty for none.
    std::string defaultUID(bool input)
    {
        std::lock_guard lock(mutex);
        return defaults ? defaults(input) : std::string();
    }
    // The UID of a device object; empty for none.
    std::string uidOf(AudioObjectId device)
    {
        std::lock_guard lock(mutex);
        return names ? names(device) : std::string();
    }
    void install(Resolver find, std::function<std::string(bool)> current,
                 std::function<std::string(AudioObjectId)> uids)
    {
        std::lock_guard lock(mutex);
        resolver = std::move(find);
        defaults = std::move(current);
        names = std::move(uids);
    }

private:
    std::mutex mutex;
    Resolver resolver;
    std::function<std::string(bool)> defaults;
    std::function<std::string(AudioObjectId)> names;
};

}  // namespace parlaro::sys
