#include "audio/AudioServerWatcher.h"

#include "platform/AudioSystem.h"

#include <cstdint>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress runningAddress{AudioSelectors::serviceRunning};
constexpr AudioPropertyAddress answeringAddress{AudioSelectors::serviceAnswering};

// The value of a flag the system may not have; `absent` when it has none.
bool flag(const AudioPropertyAddress& address, bool absent)
{
    std::uint32_t value = absent ? 1 : 0;
    if (audioSystem().get(audioSystemObject, address, value) != AudioStatuses::ok)
        return absent;
    return value != 0;
}

}  // namespace

bool AudioServerWatcher::serverRunning()
{
    // No answer is no news: only a server that says it is gone is gone.
    return flag(runningAddress, true);
}

bool AudioServerWatcher::serverAnswering()
{
    return flag(answeringAddress, true);
}

std::shared_ptr<AudioServerWatcher> AudioServerWatcher::make(OnChange onChange)
{
    std::shared_ptr<AudioServerWatcher> watcher(new AudioServerWatcher(std::move(onChange)));
    watcher->running_ = serverRunning();
    watcher->answering_ = serverAnswering();
    std::weak_ptr<AudioServerWatcher> weak = watcher;
    const auto reread = [weak](std::span<const AudioPropertyAddress>) {
        if (auto self = weak.lock())
            self->reread();
    };
    watcher->registration_ =
        audioSystem().addPropertyListener(audioSystemObject, runningAddress, AudioCallbackQueue::main(), reread);
    if (audioSystem().hasProperty(audioSystemObject, answeringAddress))
        watcher->answeringRegistration_ =
            audioSystem().addPropertyListener(audioSystemObject, answeringAddress, AudioCallbackQueue::main(), reread);
    return watcher;
}

void AudioServerWatcher::reread()
{
    const bool now = serverRunning();
    const bool answering = serverAnswering();
    if (now == running_ && answering == answering_)
        return;
    running_ = now;
    answering_ = answering;
    if (onChange_)
        onChange_(now);
}

}  // namespace parlaro
