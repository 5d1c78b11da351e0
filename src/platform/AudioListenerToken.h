#pragma once

#include "platform/AudioProperty.h"

#include <functional>

namespace parlaro {

// One listener registration. Releasing the token (destroying it, assigning
// over it or calling release()) removes exactly that registration, once; after
// that the listener is never called again, not even for a notification that
// was already on its way. A failed registration gives an empty token that
// carries the status.
class AudioListenerToken {
public:
    AudioListenerToken() = default;
    explicit AudioListenerToken(AudioStatus failure) : status_(failure) {}
    explicit AudioListenerToken(std::function<void()> remove) : remove_(std::move(remove)) {}
    ~AudioListenerToken() { release(); }

    AudioListenerToken(AudioListenerToken&& other) noexcept;
    AudioListenerToken& operator=(AudioListenerToken&& other) noexcept;
    AudioListenerToken(const AudioListenerToken&) = delete;
    AudioListenerToken& operator=(const AudioListenerToken&) = delete;

    // The registration's status: 0 when it was added.
    AudioStatus status() const { return status_; }
    // True while the registration exists.
    bool isActive() const { return static_cast<bool>(remove_); }
    explicit operator bool() const { return isActive(); }

    void release();

private:
    std::function<void()> remove_;
    AudioStatus status_ = AudioStatuses::ok;
};

}  // namespace parlaro
