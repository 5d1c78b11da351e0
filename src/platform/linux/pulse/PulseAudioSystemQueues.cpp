// Buffer queues and the input engine, and the device sides they play and
// record on.

#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioQueue.h"
#include "platform/linux/pulse/PulseInputEngine.h"

namespace parlaro::sys {

AudioStatus PulseAudioSystem::newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                                             void* userData, std::shared_ptr<AudioQueue>& queue)
{
    queue = PulseAudioQueue::make(host_, PulseAudioQueue::Direction::output, format, callback, nullptr, userData);
    return queue ? AudioStatuses::ok : AudioStatuses::illegalOperation;
}

AudioStatus PulseAudioSystem::newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                            void* userData, std::shared_ptr<AudioQueue>& queue)
{
    queue = PulseAudioQueue::make(host_, PulseAudioQueue::Direction::input, format, nullptr, callback, userData);
    return queue ? AudioStatuses::ok : AudioStatuses::illegalOperation;
}

std::optional<PulseSide> PulseAudioSystem::sideFor(const std::string& uid, bool input) const
{
    std::lock_guard lock(mirrorMutex_);
    AudioObjectId device = audioUnknownObject;
    if (uid.empty()) {
        if (const auto* value = mirror_.value(audioSystemObject, {AudioSelectors::defaultDevice(input)}))
            device = std::get<std::uint32_t>(*value);
    } else {
        device = mirror_.deviceWithUID(uid);
    }
    const MirrorObject* object = mirror_.find(device);
    // A default input that is a monitor is no microphone: recording it would
    // hear the speakers.
    if (!object || object->aggregate || object->monitor)
        return std::nullopt;
    if (input) {
        auto source = state_.sources.find(object->sourceIndex);
        if (source == state_.sources.end())
            return std::nullopt;
        return PulseSide{source->second.name, source->second.channels, source->second.rate};
    }
    auto sink = state_.sinks.find(object->sinkIndex);
    if (sink == state_.sinks.end())
        return std::nullopt;
    return PulseSide{sink->second.name, sink->second.channels, sink->second.rate};
}

std::string PulseAudioSystem::defaultUID(bool input) const
{
    std::lock_guard lock(mirrorMutex_);
    const auto* value = mirror_.value(audioSystemObject, {AudioSelectors::defaultDevice(input)});
    if (!value)
        return {};
    const MirrorObject* object = mirror_.find(std::get<std::uint32_t>(*value));
    if (!object || object->monitor)
        return {};
    const auto* uid = mirror_.value(std::get<std::uint32_t>(*value), {AudioSelectors::deviceUID});
    return uid ? std::get<AudioString>(*uid).value_or("") : std::string();
}

std::shared_ptr<AudioInputEngine> PulseAudioSystem::makeInputEngine()
{
    auto engine = std::make_shared<PulseInputEngine>(host_);
    std::weak_ptr<PulseInputEngine> weak = engine;
    engine->keep(addPropertyListener(audioSystemObject, {AudioSelectors::defaultInputDevice},
                                     AudioCallbackQueue::notificationThread(),
                                     [weak](std::span<const AudioPropertyAddress>) {
                                         if (auto live = weak.lock())
                                             live->defaultInputChanged();
                                     }));
    return engine;
}

std::int32_t PulseAudioSystem::currentProcessID() const
{
    return pid_;
}

}  // namespace parlaro::sys
