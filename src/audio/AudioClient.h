#pragma once

#include "platform/AudioProperty.h"
#include "platform/OwnAudioIDs.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace parlaro {

// One process doing audio, as its process object shows it.
struct AudioClient {
    std::int32_t pid = 0;
    std::optional<std::string> bundleID;
    bool runningInput = false;
    std::vector<AudioObjectId> inputDevices;
    bool runningOutput = false;
    std::vector<AudioObjectId> outputDevices;

    // True unless the bundle id is the program's own application id, or
    // begins with it and a dot (a helper of the program).
    bool isForeign() const;

    bool operator==(const AudioClient&) const = default;
};

// Whether another application reads a device as its microphone; unknown when
// the system offers no list of the processes doing audio.
enum class CallMicrophoneRoute { unknown, idle, connected };

// The clients that play on `device`, in order, without the excluded process
// ids and the program's own processes.
std::vector<AudioClient> outputClients(const std::vector<AudioClient>& clients, AudioObjectId device,
                                       const std::set<std::int32_t>& excluding);

// connected when a client other than `excludingPID` and the program's own
// processes runs input with `device` among its input devices; else idle (also
// without a device).
CallMicrophoneRoute microphoneRoute(const std::vector<AudioClient>& clients, std::optional<AudioObjectId> device,
                                    std::int32_t excludingPID);
// The same rule under the name the call session model uses.
CallMicrophoneRoute otherInputClients(const std::vector<AudioClient>& clients, std::optional<AudioObjectId> device,
                                      std::int32_t excludingPID);

}  // namespace parlaro
