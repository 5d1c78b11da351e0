#include "platform/sim/SimAudioSystem.h"

#include "runtime/Runtime.h"

#include <algorithm>
#include <limits>

namespace parlaro::sim {

namespace {

using Kind = SimAudioCore::ObjectKind;

// What a call that "succeeds without a result" gives: the same kind of value,
// empty.
AudioPropertyValue blank(const AudioPropertyValue& value)
{
    return std::visit([](const auto& v) -> AudioPropertyValue { return std::decay_t<decltype(v)>{}; }, value);
}

std::vector<AudioObjectId> objectsInOrder(const SimAudioCore& core, Kind kind, bool listedOnly)
{
    std::vector<std::pair<std::uint64_t, AudioObjectId>> found;
    for (const auto& [id, object] : core.objects)
        if (object.kind == kind && (!listedOnly || object.listed))
            found.emplace_back(object.order, id);
    std::sort(found.begin(), found.end());
    std::vector<AudioObjectId> ids;
    for (const auto& entry : found)
        ids.push_back(entry.second);
    return ids;
}

// The value of a property as the server computes or stores it.
AudioStatus compute(const SimAudioCore& core, AudioObjectId object, const AudioPropertyAddress& address,
                    const AudioPropertyValue* qualifier, AudioPropertyValue& value)
{
    auto found = core.objects.find(object);
    if (found == core.objects.end())
        return AudioStatuses::badObject;
    const Kind kind = found->second.kind;
    if (kind == Kind::system
        && (address.selector == AudioSelectors::defaultInputDevice
            || address.selector == AudioSelectors::defaultOutputDevice)) {
        if (qualifier) {
            const auto* ask = std::get_if<std::uint32_t>(qualifier);
            if (!ask || *ask != AudioSelectors::askTheServer)
                return AudioStatuses::badPropertySize;
        } else if (auto heard = core.unannouncedDefaults.find(address.selector);
                   heard != core.unannouncedDefaults.end()) {
            value = heard->second;
            return AudioStatuses::ok;
        }
    }
    if (kind == Kind::system) {
        switch (address.selector) {
        case AudioSelectors::devices:
            value = objectsInOrder(core, Kind::device, true);
            return AudioStatuses::ok;
        case AudioSelectors::processes:
            if (!core.processListAvailable)
                return AudioStatuses::unknownProperty;
            value = objectsInOrder(core, Kind::process, false);
            return AudioStatuses::ok;
        case AudioSelectors::translateUIDToDevice: {
            const auto* uid = qualifier ? std::get_if<AudioString>(qualifier) : nullptr;
            if (!uid || !*uid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{core.deviceWithUID(**uid)};
            return AudioStatuses::ok;
        }
        case AudioSelectors::translatePIDToProcess: {
            const auto* pid = qualifier ? std::get_if<std::uint32_t>(qualifier) : nullptr;
            if (!pid)
                return AudioStatuses::badPropertySize;
            std::uint32_t process = audioUnknownObject;
            for (AudioObjectId id : objectsInOrder(core, Kind::process, false))
                if (core.number(id, {AudioSelectors::processPID}, 0) == *pid) {
                    process = id;
                    break;
                }
            value = process;
            return AudioStatuses::ok;
        }
        default:
            break;
        }
    }
    if (kind == Kind::device && address.selector == AudioSelectors::ioProcStreamUsage) {
        const std::size_t streams = core.layout(object, address.scope).size();
        AudioStreamUsage usage{0, std::vector<std::uint32_t>(streams, 1)};
        if (qualifier) {
            const auto* proc = std::get_if<std::uint32_t>(qualifier);
            auto registered = proc ? core.procs.find(*proc) : core.procs.end();
            if (registered == core.procs.end() || registered->second.device != object)
                return AudioStatuses::illegalOperation;
            usage.procedure = *proc;
            auto stored = core.streamUsage.find({object, address.scope, *proc});
            if (stored != core.streamUsage.end())
                usage.streamIsOn = stored->second;
        }
        value = usage;
        return AudioStatuses::ok;
    }
    const AudioPropertyValue* stored = core.stored(object, address);
    if (!stored)
        return AudioStatuses::unknownProperty;
    value = *stored;
    return AudioStatuses::ok;
}

}  // namespace

SimAudioSystem::SimAudioSystem() : core_(std::make_shared<SimAudioCore>()), scope_(*this)
{
    SimAudioCore::Object system;
    system.kind = Kind::system;
    system.properties[{AudioSelectors::defaultInputDevice}] = std::uint32_t{0};
    system.properties[{AudioSelectors::defaultOutputDevice}] = std::uint32_t{0};
    system.properties[{AudioSelectors::serviceRestarted}] = std::uint32_t{0};
    core_->objects.emplace(audioSystemObject, std::move(system));
}

SimAudioSystem::~SimAudioSystem() = default;

bool SimAudioSystem::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    if (core_->takeFailure(object, address.selector, AudioOperation::hasProperty))
        return false;
    auto found = core_->objects.find(object);
    if (found == core_->objects.end())
        return false;
    if (found->second.kind == Kind::system) {
        if (address.selector == AudioSelectors::translateUIDToDevice
            || address.selector == AudioSelectors::translatePIDToProcess || address.selector == AudioSelectors::devices)
            return true;
        if (address.selector == AudioSelectors::processes)
            return core_->processListAvailable;
    }
    if (found->second.kind == Kind::device && address.selector == AudioSelectors::ioProcStreamUsage)
        return true;
    return core_->stored(object, address) != nullptr;
}

AudioStatus SimAudioSystem::getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address,
                                                std::uint32_t& size, const AudioPropertyValue* qualifier) const
{
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(object, address.selector, AudioOperation::getPropertyDataSize)) {
        if (*failure != AudioStatuses::ok)
            return *failure;
        size = 0;
        return AudioStatuses::ok;
    }
    AudioPropertyValue value;
    const AudioStatus status = compute(*core_, object, address, qualifier, value);
    if (status == AudioStatuses::ok)
        size = audioByteSize(value);
    return status;
}

