// The test's side of the simulated audio system: building the world,
// scripted failures and notifications, the record of what was asked, and
// the signals devices, taps and queues carry.

#include "platform/sim/SimAudioSystem.h"

#include "runtime/Runtime.h"

#include <algorithm>
#include <limits>

namespace parlaro::sim {

namespace {

using Kind = SimAudioCore::ObjectKind;

}  // namespace

void SimAudioSystem::addDevice(const SimDevice& device)
{
    SimAudioCore::Object object;
    object.kind = Kind::device;
    object.listed = device.listed;
    object.ppm = device.ppm;
    auto& p = object.properties;
    p[{AudioSelectors::deviceUID}] = AudioString(device.uid);
    if (device.name)
        p[{AudioSelectors::name}] = AudioString(*device.name);
    p[{AudioSelectors::streamConfiguration, AudioScope::input}] = AudioBufferLayout{device.inputBuffers};
    p[{AudioSelectors::streamConfiguration, AudioScope::output}] = AudioBufferLayout{device.outputBuffers};
    p[{AudioSelectors::transportType}] = device.transportType;
    if (device.outputSource)
        p[{AudioSelectors::dataSource, AudioScope::output}] = *device.outputSource;
    p[{AudioSelectors::nominalSampleRate}] = device.nominalRate;
    p[{AudioSelectors::availableNominalSampleRates}] = device.availableRates.empty()
        ? std::vector<AudioValueRange>{{device.nominalRate, device.nominalRate}}
        : device.availableRates;
    p[{AudioSelectors::isAlive}] = std::uint32_t{device.alive ? 1u : 0u};
    p[{AudioSelectors::bufferFrameSize}] = device.bufferFrames;
    p[{AudioSelectors::safetyOffset, AudioScope::input}] = device.inputSafetyOffset;
    p[{AudioSelectors::safetyOffset, AudioScope::output}] = device.outputSafetyOffset;
    p[{AudioSelectors::processorOverload}] = std::uint32_t{0};
    for (const auto& [selector, value] : device.custom)
        p[{selector}] = value;
    std::vector<Change> changes;
    {
        std::lock_guard lock(core_->mutex);
        object.order = core_->nextOrder++;
        const bool replaced = core_->objects.contains(device.id);
        core_->objects[device.id] = std::move(object);
        if (replaced)
            changes.push_back({core_->listenersOf(device.id, {AudioSelectors::isAlive}), {AudioSelectors::isAlive}});
        collectListChange(Kind::device, device.listed, changes);
    }
    deliver(changes);
}

void SimAudioSystem::addProcess(const SimProcess& process)
{
    SimAudioCore::Object object;
    object.kind = Kind::process;
    auto& p = object.properties;
    p[{AudioSelectors::processPID}] = static_cast<std::uint32_t>(process.pid);
    if (process.bundleID)
        p[{AudioSelectors::processBundleID}] = AudioString(*process.bundleID);
    p[{AudioSelectors::processIsRunningInput}] = std::uint32_t{process.runningInput ? 1u : 0u};
    p[{AudioSelectors::processIsRunningOutput}] = std::uint32_t{process.runningOutput ? 1u : 0u};
    p[{AudioSelectors::processDevices, AudioScope::input}] = process.inputDevices;
    p[{AudioSelectors::processDevices, AudioScope::output}] = process.outputDevices;
    object.signal = process.output;
    std::vector<Change> changes;
    {
        std::lock_guard lock(core_->mutex);
        object.order = core_->nextOrder++;
        core_->objects[process.id] = std::move(object);
        collectListChange(Kind::process, true, changes);
    }
    deliver(changes);
}

void SimAudioSystem::removeObject(AudioObjectId object)
{
    std::vector<Change> changes;
    {
        std::vector<std::shared_ptr<SimAudioCore::Registration>> dropped;
        std::lock_guard lock(core_->mutex);
        auto found = core_->objects.find(object);
        if (object == audioSystemObject || found == core_->objects.end())
            return;
        const Kind kind = found->second.kind;
        const bool listed = found->second.listed;
        // The device's own listeners hear that it died before their
        // registrations go with it.
        changes.push_back({core_->listenersOf(object, {AudioSelectors::isAlive}), {AudioSelectors::isAlive}});
        dropped = core_->removeObjectLocked(object);
        collectListChange(kind, listed, changes);
        collectDefaultRepair(object, changes);
    }
    deliver(changes);
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
    const AudioPropertyAddress address{AudioSelectors::defaultDevice(input)};
    std::vector<Change> changes;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->number(audioSystemObject, address, 0) == device)
            return;
        core_->objects.at(audioSystemObject).properties[address] = std::uint32_t{device};
        changes.push_back({core_->defaultListeners(address.selector), address});
    }
    deliver(changes);
}

void SimAudioSystem::collectListChange(SimAudioCore::ObjectKind kind, bool listed, std::vector<Change>& changes)
{
    const AudioPropertyAddress list{kind == Kind::process ? AudioSelectors::processes : AudioSelectors::devices};
    if ((kind == Kind::device && listed) || kind == Kind::process)
        changes.push_back({core_->listenersOf(audioSystemObject, list), list});
}

