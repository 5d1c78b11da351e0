#include "platform/linux/pulse/PulseVirtualMicHost.h"

#include "platform/linux/pulse/PulseAudioSystem.h"

namespace parlaro::sys {

VirtualMicHost::State PulseVirtualMicHost::state() const
{
    if (system_.virtualMicNeedsUpdate())
        return State::stale;
    return system_.virtualMicLoaded() ? State::current : State::missing;
}

std::optional<std::string> PulseVirtualMicHost::ensure()
{
    return system_.ensureVirtualMic();
}

}  // namespace parlaro::sys
