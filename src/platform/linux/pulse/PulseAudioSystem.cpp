#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioSystemParts.h"
#include "platform/linux/pulse/VirtualMicModules.h"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace parlaro::sys {

PulseAudioSystem::PulseAudioSystem() : PulseAudioSystem(Options{})
{
}

PulseAudioSystem::PulseAudioSystem(Options options)
    : options_(std::move(options)), pid_(static_cast<std::int32_t>(getpid())), control_("parlaro-control"),
      host_(std::make_shared<PulseStreamHost>()), streams_(host_->loop), listeners_(std::make_shared<ListenerTable>())
{
    if (options_.driverHash.empty())
        options_.driverHash = builtInDriverHash();
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server)
        server_ = server;
    host_->install([this](const std::string& uid, bool input) { return sideFor(uid, input); },
                   [this](bool input) { return defaultUID(input); },
                   [this](AudioObjectId device) {
                       std::lock_guard lock(mirrorMutex_);
                       const auto* uid = mirror_.value(device, {AudioSelectors::deviceUID});
                       return uid ? std::get<AudioString>(*uid).value_or("") : std::string();
                   });
    republish();
    connect(options_.startAnswerSeconds);
    worker_ = std::thread([this] { workerLoop(); });
}

PulseAudioSystem::~PulseAudioSystem()
{
    {
        std::lock_guard lock(workerMutex_);
        workerEnding_ = true;
    }
    workerWake_.notify_all();
    worker_.join();
    host_->install({}, {}, {});
    // Disconnecting ends every procedure's streams first.
    PulseLoopLock control(control_);
    disconnectLocked();
}

bool PulseAudioSystem::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(mirrorMutex_);
    const MirrorObject* found = mirror_.find(object);
    if (!found)
        return false;
    if (object == audioSystemObject) {
        if (address.selector == AudioSelectors::translateUIDToDevice
            || address.selector == AudioSelectors::translatePIDToProcess)
            return true;
        if (address.selector == AudioSelectors::processes)
            return connected_;
    }
    if (found->kind == MirrorObject::Kind::device && address.selector == AudioSelectors::ioProcStreamUsage)
        return true;
    return found->properties.contains(address);
}

AudioStatus PulseAudioSystem::getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address,
                                                  std::uint32_t& size, const AudioPropertyValue* qualifier) const
{
    AudioPropertyValue value;
    const AudioStatus status = getPropertyData(object, address, value, qualifier);
    if (status == AudioStatuses::ok)
        size = audioByteSize(value);
    return status;
}

