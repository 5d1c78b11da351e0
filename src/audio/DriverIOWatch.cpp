#include "audio/DriverIOWatch.h"

namespace parlaro {

std::shared_ptr<DriverIOWatch> DriverIOWatch::make(AudioObjectId device, std::function<void()> onChange)
{
    std::shared_ptr<DriverIOWatch> watch(new DriverIOWatch(device, std::move(onChange)));
    AudioSystem& system = audioSystem();
    if (!system.hasProperty(device, watch->address_))
        return nullptr;
    std::weak_ptr<DriverIOWatch> weak = watch;
    watch->registration_ = system.addPropertyListener(device, watch->address_, AudioCallbackQueue::main(),
                                                      [weak](std::span<const AudioPropertyAddress>) {
                                                          if (auto self = weak.lock())
                                                              if (self->block_)
                                                                  self->block_();
                                                      });
    if (watch->registration_.status() != AudioStatuses::ok)
        return nullptr;
    return watch;
}

}  // namespace parlaro
