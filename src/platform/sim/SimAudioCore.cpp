#include "platform/sim/SimAudioCore.h"

#include "runtime/Runtime.h"

#include <algorithm>

namespace parlaro::sim {

std::optional<AudioStatus> SimAudioCore::takeFailure(AudioObjectId object, AudioSelector selector,
                                                     AudioOperation operation)
{
    for (auto key : {std::tuple{object, selector, operation}, std::tuple{anyObject, selector, operation},
                     std::tuple{object, anySelector, operation}, std::tuple{anyObject, anySelector, operation}}) {
        auto rule = failures.find(key);
        if (rule == failures.end())
            continue;
        const AudioStatus status = rule->second.status;
        if (rule->second.remaining > 0 && --rule->second.remaining == 0)
            failures.erase(rule);
        return status;
    }
    return std::nullopt;
}

AudioObjectId SimAudioCore::generateId()
{
    while (objects.contains(nextGeneratedId) || nextGeneratedId == audioUnknownObject)
        ++nextGeneratedId;
    return nextGeneratedId++;
}

AudioObjectId SimAudioCore::deviceWithUID(const std::string& uid) const
{
    for (const auto& [id, object] : objects) {
        if (object.kind != ObjectKind::device)
            continue;
        auto value = object.properties.find({AudioSelectors::deviceUID});
        if (value == object.properties.end())
            continue;
        const auto* text = std::get_if<AudioString>(&value->second);
        if (text && *text && **text == uid)
            return id;
    }
    return audioUnknownObject;
}

const AudioPropertyValue* SimAudioCore::stored(AudioObjectId object, const AudioPropertyAddress& address) const
{
    auto found = objects.find(object);
    if (found == objects.end())
        return nullptr;
    auto value = found->second.properties.find(address);
    return value == found->second.properties.end() ? nullptr : &value->second;
}

std::uint32_t SimAudioCore::number(AudioObjectId object, const AudioPropertyAddress& address,
                                   std::uint32_t fallback) const
{
    const auto* value = stored(object, address);
    const auto* typed = value ? std::get_if<std::uint32_t>(value) : nullptr;
    return typed ? *typed : fallback;
}

std::vector<std::shared_ptr<SimAudioCore::Registration>> SimAudioCore::defaultListeners(AudioSelector selector) const
{
    if (unannouncedDefaults.contains(selector))
        return {};
    return listenersOf(audioSystemObject, {selector});
}

std::vector<std::shared_ptr<SimAudioCore::Registration>> SimAudioCore::catchUpDefault(AudioSelector selector)
{
    auto heard = unannouncedDefaults.find(selector);
    const std::uint32_t current = number(audioSystemObject, {selector}, 0);
    if (heard == unannouncedDefaults.end() || heard->second == current)
        return {};
    heard->second = current;
    return listenersOf(audioSystemObject, {selector});
}

double SimAudioCore::effectiveRate(AudioObjectId device) const
{
    const auto* nominal = stored(device, {AudioSelectors::nominalSampleRate});
    const double* rate = nominal ? std::get_if<double>(nominal) : nullptr;
    auto found = objects.find(device);
    double ppm = found == objects.end() ? 0 : found->second.ppm;
    if (const auto* correction = stored(device, {AudioSelectors::driverClockCorrection}))
        if (const double* value = std::get_if<double>(correction))
            ppm += *value;
    return (rate && *rate > 0 ? *rate : 48000.0) * (1 + ppm / 1e6);
}

std::vector<std::uint32_t> SimAudioCore::layout(AudioObjectId device, AudioScope scope) const
{
    const auto* value = stored(device, {AudioSelectors::streamConfiguration, scope});
    const auto* typed = value ? std::get_if<AudioBufferLayout>(value) : nullptr;
    return typed ? typed->channelsPerBuffer : std::vector<std::uint32_t>{};
}

std::vector<std::shared_ptr<SimAudioCore::Registration>> SimAudioCore::removeObjectLocked(AudioObjectId object)
{
    objects.erase(object);
    clocks.erase(object);
    outputs.erase(object);
    taps.erase(object);
    aggregates.erase(object);
    std::erase_if(procs, [object](const auto& entry) { return entry.second.device == object; });
    std::erase_if(streamUsage, [object](const auto& entry) { return std::get<0>(entry.first) == object; });
    // Registrations die with their object, as the server drops them.
    std::vector<std::shared_ptr<Registration>> dropped;
    for (auto entry = registrations.begin(); entry != registrations.end();) {
        if (entry->second->object == object) {
            dropped.push_back(std::move(entry->second));
            entry = registrations.erase(entry);
        } else {
            ++entry;
        }
    }
    return dropped;
}

void SimAudioCore::waitForCyclesLocked(std::unique_lock<std::mutex>& lock, AudioObjectId device)
{
    const auto self = std::this_thread::get_id();
    cycleEnded.wait(lock, [&] {
        auto running = cyclesInFlight.find(device);
        return running == cyclesInFlight.end()
            || std::all_of(running->second.begin(), running->second.end(),
                           [self](std::thread::id thread) { return thread == self; });
    });
}

std::vector<std::shared_ptr<SimAudioCore::Registration>>
SimAudioCore::listenersOf(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::vector<std::shared_ptr<Registration>> found;
    for (const auto& [id, registration] : registrations)
        if (registration->object == object && registration->address == address)
            found.push_back(registration);
    return found;
}

AudioObjectId SimAudioCore::firstDeviceWithChannels(AudioScope scope) const
{
    std::vector<std::pair<std::uint64_t, AudioObjectId>> candidates;
    for (const auto& [id, object] : objects) {
        if (object.kind != ObjectKind::device || !object.listed)
            continue;
        const auto buffers = layout(id, scope);
        if (std::any_of(buffers.begin(), buffers.end(), [](std::uint32_t channels) { return channels > 0; }))
            candidates.emplace_back(object.order, id);
    }
    if (candidates.empty())
        return audioUnknownObject;
    return std::min_element(candidates.begin(), candidates.end())->second;
}

AudioListenerToken SimAudioCore::addListener(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                                             const AudioPropertyAddress& address, AudioCallbackQueue queue,
                                             AudioPropertyListener listener)
{
    std::uint64_t id;
    std::weak_ptr<Registration> entry;
    {
        std::lock_guard lock(core->mutex);
        if (auto status = core->takeFailure(object, address.selector, AudioOperation::addPropertyListener))
            return AudioListenerToken(*status);
        if (!core->objects.contains(object))
            return AudioListenerToken(AudioStatuses::badObject);
        id = core->nextRegistration++;
        core->events.push_back({SimAudioEvent::Kind::added, object, address, queue.label(), id, 0, std::nullopt});
        auto registration = std::make_shared<Registration>();
        registration->object = object;
        registration->address = address;
        registration->queue = std::move(queue);
        registration->listener = std::move(listener);
        entry = registration;
        core->registrations.emplace(id, std::move(registration));
    }
    std::weak_ptr<SimAudioCore> weak = core;
    return AudioListenerToken([weak, id, entry] {
        // A notification already on its way is dropped, even one for an
        // object that is gone.
        if (auto registration = entry.lock())
            registration->active = false;
        auto strong = weak.lock();
        if (!strong)
            return;
        std::shared_ptr<Registration> removed;  // destroyed after unlocking
        std::lock_guard lock(strong->mutex);
        auto found = strong->registrations.find(id);
        if (found == strong->registrations.end())
            return;
        strong->events.push_back({SimAudioEvent::Kind::removed, found->second->object, found->second->address,
                                  found->second->queue.label(), id, 0, std::nullopt});
        removed = std::move(found->second);
        strong->registrations.erase(found);
    });
}

void SimAudioCore::notify(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                          const AudioPropertyAddress& address)
{
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard lock(core->mutex);
        targets = core->listenersOf(object, address);
    }
    deliver(core, targets, address);
}

void SimAudioCore::deliver(const std::shared_ptr<SimAudioCore>& core,
                           const std::vector<std::shared_ptr<Registration>>& targets,
                           const AudioPropertyAddress& address)
{
    for (const auto& registration : targets) {
        rt::Job job = [registration, address] {
            if (registration->active)
                registration->listener(std::span<const AudioPropertyAddress>(&address, 1));
        };
        if (registration->queue.kind() != AudioCallbackQueue::Kind::notificationThread) {
            registration->queue.dispatch(std::move(job));
            continue;
        }
        // The server calls these on its own thread, never inside the call
        // that caused the change.
        std::shared_ptr<rt::SerialQueue> queue;
        {
            std::lock_guard lock(core->mutex);
            if (!core->notificationQueue)
                core->notificationQueue = rt::makeSerialQueue(notificationQueueLabel);
            queue = core->notificationQueue;
        }
        queue->async(std::move(job));
    }
}

}  // namespace parlaro::sim
