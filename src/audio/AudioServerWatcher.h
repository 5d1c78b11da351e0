#pragma once

#include "platform/AudioListenerToken.h"

#include <functional>
#include <memory>

namespace parlaro {

// Tells on the main actor when the audio server goes away and when it can be
// reached again, from creation until release. A system that never says its
// server is gone counts as running.
class AudioServerWatcher {
public:
    using OnChange = std::function<void(bool running)>;
    static std::shared_ptr<AudioServerWatcher> make(OnChange onChange);

    // As last read; read once when the watcher is made.
    bool running() const { return running_; }
    // What the audio system says now.
    static bool serverRunning();

private:
    explicit AudioServerWatcher(OnChange onChange) : onChange_(std::move(onChange)) {}
    void reread();

    OnChange onChange_;
    bool running_ = true;
    AudioListenerToken registration_;
};

}  // namespace parlaro