AudioStatus PulseAudioSystem::getPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                              AudioPropertyValue& value, const AudioPropertyValue* qualifier) const
{
    if (object == audioSystemObject && qualifier
        && (address.selector == AudioSelectors::defaultInputDevice
            || address.selector == AudioSelectors::defaultOutputDevice)) {
        const auto* ask = std::get_if<std::uint32_t>(qualifier);
        if (!ask || *ask != AudioSelectors::askTheServer)
            return AudioStatuses::badPropertySize;
        // Asking brings the answer into the mirror, which is what changes.
        if (const AudioStatus asked = const_cast<PulseAudioSystem*>(this)->askDefaults(); asked != AudioStatuses::ok)
            return asked;
    }
    std::lock_guard lock(mirrorMutex_);
    const MirrorObject* found = mirror_.find(object);
    if (!found) {
        if (gone_.contains(object) && address.selector == AudioSelectors::isAlive) {
            value = std::uint32_t{0};
            return AudioStatuses::ok;
        }
        return AudioStatuses::badObject;
    }
    if (object == audioSystemObject) {
        switch (address.selector) {
        case AudioSelectors::translateUIDToDevice: {
            const auto* uid = qualifier ? std::get_if<AudioString>(qualifier) : nullptr;
            if (!uid || !*uid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{mirror_.deviceWithUID(**uid)};
            return AudioStatuses::ok;
        }
        case AudioSelectors::translatePIDToProcess: {
            const auto* pid = qualifier ? std::get_if<std::uint32_t>(qualifier) : nullptr;
            if (!pid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{mirror_.processWithPID(static_cast<std::int32_t>(*pid))};
            return AudioStatuses::ok;
        }
        case AudioSelectors::processes:
            if (!connected_)
                return AudioStatuses::unknownProperty;
            break;
        default:
            break;
        }
    }
    if (found->kind == MirrorObject::Kind::device && address.selector == AudioSelectors::ioProcStreamUsage) {
        const auto& layout = found->properties.find({AudioSelectors::streamConfiguration, address.scope});
        const std::size_t streams = layout == found->properties.end()
            ? 0
            : std::get<AudioBufferLayout>(layout->second).channelsPerBuffer.size();
        AudioStreamUsage usage{0, std::vector<std::uint32_t>(streams, 1)};
        if (qualifier) {
            const auto* procID = std::get_if<std::uint32_t>(qualifier);
            auto proc = procID ? procs_.find(*procID) : procs_.end();
            if (proc == procs_.end() || proc->second->device != object)
                return AudioStatuses::illegalOperation;
            usage.procedure = *procID;
            const bool on = address.scope == AudioScope::input ? proc->second->inputOn : proc->second->outputOn;
            std::fill(usage.streamIsOn.begin(), usage.streamIsOn.end(), on ? 1u : 0u);
        }
        value = usage;
        return AudioStatuses::ok;
    }
    auto property = found->properties.find(address);
    if (property == found->properties.end())
        return AudioStatuses::unknownProperty;
    value = property->second;
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                              const AudioPropertyValue& value)
{
    if (object == audioSystemObject
        && (address.selector == AudioSelectors::defaultInputDevice
            || address.selector == AudioSelectors::defaultOutputDevice)) {
        const auto* device = std::get_if<std::uint32_t>(&value);
        if (!device)
            return AudioStatuses::badPropertySize;
        return setDefault(address.selector == AudioSelectors::defaultInputDevice, *device);
    }
    if (object == audioSystemObject && address.selector == AudioSelectors::publishedOriginalInput) {
        const auto* uid = std::get_if<AudioString>(&value);
        if (!uid)
            return AudioStatuses::badPropertySize;
        return publishOriginalInput(uid->value_or(""));
    }
    {
        std::lock_guard lock(mirrorMutex_);
        const MirrorObject* found = mirror_.find(object);
        if (!found)
            return AudioStatuses::badObject;
        if (found->kind == MirrorObject::Kind::device && address.selector == AudioSelectors::ioProcStreamUsage) {
            const auto* usage = std::get_if<AudioStreamUsage>(&value);
            if (!usage)
                return AudioStatuses::badPropertySize;
            auto proc = procs_.find(usage->procedure);
            if (proc == procs_.end() || proc->second->device != object)
                return AudioStatuses::illegalOperation;
            const bool on = std::any_of(usage->streamIsOn.begin(), usage->streamIsOn.end(),
                                        [](std::uint32_t flag) { return flag != 0; });
            (address.scope == AudioScope::input ? proc->second->inputOn : proc->second->outputOn) = on;
            return AudioStatuses::ok;
        }
        auto property = found->properties.find(address);
        if (property == found->properties.end())
            return AudioStatuses::unknownProperty;
        if (property->second.index() != value.index())
            return AudioStatuses::badPropertySize;
        if (found->kind != MirrorObject::Kind::device || found->aggregate
            || address.selector != AudioSelectors::bufferFrameSize)
            return AudioStatuses::unsupportedOperation;
        const auto frames = std::get<std::uint32_t>(value);
        if (frames == 0 || frames > 48000)
            return AudioStatuses::illegalOperation;
        const auto& uid = std::get<AudioString>(found->properties.at({AudioSelectors::deviceUID}));
        extras_.deviceValues[{uid.value_or(""), address}] = value;
    }
    republish();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::setDefault(bool input, AudioObjectId device)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::string name;
    {
        std::lock_guard lock(mirrorMutex_);
        const MirrorObject* found = mirror_.find(device);
        if (!found || found->kind != MirrorObject::Kind::device || found->aggregate)
            return AudioStatuses::badDevice;
        if (!connected_)
            return AudioStatuses::serverUnavailable;
        name = input ? found->sourceName : found->sinkName;
    }
    if (name.empty())
        return AudioStatuses::badDevice;
    PulseLoopLock control(control_);
    if (!context_)
        return AudioStatuses::serverUnavailable;
    // A server that did not answer would not answer a re-read either.
    const AudioStatus status = setDefaultLocked(input, name);
    if (status == AudioStatuses::unspecified)
        refreshLocked();
    return status;
}

AudioStatus PulseAudioSystem::setDefaultLocked(bool input, const std::string& name)
{
    PulseCompletion completion{&control_};
    pa_operation* operation = input
        ? pa_context_set_default_source(context_, name.c_str(), PulseCompletion::onSuccess, &completion)
        : pa_context_set_default_sink(context_, name.c_str(), PulseCompletion::onSuccess, &completion);
    if (!completion.wait(operation, writeDeadline))
        // A server too busy to answer in time still carries the request out
        // once it gets to it.
        return operation && !completion.done && context_ && pa_context_get_state(context_) == PA_CONTEXT_READY
            ? AudioStatuses::unanswered
            : AudioStatuses::unspecified;
    // Some servers acknowledge a new default a few milliseconds before they
    // apply it; the change event that follows brings it into the mirror, so
    // a read right after this call sees it. A server that acknowledged and
    // changed nothing is seen as such by that read.
    const bool applied = control_.waitLocked(
        [&] {
            std::lock_guard lock(mirrorMutex_);
            return (input ? state_.defaultSource : state_.defaultSink) == name;
        },
        settleDeadline);
    if (!applied)
        refreshLocked();
    return AudioStatuses::ok;
}

AudioListenerToken PulseAudioSystem::addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                         AudioCallbackQueue queue, AudioPropertyListener listener)
{
    if (!listener)
        return AudioListenerToken(AudioStatuses::illegalOperation);
    {
        std::lock_guard lock(mirrorMutex_);
        if (!mirror_.find(object))
            return AudioListenerToken(AudioStatuses::badObject);
    }
    auto registration = std::make_shared<Registration>();
    registration->object = object;
    registration->address = address;
    registration->queue = std::move(queue);
    registration->listener = std::move(listener);
    {
        std::lock_guard lock(listeners_->mutex);
        listeners_->entries.emplace(std::make_pair(object, address), registration);
    }
    std::weak_ptr<ListenerTable> table = listeners_;
    return AudioListenerToken([table, registration] {
        registration->end();
        auto live = table.lock();
        if (!live)
            return;
        std::lock_guard lock(live->mutex);
        auto [first, last] = live->entries.equal_range({registration->object, registration->address});
        for (auto entry = first; entry != last; ++entry)
            if (entry->second == registration) {
                live->entries.erase(entry);
                break;
            }
    });
}

}  // namespace parlaro::sys
