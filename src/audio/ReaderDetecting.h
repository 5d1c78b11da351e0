#pragma once

#include "audio/AudioClient.h"

#include <functional>
#include <optional>
#include <vector>

namespace parlaro {

// Who uses the audio devices, and a signal when that changes.
class ReaderDetecting {
public:
    virtual ~ReaderDetecting() = default;
    virtual void start(std::function<void()> onChange) = 0;
    virtual std::optional<std::vector<AudioClient>> clients() = 0;
};

}  // namespace parlaro
