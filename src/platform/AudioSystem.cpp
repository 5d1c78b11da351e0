#include "platform/AudioSystem.h"

#include <atomic>
#include <stdexcept>

namespace parlaro {

namespace {
std::atomic<AudioSystem*> installed{nullptr};
}

AudioSystem& audioSystem()
{
    AudioSystem* system = installed.load();
    if (!system)
        throw std::logic_error("no audio system is installed");
    return *system;
}

AudioSystemScope::AudioSystemScope(AudioSystem& system) : previous_(installed.exchange(&system))
{
}

AudioSystemScope::~AudioSystemScope()
{
    installed.store(previous_);
}

}  // namespace parlaro
