#include "audio/AudioServerWatcher.h"

#include "platform/AudioSystem.h"

#include <cstdint>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress runningAddress{AudioSelectors::serviceRunning};

}  // namespace

bool AudioServerWatcher::serverRunning()
{
    std::uint32_t value = 1;
    // No answer is no news: only a server that says it is gone is gone.
    if (audioSystem().get(audioSystemObject, runningAddress, value) != AudioStatuses::ok)
        return true;
    return value != 0;
}

std::shared_ptr<AudioServerWatcher> AudioServerWatcher::make(OnChange onChange)
{
    std::shared_ptr<AudioServerWatcher> watcher(new AudioServerWatcher(std::move(onChange)));
    watcher->running_ = serverRunning();
    std::weak_ptr<AudioServerWatcher> weak = watcher;
    watcher->registration_ = audioSystem().addPropertyListener(
        audioSystemObject, runningAddress, AudioCallbackQueue::main(), [weak](std::span<const AudioPropertyAddress>) {
            if (auto self = weak.lock())
                self->reread();
        });
    return watcher;
}

void AudioServerWatcher::reread()
{
    const bool now = serverRunning();
    if (now == running_)
        return;
    running_ = now;
    if (onChange_)
        onChange_(now);
}

}  // namespace parlaro
