#pragma once

#include "platform/AudioListenerToken.h"

#include <functional>
#include <memory>

namespace parlaro {

// Tells on the main actor when the audio server goes away and when it can be
// reached again, and while it is away, when it turns from not there to held
// still or back, from creation until release. A system that never says its
// server is gone counts as running.
class AudioServerWatcher {
public:
    using OnChange = std::function<void(bool running)>;
    static std::shared_ptr<AudioServerWatcher> make(OnChange onChange);

    // As last read; read once when the watcher is made.
    bool running() const { return running_; }
    // As last read: false while the server took the connection and did not
    // answer it (held still), rather than being gone.
    bool answering() const { return answering_; }
    // What the audio system says now.
    static bool serverRunning();
    static bool serverAnswering();

private:
    explicit AudioServerWatcher(OnChange onChange) : onChange_(std::move(onChange)) {}
    void reread();

    OnChange onChange_;
    bool running_ = true;
    bool answering_ = true;
    AudioListenerToken registration_;
    AudioListenerToken answeringRegistration_;
};

}  // namespace parlaro
