#pragma once

#include "audio/InputLevelTap.h"

#include <memory>

namespace parlaro {

// How the call session holds the probe; it calls nothing through it.
class VirtualMicProbing {
public:
    virtual ~VirtualMicProbing() = default;
};

// One more level tap, which the hear test uses to record a stretch of what
// arrives on a device.
class VirtualMicProbe : public VirtualMicProbing {
public:
    const std::shared_ptr<InputLevelTap> tap = std::make_shared<InputLevelTap>();
};

} // namespace parlaro