AudioStatus SimAudioSystem::getPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                            AudioPropertyValue& value, const AudioPropertyValue* qualifier) const
{
    // A default asked of the server tells listeners what it had kept quiet.
    std::vector<std::shared_ptr<SimAudioCore::Registration>> told;
    const AudioStatus result = [&] {
        std::lock_guard lock(core_->mutex);
        auto failure = core_->takeFailure(object, address.selector, AudioOperation::getPropertyData);
        if (failure && *failure != AudioStatuses::ok)
            return *failure;
        AudioPropertyValue computed;
        const AudioStatus status = compute(*core_, object, address, qualifier, computed);
        if (failure) {
            value = status == AudioStatuses::ok ? blank(computed) : AudioPropertyValue(AudioString{});
            return AudioStatuses::ok;
        }
        if (status != AudioStatuses::ok)
            return status;
        value = std::move(computed);
        if (object == audioSystemObject && qualifier)
            told = core_->catchUpDefault(address.selector);
        return status;
    }();
    SimAudioCore::deliver(core_, told, address);
    return result;
}

AudioStatus SimAudioSystem::setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                            const AudioPropertyValue& value)
{
    // A write that changes a value notifies its listeners, as the server does.
    std::vector<std::shared_ptr<SimAudioCore::Registration>> changed;
    AudioPropertyAddress changedAddress = address;
    const AudioStatus result = [&] {
        std::lock_guard lock(core_->mutex);
        auto answer = [&](AudioStatus status) {
            core_->events.push_back({SimAudioEvent::Kind::set, object, address, "", 0, status, value});
            return status;
        };
        if (auto failure = core_->takeFailure(object, address.selector, AudioOperation::setPropertyData))
            return answer(*failure);
        auto found = core_->objects.find(object);
        if (found == core_->objects.end())
            return answer(AudioStatuses::badObject);
        auto& properties = found->second.properties;

        if (found->second.kind == Kind::system
            && (address.selector == AudioSelectors::defaultInputDevice
                || address.selector == AudioSelectors::defaultOutputDevice)) {
            const auto* device = std::get_if<std::uint32_t>(&value);
            if (!device)
                return answer(AudioStatuses::badPropertySize);
            auto target = core_->objects.find(*device);
            if (target == core_->objects.end() || target->second.kind != Kind::device)
                return answer(AudioStatuses::badDevice);
            const bool input = address.selector == AudioSelectors::defaultInputDevice;
            if (input ? core_->switchInput : core_->switchOutput) {
                changedAddress = AudioPropertyAddress{address.selector};
                if (core_->number(audioSystemObject, changedAddress, 0) != *device)
                    changed = core_->defaultListeners(address.selector);
                properties[changedAddress] = *device;
            }
            return answer(AudioStatuses::ok);
        }
        if (found->second.kind == Kind::device && address.selector == AudioSelectors::ioProcStreamUsage) {
            const auto* usage = std::get_if<AudioStreamUsage>(&value);
            if (!usage)
                return answer(AudioStatuses::badPropertySize);
            auto proc = core_->procs.find(usage->procedure);
            if (proc == core_->procs.end() || proc->second.device != object)
                return answer(AudioStatuses::illegalOperation);
            core_->streamUsage[{object, address.scope, usage->procedure}] = usage->streamIsOn;
            return answer(AudioStatuses::ok);
        }
        auto stored = properties.find(address);
        if (stored == properties.end())
            return answer(AudioStatuses::unknownProperty);
        if (stored->second.index() != value.index())
            return answer(AudioStatuses::badPropertySize);
        if (stored->second != value)
            changed = core_->listenersOf(object, address);
        stored->second = value;
        return answer(AudioStatuses::ok);
    }();
    SimAudioCore::deliver(core_, changed, changedAddress);
    return result;
}

