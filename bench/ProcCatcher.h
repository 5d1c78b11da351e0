#pragma once

#include "platform/sim/AudioSystemDecorator.h"

namespace parlaro::bench {

// The simulated system, except that it hands out the I/O procedure it is
// given, so a benchmark can drive the capture's cycles itself instead of the
// simulation's own buffer making.
class ProcCatcher final : public sim::AudioSystemDecorator {
public:
    using AudioSystemDecorator::AudioSystemDecorator;

    AudioIOProc proc = nullptr;
    void* context = nullptr;

    AudioStatus createIOProc(AudioObjectId device, AudioIOProc p, void* c, AudioIOProcId& id) override
    {
        proc = p;
        context = c;
        return system_.createIOProc(device, p, c, id);
    }
};

}  // namespace parlaro::bench