void SimAudioSystem::collectDefaultRepair(AudioObjectId removed, std::vector<Change>& changes)
{
    for (const bool input : {true, false}) {
        const AudioPropertyAddress address{AudioSelectors::defaultDevice(input)};
        if (core_->number(audioSystemObject, address, 0) != removed)
            continue;
        // The server falls back on another device at once, as it does when
        // the default is unplugged.
        const AudioObjectId next = core_->firstDeviceWithChannels(input ? AudioScope::input : AudioScope::output);
        core_->objects.at(audioSystemObject).properties[address] = std::uint32_t{next};
        changes.push_back({core_->defaultListeners(address.selector), address});
    }
}

void SimAudioSystem::deliver(const std::vector<Change>& changes)
{
    for (const Change& change : changes)
        SimAudioCore::deliver(core_, change.listeners, change.address);
}

std::optional<AudioObjectId> SimAudioSystem::defaultDevice(bool input) const
{
    std::lock_guard lock(core_->mutex);
    const std::uint32_t device = core_->number(audioSystemObject, {AudioSelectors::defaultDevice(input)}, 0);
    return device == 0 ? std::nullopt : std::optional(device);
}

void SimAudioSystem::setDefaultSwitch(bool input, DefaultSwitch behaviour)
{
    std::lock_guard lock(core_->mutex);
    (input ? core_->switchInput : core_->switchOutput) = behaviour == DefaultSwitch::takesEffect;
}

void SimAudioSystem::setDefaultAnnounced(bool input, bool announced)
{
    const AudioPropertyAddress address{AudioSelectors::defaultDevice(input)};
    std::vector<Change> changes;
    {
        std::lock_guard lock(core_->mutex);
        const std::uint32_t current = core_->number(audioSystemObject, address, 0);
        if (!announced) {
            core_->unannouncedDefaults.try_emplace(address.selector, current);
            return;
        }
        auto heard = core_->unannouncedDefaults.find(address.selector);
        if (heard == core_->unannouncedDefaults.end())
            return;
        const bool missed = heard->second != current;
        core_->unannouncedDefaults.erase(heard);
        if (missed)
            changes.push_back({core_->listenersOf(audioSystemObject, address), address});
    }
    deliver(changes);
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

void SimAudioSystem::fail(AudioObjectId object, AudioSelector selector, AudioOperation operation, AudioStatus status,
                          int times)
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
        result.push_back({id, registration->object, registration->address, registration->queue.label()});
    return result;
}

std::size_t SimAudioSystem::listenerCount(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(core_->mutex);
    return static_cast<std::size_t>(
        std::count_if(core_->registrations.begin(), core_->registrations.end(), [&](const auto& entry) {
            return entry.second->object == object && entry.second->address == address;
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

}  // namespace

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
            frames = core_->number(device, {AudioSelectors::bufferFrameSize}, 512);
        if (frames == 0)
            return AudioStatuses::illegalOperation;
        inputLayout = core_->layout(device, AudioScope::input);
        outputLayout = core_->layout(device, AudioScope::output);
        signal = object->second.signal;
        if (!signal && core_->aggregates.contains(device))
            signal = tappedMix(*core_, core_->aggregates.at(device));
        rate = core_->effectiveRate(device);
        const double inputOffset = core_->number(device, {AudioSelectors::safetyOffset, AudioScope::input}, 0);
        const double outputOffset = core_->number(device, {AudioSelectors::safetyOffset, AudioScope::output}, 0);
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
        core_->cyclesInFlight[device].push_back(std::this_thread::get_id());
    }
    // However the cycle ends, a stop waiting for it may go on.
    struct CycleEnd {
        SimAudioCore& core;
        AudioObjectId device;
        ~CycleEnd()
        {
            std::lock_guard lock(core.mutex);
            auto& running = core.cyclesInFlight[device];
            running.erase(std::find(running.begin(), running.end(), std::this_thread::get_id()));
            if (running.empty())
                core.cyclesInFlight.erase(device);
            core.cycleEnded.notify_all();
        }
    } cycleEnd{*core_, device};

    auto makeBuffers = [frames](const std::vector<std::uint32_t>& layout, std::vector<std::vector<float>>& storage,
                                std::vector<AudioIOBuffer>& buffers) {
        storage.clear();
        buffers.clear();
        for (std::uint32_t channels : layout) {
            storage.emplace_back(static_cast<std::size_t>(frames) * channels, 0.0f);
            buffers.push_back(
                {channels, static_cast<std::uint32_t>(frames * channels * sizeof(float)), storage.back().data()});
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
    if (!core_->objects.contains(device))
        return AudioStatuses::ok;
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
                const std::uint32_t frames = core_->number(device, {AudioSelectors::bufferFrameSize}, 512);
                if (frames == 0)
                    continue;
                const double inputOffset = core_->number(device, {AudioSelectors::safetyOffset, AudioScope::input}, 0);
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

}  // namespace parlaro::sim
