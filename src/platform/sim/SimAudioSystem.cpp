#include "platform/sim/SimAudioSystem.h"

#include "runtime/Runtime.h"

#include <algorithm>
#include <limits>

namespace parlaro::sim {

namespace {

using Kind = SimAudioCore::ObjectKind;

constexpr AudioSelector selDevices = "dev#"_fcc;
constexpr AudioSelector selProcesses = "prs#"_fcc;
constexpr AudioSelector selTranslateUID = "uidd"_fcc;
constexpr AudioSelector selTranslatePID = "id2p"_fcc;
constexpr AudioSelector selDefaultInput = "dIn "_fcc;
constexpr AudioSelector selDefaultOutput = "dOut"_fcc;
constexpr AudioSelector selStreamUsage = "suse"_fcc;

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
    if (kind == Kind::system) {
        switch (address.selector) {
        case selDevices:
            value = objectsInOrder(core, Kind::device, true);
            return AudioStatuses::ok;
        case selProcesses:
            if (!core.processListAvailable)
                return AudioStatuses::unknownProperty;
            value = objectsInOrder(core, Kind::process, false);
            return AudioStatuses::ok;
        case selTranslateUID: {
            const auto* uid = qualifier ? std::get_if<AudioString>(qualifier) : nullptr;
            if (!uid || !*uid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{core.deviceWithUID(**uid)};
            return AudioStatuses::ok;
        }
        case selTranslatePID: {
            const auto* pid = qualifier ? std::get_if<std::uint32_t>(qualifier) : nullptr;
            if (!pid)
                return AudioStatuses::badPropertySize;
            std::uint32_t process = audioUnknownObject;
            for (AudioObjectId id : objectsInOrder(core, Kind::process, false))
                if (core.number(id, {"ppid"_fcc}, 0) == *pid) {
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
    if (kind == Kind::device && address.selector == selStreamUsage) {
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

} // namespace

SimAudioSystem::SimAudioSystem() : core_(std::make_shared<SimAudioCore>()), scope_(*this)
{
    SimAudioCore::Object system;
    system.kind = Kind::system;
    system.properties[{selDefaultInput}] = std::uint32_t{0};
    system.properties[{selDefaultOutput}] = std::uint32_t{0};
    system.properties[{"srst"_fcc}] = std::uint32_t{0};
    core_->objects.emplace(audioSystemObject, std::move(system));
}

SimAudioSystem::~SimAudioSystem() = default;

// MARK: properties

bool SimAudioSystem::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    if (core_->takeFailure(object, address.selector, AudioOperation::hasProperty))
        return false;
    auto found = core_->objects.find(object);
    if (found == core_->objects.end())
        return false;
    if (found->second.kind == Kind::system) {
        if (address.selector == selTranslateUID || address.selector == selTranslatePID
            || address.selector == selDevices)
            return true;
        if (address.selector == selProcesses)
            return core_->processListAvailable;
    }
    if (found->second.kind == Kind::device && address.selector == selStreamUsage)
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
    if (status == AudioStatuses::ok)
        value = std::move(computed);
    return status;
}

AudioStatus SimAudioSystem::setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                            const AudioPropertyValue& value)
{
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
        && (address.selector == selDefaultInput || address.selector == selDefaultOutput)) {
        const auto* device = std::get_if<std::uint32_t>(&value);
        if (!device)
            return answer(AudioStatuses::badPropertySize);
        auto target = core_->objects.find(*device);
        if (target == core_->objects.end() || target->second.kind != Kind::device)
            return answer(AudioStatuses::badDevice);
        const bool input = address.selector == selDefaultInput;
        if (input ? core_->switchInput : core_->switchOutput)
            properties[{address.selector}] = *device;
        return answer(AudioStatuses::ok);
    }
    if (found->second.kind == Kind::device && address.selector == selStreamUsage) {
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
    stored->second = value;
    return answer(AudioStatuses::ok);
}

AudioListenerToken SimAudioSystem::addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                       AudioCallbackQueue queue, AudioPropertyListener listener)
{
    return SimAudioCore::addListener(core_, object, address, std::move(queue), std::move(listener));
}

// MARK: I/O procedures

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
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::destroyIOProc))
        return *failure;
    auto proc = core_->procs.find(id);
    if (proc == core_->procs.end() || proc->second.device != device)
        return AudioStatuses::illegalOperation;
    core_->procs.erase(proc);
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
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::stopDevice))
        return *failure;
    auto proc = core_->procs.find(id);
    if (proc == core_->procs.end() || proc->second.device != device)
        return AudioStatuses::illegalOperation;
    proc->second.started = false;
    const bool anyStarted = std::any_of(core_->procs.begin(), core_->procs.end(), [device](const auto& entry) {
        return entry.second.device == device && entry.second.started;
    });
    if (!anyStarted)
        core_->clocks.erase(device);
    return AudioStatuses::ok;
}

