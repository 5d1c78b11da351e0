#include "platform/sim/SimAudioCore.h"

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
        auto value = object.properties.find({"uid "_fcc});
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

double SimAudioCore::effectiveRate(AudioObjectId device) const
{
    const auto* nominal = stored(device, {"nsrt"_fcc});
    const double* rate = nominal ? std::get_if<double>(nominal) : nullptr;
    auto found = objects.find(device);
    double ppm = found == objects.end() ? 0 : found->second.ppm;
    if (const auto* correction = stored(device, {"dcck"_fcc}))
        if (const double* value = std::get_if<double>(correction))
            ppm += *value;
    return (rate && *rate > 0 ? *rate : 48000.0) * (1 + ppm / 1e6);
}

std::vector<std::uint32_t> SimAudioCore::layout(AudioObjectId device, AudioScope scope) const
{
    const auto* value = stored(device, {"slay"_fcc, scope});
    const auto* typed = value ? std::get_if<AudioBufferLayout>(value) : nullptr;
    return typed ? typed->channelsPerBuffer : std::vector<std::uint32_t>{};
}

std::vector<SimAudioCore::Registration> SimAudioCore::removeObjectLocked(AudioObjectId object)
{
    objects.erase(object);
    clocks.erase(object);
    outputs.erase(object);
    taps.erase(object);
    aggregates.erase(object);
    std::erase_if(procs, [object](const auto& entry) { return entry.second.device == object; });
    std::erase_if(streamUsage, [object](const auto& entry) { return std::get<0>(entry.first) == object; });
    // Registrations die with their object, as the server drops them.
    std::vector<Registration> dropped;
    for (auto entry = registrations.begin(); entry != registrations.end();) {
        if (entry->second.object == object) {
            dropped.push_back(std::move(entry->second));
            entry = registrations.erase(entry);
        } else {
            ++entry;
        }
    }
    return dropped;
}

AudioListenerToken SimAudioCore::addListener(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                                             const AudioPropertyAddress& address, AudioCallbackQueue queue,
                                             AudioPropertyListener listener)
{
    std::uint64_t id;
    {
        std::lock_guard lock(core->mutex);
        if (auto status = core->takeFailure(object, address.selector, AudioOperation::addPropertyListener))
            return AudioListenerToken(*status);
        if (!core->objects.contains(object))
            return AudioListenerToken(AudioStatuses::badObject);
        id = core->nextRegistration++;
        core->events.push_back({SimAudioEvent::Kind::added, object, address, queue.label(), id, 0, std::nullopt});
        core->registrations.emplace(id, Registration{object, address, std::move(queue), std::move(listener)});
    }
    std::weak_ptr<SimAudioCore> weak = core;
    return AudioListenerToken([weak, id] {
        auto strong = weak.lock();
        if (!strong)
            return;
        std::optional<Registration> removed;  // destroyed after unlocking
        std::lock_guard lock(strong->mutex);
        auto found = strong->registrations.find(id);
        if (found == strong->registrations.end())
            return;
        strong->events.push_back({SimAudioEvent::Kind::removed, found->second.object, found->second.address,
                                  found->second.queue.label(), id, 0, std::nullopt});
        removed = std::move(found->second);
        strong->registrations.erase(found);
    });
}

void SimAudioCore::notify(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                          const AudioPropertyAddress& address)
{
    std::vector<std::pair<std::uint64_t, AudioCallbackQueue>> targets;
    {
        std::lock_guard lock(core->mutex);
        for (const auto& [id, registration] : core->registrations)
            if (registration.object == object && registration.address == address)
                targets.emplace_back(id, registration.queue);
    }
    std::weak_ptr<SimAudioCore> weak = core;
    for (auto& [id, queue] : targets) {
        queue.dispatch([weak, id = id, address] {
            AudioPropertyListener listener;
            if (auto strong = weak.lock()) {
                std::lock_guard lock(strong->mutex);
                auto found = strong->registrations.find(id);
                if (found == strong->registrations.end())
                    return;
                listener = found->second.listener;
            }
            if (listener)
                listener(std::span<const AudioPropertyAddress>(&address, 1));
        });
    }
}

} // namespace parlaro::sim
