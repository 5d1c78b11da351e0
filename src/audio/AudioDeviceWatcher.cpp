#include "audio/AudioDeviceWatcher.h"

#include "runtime/Runtime.h"

namespace parlaro {

std::shared_ptr<AudioDeviceWatcher> AudioDeviceWatcher::make(List list, OnChange onChange)
{
    return std::shared_ptr<AudioDeviceWatcher>(new AudioDeviceWatcher(std::move(list), std::move(onChange)));
}

AudioDeviceWatcher::AudioDeviceWatcher(List list, OnChange onChange)
    : list_(std::move(list)), onChange_(std::move(onChange)), queue_(rt::makeSerialQueue(queueLabel))
{
}

AudioDeviceWatcher::~AudioDeviceWatcher()
{
    stop();
}

void AudioDeviceWatcher::start()
{
    if (listening_)
        return;
    listening_ = true;
    std::weak_ptr<AudioDeviceWatcher> weak = weak_from_this();
    auto listener = [weak](std::span<const AudioPropertyAddress>) {
        if (auto self = weak.lock())
            self->changed();
    };
    // Statuses are not checked: a selector that cannot be watched just stays
    // silent, and its empty token removes nothing.
    for (AudioSelector selector : selectors)
        registrations_.push_back(audioSystem().addPropertyListener(audioSystemObject, {selector},
                                                                   AudioCallbackQueue::serial(queue_), listener));
}

void AudioDeviceWatcher::stop()
{
    if (!listening_)
        return;
    for (auto& registration : registrations_)
        registration.release();
    registrations_.clear();
    listening_ = false;
}

void AudioDeviceWatcher::changed()
{
    if (pending_)
        return;
    pending_ = true;
    std::weak_ptr<AudioDeviceWatcher> weak = weak_from_this();
    queue_->asyncAfter(debounceSeconds, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->pending_ = false;
        const rt::Instant instant = rt::clock().now();
        std::vector<AudioDevice> devices = self->list_ ? self->list_() : std::vector<AudioDevice>{};
        rt::postToMain([weak, devices = std::move(devices), instant]() mutable {
            if (auto owner = weak.lock())
                if (owner->onChange_)
                    owner->onChange_(std::move(devices), instant);
        });
    });
}

}  // namespace parlaro
