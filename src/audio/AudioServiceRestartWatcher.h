#pragma once

#include "platform/AudioSystem.h"

#include <memory>

namespace parlaro {

// Calls its block on the main actor whenever the audio server restarts, from
// creation until release.
class AudioServiceRestartWatcher {
public:
    static std::shared_ptr<AudioServiceRestartWatcher> make(AudioPropertyListener block);

    const AudioPropertyAddress& address() const { return address_; }

private:
    explicit AudioServiceRestartWatcher(AudioPropertyListener block) : block_(std::move(block)) {}

    AudioPropertyListener block_;
    AudioPropertyAddress address_{AudioSelectors::serviceRestarted, AudioScope::global, 0};
    AudioListenerToken registration_;
};

}  // namespace parlaro
