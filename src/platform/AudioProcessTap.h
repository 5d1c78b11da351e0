#pragma once

#include "platform/AudioProperty.h"
#include "runtime/Uuid.h"
#include "runtime/UuidSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace parlaro {

// A stereo mix of everything the processes of the system play, except the
// listed process objects. Its format is its 'tfmt' property.
struct ProcessTapDescription {
    std::vector<AudioObjectId> excludedProcesses;
    std::string name;
    bool isPrivate = false;
    // 0: the tapped processes stay audible.
    std::int32_t muteBehavior = 0;
    rt::Uuid uuid = rt::newUuid();

    bool operator==(const ProcessTapDescription&) const = default;
};

// A device made of taps (and nothing else), whose input is what the taps hear.
// A private one is seen by this process only.
struct AggregateDeviceDescription {
    std::string name;
    std::string uid;
    bool isPrivate = false;
    bool tapAutoStart = false;
    // The UUID strings of the taps it reads.
    std::vector<std::string> tapUIDs;

    bool operator==(const AggregateDeviceDescription&) const = default;
};

}  // namespace parlaro
