#include "platform/linux/pulse/AudioSystemFactory.h"

#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/sim/SimAudioSystem.h"

#include <cstdlib>
#include <string_view>

namespace parlaro::sys {

std::unique_ptr<AudioSystem> makeAudioSystem()
{
    const char* choice = std::getenv("PARLARO_AUDIO");
    if (choice && std::string_view(choice) == "sim")
        return std::make_unique<sim::SimAudioSystem>();
    return std::make_unique<PulseAudioSystem>();
}

}  // namespace parlaro::sys
