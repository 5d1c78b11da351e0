#pragma once

#include "platform/VirtualMicHost.h"

namespace parlaro::sys {

class PulseAudioSystem;

// The virtual microphone as the sound server holds it; the system must
// outlive this.
class PulseVirtualMicHost final : public VirtualMicHost {
public:
    explicit PulseVirtualMicHost(PulseAudioSystem& system) : system_(system) {}
    State state() const override;
    std::optional<std::string> ensure() override;

private:
    PulseAudioSystem& system_;
};

}  // namespace parlaro::sys