// MARK: taps and aggregate devices

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
    object.properties[{"tfmt"_fcc}] = core_->tapFormat;
    object.properties[{"tuid"_fcc}] = AudioString(description.uuid.toString());
    core_->objects.emplace(tap, std::move(object));
    core_->taps.emplace(tap, description);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::destroyProcessTap(AudioObjectId tap)
{
    std::vector<SimAudioCore::Registration> dropped;
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(tap, anySelector, AudioOperation::destroyProcessTap))
        return *failure;
    if (!core_->taps.contains(tap))
        return AudioStatuses::badObject;
    dropped = core_->removeObjectLocked(tap);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::createAggregateDevice(const AggregateDeviceDescription& description,
                                                  AudioObjectId& device)
{
    std::lock_guard lock(core_->mutex);
    device = audioUnknownObject;
    if (auto failure = core_->takeFailure(anyObject, anySelector, AudioOperation::createAggregateDevice))
        return *failure;
    AudioStreamDescription format = core_->tapFormat;
    for (const auto& [id, tap] : core_->taps) {
        if (std::find(description.tapUIDs.begin(), description.tapUIDs.end(), tap.uuid.toString())
            == description.tapUIDs.end())
            continue;
        if (const auto* tapFormat = core_->stored(id, {"tfmt"_fcc}))
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
    p[{"uid "_fcc}] = AudioString(description.uid);
    p[{"lnam"_fcc}] = AudioString(description.name);
    p[{"slay"_fcc, AudioScope::input}] = input;
    p[{"slay"_fcc, AudioScope::output}] = AudioBufferLayout{};
    p[{"tran"_fcc}] = std::uint32_t{"grup"_fcc};
    p[{"nsrt"_fcc}] = format.sampleRate;
    p[{"nsr#"_fcc}] = std::vector<AudioValueRange>{{format.sampleRate, format.sampleRate}};
    p[{"livn"_fcc}] = std::uint32_t{1};
    p[{"fsiz"_fcc}] = std::uint32_t{512};
    p[{"saft"_fcc, AudioScope::input}] = std::uint32_t{0};
    p[{"saft"_fcc, AudioScope::output}] = std::uint32_t{0};
    core_->objects.emplace(device, std::move(object));
    core_->aggregates.emplace(device, description);
    return AudioStatuses::ok;
}

AudioStatus SimAudioSystem::destroyAggregateDevice(AudioObjectId device)
{
    std::vector<SimAudioCore::Registration> dropped;
    std::lock_guard lock(core_->mutex);
    if (auto failure = core_->takeFailure(device, anySelector, AudioOperation::destroyAggregateDevice))
        return *failure;
    if (!core_->aggregates.contains(device))
        return AudioStatuses::badObject;
    dropped = core_->removeObjectLocked(device);
    return AudioStatuses::ok;
}

// MARK: queues and engines

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

// MARK: building the world

void SimAudioSystem::addDevice(const SimDevice& device)
{
    SimAudioCore::Object object;
    object.kind = Kind::device;
    object.listed = device.listed;
    object.ppm = device.ppm;
    auto& p = object.properties;
    p[{"uid "_fcc}] = AudioString(device.uid);
    if (device.name)
        p[{"lnam"_fcc}] = AudioString(*device.name);
    p[{"slay"_fcc, AudioScope::input}] = AudioBufferLayout{device.inputBuffers};
    p[{"slay"_fcc, AudioScope::output}] = AudioBufferLayout{device.outputBuffers};
    p[{"tran"_fcc}] = device.transportType;
    if (device.outputSource)
        p[{"ssrc"_fcc, AudioScope::output}] = *device.outputSource;
    p[{"nsrt"_fcc}] = device.nominalRate;
    p[{"nsr#"_fcc}] = device.availableRates.empty()
        ? std::vector<AudioValueRange>{{device.nominalRate, device.nominalRate}}
        : device.availableRates;
    p[{"livn"_fcc}] = std::uint32_t{device.alive ? 1u : 0u};
    p[{"fsiz"_fcc}] = device.bufferFrames;
    p[{"saft"_fcc, AudioScope::input}] = device.inputSafetyOffset;
    p[{"saft"_fcc, AudioScope::output}] = device.outputSafetyOffset;
    p[{"over"_fcc}] = std::uint32_t{0};
    for (const auto& [selector, value] : device.custom)
        p[{selector}] = value;
    std::lock_guard lock(core_->mutex);
    object.order = core_->nextOrder++;
    core_->objects[device.id] = std::move(object);
}

void SimAudioSystem::addProcess(const SimProcess& process)
{
    SimAudioCore::Object object;
    object.kind = Kind::process;
    auto& p = object.properties;
    p[{"ppid"_fcc}] = static_cast<std::uint32_t>(process.pid);
    if (process.bundleID)
        p[{"pbid"_fcc}] = AudioString(*process.bundleID);
    p[{"piri"_fcc}] = std::uint32_t{process.runningInput ? 1u : 0u};
    p[{"piro"_fcc}] = std::uint32_t{process.runningOutput ? 1u : 0u};
    p[{"pdv#"_fcc, AudioScope::input}] = process.inputDevices;
    p[{"pdv#"_fcc, AudioScope::output}] = process.outputDevices;
    object.signal = process.output;
    std::lock_guard lock(core_->mutex);
    object.order = core_->nextOrder++;
    core_->objects[process.id] = std::move(object);
}

void SimAudioSystem::removeObject(AudioObjectId object)
{
    std::vector<SimAudioCore::Registration> dropped;
    std::lock_guard lock(core_->mutex);
    if (object != audioSystemObject)
        dropped = core_->removeObjectLocked(object);
}

void SimAudioSystem::store(AudioObjectId object, const AudioPropertyAddress& address, AudioPropertyValue value)
{
    std::lock_guard lock(core_->mutex);
    auto found = core_->objects.find(object);
    if (found != core_->objects.end())
        found->second.properties[address] = std::move(value);
}

void SimAudioSystem::removeProperty(AudioObjectId object, const AudioPropertyAddress& address)
{
    std::lock_guard lock(core_->mutex);
    auto found = core_->objects.find(object);
    if (found != core_->objects.end())
        found->second.properties.erase(address);
}

std::optional<AudioPropertyValue> SimAudioSystem::storedValue(AudioObjectId object,
                                                              const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    const auto* value = core_->stored(object, address);
    return value ? std::optional(*value) : std::nullopt;
}

void SimAudioSystem::setDefaultDevice(bool input, AudioObjectId device)
{
    store(audioSystemObject, {input ? selDefaultInput : selDefaultOutput}, std::uint32_t{device});
}

std::optional<AudioObjectId> SimAudioSystem::defaultDevice(bool input) const
{
    std::lock_guard lock(core_->mutex);
    const std::uint32_t device = core_->number(audioSystemObject, {input ? selDefaultInput : selDefaultOutput}, 0);
    return device == 0 ? std::nullopt : std::optional(device);
}

void SimAudioSystem::setDefaultSwitch(bool input, DefaultSwitch behaviour)
{
    std::lock_guard lock(core_->mutex);
    (input ? core_->switchInput : core_->switchOutput) = behaviour == DefaultSwitch::takesEffect;
}

void SimAudioSystem::setProcessListAvailable(bool available)
{
    std::lock_guard lock(core_->mutex);
    core_->processListAvailable = available;
}

void SimAudioSystem::setCurrentProcessID(std::int32_t pid)
{
    std::lock_guard lock(core_->mutex);
    core_->processID = pid;
}

void SimAudioSystem::setTapFormat(const AudioStreamDescription& format)
{
    std::lock_guard lock(core_->mutex);
    core_->tapFormat = format;
}

// MARK: failures, notifications, the record

void SimAudioSystem::fail(AudioObjectId object, AudioSelector selector, AudioOperation operation,
                          AudioStatus status, int times)
{
    std::lock_guard lock(core_->mutex);
    if (times == 0)
        core_->failures.erase({object, selector, operation});
    else
        core_->failures[{object, selector, operation}] = {status, times};
}

void SimAudioSystem::clearFailures()
{
    std::lock_guard lock(core_->mutex);
    core_->failures.clear();
}

void SimAudioSystem::notify(AudioObjectId object, const AudioPropertyAddress& address)
{
    SimAudioCore::notify(core_, object, address);
}

std::vector<SimAudioEvent> SimAudioSystem::events() const
{
    std::lock_guard lock(core_->mutex);
    return core_->events;
}

void SimAudioSystem::clearEvents()
{
    std::lock_guard lock(core_->mutex);
    core_->events.clear();
}

std::vector<SimListener> SimAudioSystem::listeners() const
{
    std::lock_guard lock(core_->mutex);
    std::vector<SimListener> result;
    for (const auto& [id, registration] : core_->registrations)
        result.push_back({id, registration.object, registration.address, registration.queue.label()});
    return result;
}

std::size_t SimAudioSystem::listenerCount(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    return static_cast<std::size_t>(
        std::count_if(core_->registrations.begin(), core_->registrations.end(), [&](const auto& entry) {
            return entry.second.object == object && entry.second.address == address;
        }));
}

std::vector<SimAudioEvent> SimAudioSystem::sets(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    std::vector<SimAudioEvent> result;
    for (const auto& event : core_->events)
        if (event.kind == SimAudioEvent::Kind::set && event.object == object && event.address == address)
            result.push_back(event);
    return result;
}

// MARK: device I/O

void SimAudioSystem::setInputSignal(AudioObjectId device, SimSignal signal)
{
    std::lock_guard lock(core_->mutex);
    auto found = core_->objects.find(device);
    if (found != core_->objects.end())
        found->second.signal = std::move(signal);
}

void SimAudioSystem::setProcessOutput(AudioObjectId process, SimSignal signal)
{
    std::lock_guard lock(core_->mutex);
    auto found = core_->objects.find(process);
    if (found != core_->objects.end() && found->second.kind == Kind::process)
        found->second.signal = std::move(signal);
}

namespace {

// Under the lock: what an aggregate device's taps hear, the sum of the output
// of every process that one of its taps does not exclude. Empty when none
// plays.
SimSignal tappedMix(const SimAudioCore& core, const AggregateDeviceDescription& aggregate)
{
    std::vector<SimSignal> heard;
    for (const auto& [tapID, tap] : core.taps) {
        if (std::find(aggregate.tapUIDs.begin(), aggregate.tapUIDs.end(), tap.uuid.toString())
            == aggregate.tapUIDs.end())
            continue;
        for (const auto& [id, object] : core.objects) {
            if (object.kind != SimAudioCore::ObjectKind::process || !object.signal)
                continue;
            if (std::find(tap.excludedProcesses.begin(), tap.excludedProcesses.end(), id)
                == tap.excludedProcesses.end())
                heard.push_back(object.signal);
        }
    }
    if (heard.empty())
        return {};
    return [heard = std::move(heard)](std::uint32_t channel, double sampleTime) {
        float sum = 0.0f;
        for (const SimSignal& signal : heard)
            sum += signal(channel, sampleTime);
        return sum;
    };
}

} // namespace

AudioStatus SimAudioSystem::runIOCycle(AudioObjectId device, std::uint32_t frames)
{
    struct Target {
        AudioIOProc proc;
        void* context;
    };
    std::vector<Target> targets;
    std::vector<std::uint32_t> inputLayout;
    std::vector<std::uint32_t> outputLayout;
    SimSignal signal;
    AudioTimeStamp now;
    AudioTimeStamp inputTime;
    AudioTimeStamp outputTime;
    double rate;
    {
        std::lock_guard lock(core_->mutex);
        auto object = core_->objects.find(device);
        if (object == core_->objects.end())
            return AudioStatuses::badObject;
        auto clock = core_->clocks.find(device);
        for (const auto& [id, proc] : core_->procs)
            if (proc.device == device && proc.started)
                targets.push_back({proc.proc, proc.context});
        if (targets.empty() || clock == core_->clocks.end())
            return AudioStatuses::notRunning;
        if (frames == 0)
            frames = core_->number(device, {"fsiz"_fcc}, 512);
        if (frames == 0)
            return AudioStatuses::illegalOperation;
        inputLayout = core_->layout(device, AudioScope::input);
        outputLayout = core_->layout(device, AudioScope::output);
        signal = object->second.signal;
        if (!signal && core_->aggregates.contains(device))
            signal = tappedMix(*core_, core_->aggregates.at(device));
        rate = core_->effectiveRate(device);
        const double inputOffset = core_->number(device, {"saft"_fcc, AudioScope::input}, 0);
        const double outputOffset = core_->number(device, {"saft"_fcc, AudioScope::output}, 0);
        const auto stamp = [&](double sample) {
            AudioTimeStamp time;
            time.sampleTime = sample;
            time.hostTime = hostTicks(clock->second.hostAtNext + (sample - clock->second.nextSample) / rate);
            time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
            return time;
        };
        const double start = clock->second.nextSample;
        inputTime = stamp(start);
        now = stamp(start + frames + inputOffset);
        outputTime = stamp(start + frames + inputOffset + outputOffset);
    }

    auto makeBuffers = [frames](const std::vector<std::uint32_t>& layout, std::vector<std::vector<float>>& storage,
                                std::vector<AudioIOBuffer>& buffers) {
        storage.clear();
        buffers.clear();
        for (std::uint32_t channels : layout) {
            storage.emplace_back(static_cast<std::size_t>(frames) * channels, 0.0f);
            buffers.push_back({channels, static_cast<std::uint32_t>(frames * channels * sizeof(float)),
                               storage.back().data()});
        }
    };
    std::vector<std::vector<float>> inputStorage;
    std::vector<AudioIOBuffer> input;
    makeBuffers(inputLayout, inputStorage, input);
    if (signal) {
        std::uint32_t firstChannel = 0;
        for (std::size_t b = 0; b < inputLayout.size(); ++b) {
            const std::uint32_t channels = inputLayout[b];
            for (std::uint32_t frame = 0; frame < frames; ++frame)
                for (std::uint32_t c = 0; c < channels; ++c)
                    inputStorage[b][frame * channels + c] = signal(firstChannel + c, inputTime.sampleTime + frame);
            firstChannel += channels;
        }
    }

    std::vector<std::vector<float>> mix;
    for (std::uint32_t channels : outputLayout)
        mix.emplace_back(static_cast<std::size_t>(frames) * channels, 0.0f);
    std::vector<std::vector<float>> outputStorage;
    std::vector<AudioIOBuffer> output;
    for (const Target& target : targets) {
        makeBuffers(outputLayout, outputStorage, output);
        target.proc(device, now, std::span<const AudioIOBuffer>(input), inputTime, std::span<AudioIOBuffer>(output),
                    outputTime, target.context);
        for (std::size_t b = 0; b < mix.size(); ++b)
            for (std::size_t i = 0; i < mix[b].size(); ++i)
                mix[b][i] += outputStorage[b][i];
    }

    std::lock_guard lock(core_->mutex);
    auto& played = core_->outputs[device];
    std::uint32_t firstChannel = 0;
    for (std::size_t b = 0; b < outputLayout.size(); ++b) {
        const std::uint32_t channels = outputLayout[b];
        if (played.size() < firstChannel + channels)
            played.resize(firstChannel + channels);
        for (std::uint32_t frame = 0; frame < frames; ++frame)
            for (std::uint32_t c = 0; c < channels; ++c)
                played[firstChannel + c].push_back(mix[b][frame * channels + c]);
        firstChannel += channels;
    }
    auto clock = core_->clocks.find(device);
    if (clock != core_->clocks.end()) {
        clock->second.nextSample += frames;
        clock->second.hostAtNext += frames / rate;
    }
    return AudioStatuses::ok;
}

std::size_t SimAudioSystem::runIOUntil(double hostSeconds)
{
    std::size_t cycles = 0;
    for (;;) {
        AudioObjectId next = audioUnknownObject;
        {
            std::lock_guard lock(core_->mutex);
            double earliest = std::numeric_limits<double>::infinity();
            for (const auto& [device, clock] : core_->clocks) {
                const std::uint32_t frames = core_->number(device, {"fsiz"_fcc}, 512);
                if (frames == 0)
                    continue;
                const double inputOffset = core_->number(device, {"saft"_fcc, AudioScope::input}, 0);
                const double due = clock.hostAtNext + (frames + inputOffset) / core_->effectiveRate(device);
                if (due < earliest) {
                    earliest = due;
                    next = device;
                }
            }
            if (next == audioUnknownObject || earliest > hostSeconds + 1e-12)
                break;
        }
        if (runIOCycle(next) != AudioStatuses::ok)
            break;
        ++cycles;
    }
    return cycles;
}

std::vector<float> SimAudioSystem::output(AudioObjectId device, std::uint32_t channel) const
{
    std::lock_guard lock(core_->mutex);
    auto found = core_->outputs.find(device);
    if (found == core_->outputs.end() || channel >= found->second.size())
        return {};
    return found->second[channel];
}

void SimAudioSystem::clearOutput(AudioObjectId device)
{
    std::lock_guard lock(core_->mutex);
    core_->outputs.erase(device);
}

std::vector<SimIOProcInfo> SimAudioSystem::ioProcs() const
{
    std::lock_guard lock(core_->mutex);
    std::vector<SimIOProcInfo> result;
    for (const auto& [id, proc] : core_->procs)
        result.push_back({id, proc.device, proc.started});
    return result;
}

bool SimAudioSystem::isRunning(AudioObjectId device) const
{
    std::lock_guard lock(core_->mutex);
    return core_->clocks.contains(device);
}

double SimAudioSystem::sampleTime(AudioObjectId device) const
{
    std::lock_guard lock(core_->mutex);
    auto clock = core_->clocks.find(device);
    return clock == core_->clocks.end() ? 0 : clock->second.nextSample;
}

// MARK: taps, aggregates, queues, engines

std::map<AudioObjectId, ProcessTapDescription> SimAudioSystem::taps() const
{
    std::lock_guard lock(core_->mutex);
    return core_->taps;
}

std::map<AudioObjectId, AggregateDeviceDescription> SimAudioSystem::aggregates() const
{
    std::lock_guard lock(core_->mutex);
    return core_->aggregates;
}

std::vector<std::shared_ptr<SimAudioQueue>> SimAudioSystem::queues() const
{
    std::vector<std::shared_ptr<SimAudioQueue>> live;
    {
        std::lock_guard lock(core_->mutex);
        for (const auto& weak : core_->queues)
            if (auto queue = weak.lock())
                live.push_back(std::move(queue));
    }
    std::erase_if(live, [](const auto& queue) { return queue->isDisposed(); });
    return live;
}

void SimAudioSystem::setQueuesStalled(bool stalled)
{
    std::lock_guard lock(core_->mutex);
    core_->queuesStalled = stalled;
}

void SimAudioSystem::setQueueTimeValid(bool valid)
{
    std::lock_guard lock(core_->mutex);
    core_->queueTimeValid = valid;
}

std::size_t SimAudioSystem::runInputQueues()
{
    std::size_t delivered = 0;
    for (const auto& queue : queues())
        if (queue->direction() == SimAudioQueue::Direction::input)
            delivered += queue->deliverInput();
    return delivered;
}

std::vector<std::shared_ptr<SimInputEngine>> SimAudioSystem::inputEngines() const
{
    std::lock_guard lock(core_->mutex);
    std::vector<std::shared_ptr<SimInputEngine>> live;
    for (const auto& weak : core_->engines)
        if (auto engine = weak.lock())
            live.push_back(std::move(engine));
    return live;
}

} // namespace parlaro::sim