AudioListenerToken SimAudioSystem::addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                       AudioCallbackQueue queue, AudioPropertyListener listener)
{
    return SimAudioCore::addListener(core_, object, address, std::move(queue), std::move(listener));
}

AudioStatus SimAudioSystem::createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id)
{
    std::lock_guard lock(core_->mutex);
    id = 0;
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::createIOProc))
        return *failure;
    auto found = core_->objects.find(device);
    if (found == core_->objects.end() || found->second.kind != Kind::device)
        return AudioStatuses::badObject;
    if (!proc)
        return AudioStatuses::illegalOperation;
    id = core_->nextProc++;
    core_->procs.emplace(id, SimAudioCore::IOProc{device, proc, context, false});
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::destroyIOProc(AudioObjectId device, AudioIOProcId id)
{
    std::unique_lock lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::destroyIOProc))
        return *failure;
    auto proc = core_->procs.find(id);
    if (proc == core_->procs.end() || proc->second.device != device)
        return AudioStatuses::illegalOperation;
    // The procedure's context may be freed once this returns.
    core_->procs.erase(proc);
    core_->waitForCyclesLocked(lock, device);
    std::erase_if(core_->streamUsage, [id](const auto& entry) { return std::get<2>(entry.first) == id; });
    const bool anyStarted = std::any_of(core_->procs.begin(), core_->procs.end(), [device](const auto& entry) {
        return entry.second.device == device && entry.second.started;
    });
    if (!anyStarted)
        core_->clocks.erase(device);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::startDevice(AudioObjectId device, AudioIOProcId id)
{
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::startDevice))
        return *failure;
    auto proc = core_->procs.find(id);
    if (proc == core_->procs.end() || proc->second.device != device)
        return AudioStatuses::illegalOperation;
    proc->second.started = true;
    if (!core_->clocks.contains(device))
        core_->clocks.emplace(device, SimAudioCore::DeviceClock{0, rt::clock().hostTime()});
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::stopDevice(AudioObjectId device, AudioIOProcId id)
{
    std::unique_lock lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::stopDevice))
        return *failure;
    auto proc = core_->procs.find(id);
    if (proc == core_->procs.end() || proc->second.device != device)
        return AudioStatuses::illegalOperation;
    proc->second.started = false;
    // As on the server, a stop returns only after a cycle in flight ended.
    core_->waitForCyclesLocked(lock, device);
    const bool anyStarted = std::any_of(core_->procs.begin(), core_->procs.end(), [device](const auto& entry) {
        return entry.second.device == device && entry.second.started;
    });
    if (!anyStarted)
        core_->clocks.erase(device);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap)
{
    std::lock_guard lock(core_->mutex);
    tap = audioUnknownObject;
    if (auto failure = core_->takeFailure(anyObject, anySelector, AudioOperation::createProcessTap))
        return *failure;
    tap = core_->generateId();
    SimAudioCore::Object object;
    object.kind = Kind::tap;
    object.order = core_->nextOrder++;
    object.properties[{AudioSelectors::tapFormat}] = core_->tapFormat;
    object.properties[{AudioSelectors::tapUID}] = AudioString(description.uuid.toString());
    core_->objects.emplace(tap, std::move(object));
    core_->taps.emplace(tap, description);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::destroyProcessTap(AudioObjectId tap)
{
    std::vector<std::shared_ptr<SimAudioCore::Registration>> dropped;
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(tap, anySelector, AudioOperation::destroyProcessTap))
        return *failure;
    if (!core_->taps.contains(tap))
        return AudioStatuses::badObject;
    dropped = core_->removeObjectLocked(tap);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::createAggregateDevice(const AggregateDeviceDescription& description, AudioObjectId& device)
{
    std::vector<Change> changes;
    const AudioStatus result = [&] {
        std::lock_guard lock(core_->mutex);
        device = audioUnknownObject;
        if (auto failure = core_->takeFailure(anyObject, anySelector, AudioOperation::createAggregateDevice))
            return *failure;
        AudioStreamDescription format = core_->tapFormat;
        for (const auto& [id, tap] : core_->taps) {
            if (std::find(description.tapUIDs.begin(), description.tapUIDs.end(), tap.uuid.toString())
                == description.tapUIDs.end())
                continue;
            if (const auto* tapFormat = core_->stored(id, {AudioSelectors::tapFormat}))
                format = std::get<AudioStreamDescription>(*tapFormat);
            break;
        }
        const bool interleaved = (format.formatFlags & AudioStreamDescription::flagNonInterleaved) == 0;
        AudioBufferLayout input;
        if (interleaved)
            input.channelsPerBuffer = {format.channelsPerFrame};
        else
            input.channelsPerBuffer.assign(format.channelsPerFrame, 1);

        device = core_->generateId();
        SimAudioCore::Object object;
        object.kind = Kind::device;
        object.order = core_->nextOrder++;
        auto& p = object.properties;
        p[{AudioSelectors::deviceUID}] = AudioString(description.uid);
        p[{AudioSelectors::name}] = AudioString(description.name);
        p[{AudioSelectors::streamConfiguration, AudioScope::input}] = input;
        p[{AudioSelectors::streamConfiguration, AudioScope::output}] = AudioBufferLayout{};
        p[{AudioSelectors::transportType}] = std::uint32_t{AudioTransports::aggregate};
        p[{AudioSelectors::nominalSampleRate}] = format.sampleRate;
        p[{AudioSelectors::availableNominalSampleRates}] =
            std::vector<AudioValueRange>{{format.sampleRate, format.sampleRate}};
        p[{AudioSelectors::isAlive}] = std::uint32_t{1};
        p[{AudioSelectors::bufferFrameSize}] = std::uint32_t{512};
        p[{AudioSelectors::safetyOffset, AudioScope::input}] = std::uint32_t{0};
        p[{AudioSelectors::safetyOffset, AudioScope::output}] = std::uint32_t{0};
        core_->objects.emplace(device, std::move(object));
        core_->aggregates.emplace(device, description);
        collectListChange(Kind::device, true, changes);
        return AudioStatuses::ok;
    }();
    deliver(changes);
    return result;
}

AudioStatus SimAudioSystem::destroyAggregateDevice(AudioObjectId device)
{
    std::vector<Change> changes;
    const AudioStatus result = [&] {
        std::vector<std::shared_ptr<SimAudioCore::Registration>> dropped;
        std::lock_guard lock(core_->mutex);
        if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::destroyAggregateDevice))
            return *failure;
        if (!core_->aggregates.contains(device))
            return AudioStatuses::badObject;
        changes.push_back({core_->listenersOf(device, {AudioSelectors::isAlive}), {AudioSelectors::isAlive}});
        dropped = core_->removeObjectLocked(device);
        collectListChange(Kind::device, true, changes);
        collectDefaultRepair(device, changes);
        return AudioStatuses::ok;
    }();
    deliver(changes);
    return result;
}

