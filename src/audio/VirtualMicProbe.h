#pragma once

#include "audio/InputLevelTap.h"

#include <memory>

namespace parlaro {

// How the call session holds the probe: the hear test records through its
// level tap.
class VirtualMicProbing {
public:
    virtual ~VirtualMicProbing() = default;
    virtual std::shared_ptr<InputLevelTap> levelTap() const = 0;
};

// One more level tap, which the hear test uses to record a stretch of what
// arrives on a device.
class VirtualMicProbe : public VirtualMicProbing {
public:
    const std::shared_ptr<InputLevelTap> tap = std::make_shared<InputLevelTap>();

    std::shared_ptr<InputLevelTap> levelTap() const override { return tap; }
};

}  // namespace parlaro
