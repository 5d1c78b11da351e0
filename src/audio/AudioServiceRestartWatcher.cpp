#include "audio/AudioServiceRestartWatcher.h"

namespace parlaro {

std::shared_ptr<AudioServiceRestartWatcher> AudioServiceRestartWatcher::make(AudioPropertyListener block)
{
    std::shared_ptr<AudioServiceRestartWatcher> watcher(new AudioServiceRestartWatcher(std::move(block)));
    std::weak_ptr<AudioServiceRestartWatcher> weak = watcher;
    // A failed registration is not an error: the watcher simply never fires.
    watcher->registration_ =
        audioSystem().addPropertyListener(audioSystemObject, watcher->address_, AudioCallbackQueue::main(),
                                          [weak](std::span<const AudioPropertyAddress> addresses) {
                                              if (auto self = weak.lock())
                                                  if (self->block_)
                                                      self->block_(addresses);
                                          });
    return watcher;
}

}  // namespace parlaro