AudioStatus SimAudioSystem::newQueue(SimAudioQueue::Direction direction, const AudioStreamDescription& format,
                                     AudioQueueOutputCallback output, AudioQueueInputCallback input, void* userData,
                                     std::shared_ptr<AudioQueue>& queue)
{
    std::lock_guard lock(core_->mutex);
    queue.reset();
    if (auto failure = core_->takeFailure(anyObject, anySelector, AudioOperation::newQueue))
        return *failure;
    if ((!output && !input) || !format.audioFormat())
        return AudioStatuses::illegalOperation;
    const AudioObjectId id = core_->generateId();
    core_->objects[id].kind = Kind::queue;
    auto made = std::make_shared<SimAudioQueue>(core_, id, direction, format, output, input, userData);
    core_->queues.push_back(made);
    queue = std::move(made);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                                           void* userData, std::shared_ptr<AudioQueue>& queue)
{
    return newQueue(SimAudioQueue::Direction::output, format, callback, nullptr, userData, queue);
}

AudioStatus SimAudioSystem::newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                          void* userData, std::shared_ptr<AudioQueue>& queue)
{
    return newQueue(SimAudioQueue::Direction::input, format, nullptr, callback, userData, queue);
}

std::shared_ptr<AudioInputEngine> SimAudioSystem::makeInputEngine()
{
    std::lock_guard lock(core_->mutex);
    const AudioObjectId id = core_->generateId();
    // The engine's object outlives the engine, so an observer it leaves
    // registered stays visible in listeners().
    core_->objects[id].kind = Kind::engine;
    auto engine = std::make_shared<SimInputEngine>(core_, id);
    core_->engines.push_back(engine);
    return engine;
}

std::int32_t SimAudioSystem::currentProcessID() const
{
    std::lock_guard lock(core_->mutex);
    return core_->processID;
}

}  // namespace parlaro::sim
