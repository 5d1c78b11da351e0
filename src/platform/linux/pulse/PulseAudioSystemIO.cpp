// I/O procedures on devices, and the far-end capture's taps and aggregate
// devices.

#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioSystemParts.h"

#include <algorithm>

namespace parlaro::sys {

AudioStatus PulseAudioSystem::createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id)
{
    id = 0;
    std::lock_guard lock(mirrorMutex_);
    const MirrorObject* found = mirror_.find(device);
    if (!found || found->kind != MirrorObject::Kind::device)
        return AudioStatuses::badObject;
    if (!proc)
        return AudioStatuses::illegalOperation;
    auto made = std::make_shared<Proc>();
    made->device = device;
    made->proc = proc;
    made->context = context;
    if (found->aggregate)
        made->tap = std::make_unique<PulseTapIO>(device, proc, context);
    else
        made->io = std::make_unique<PulseDeviceIO>(device, proc, context);
    id = nextProc_++;
    procs_.emplace(id, std::move(made));
    return AudioStatuses::ok;
}

std::shared_ptr<PulseAudioSystem::Proc> PulseAudioSystem::procLocked(AudioObjectId device, AudioIOProcId id) const
{
    auto found = procs_.find(id);
    return found == procs_.end() || found->second->device != device ? nullptr : found->second;
}

AudioStatus PulseAudioSystem::destroyIOProc(AudioObjectId device, AudioIOProcId id)
{
    return stopProc(device, id, true);
}

AudioStatus PulseAudioSystem::startDevice(AudioObjectId device, AudioIOProcId id)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::shared_ptr<Proc> proc;
    PulseSide input;
    PulseSide output;
    std::uint32_t frames = pulseCycleFrames;
    {
        std::lock_guard lock(mirrorMutex_);
        proc = procLocked(device, id);
        if (!proc)
            return AudioStatuses::illegalOperation;
        const MirrorObject* object = mirror_.find(device);
        if (!object)
            return AudioStatuses::badDevice;
        if (!connected_)
            return AudioStatuses::serverUnavailable;
        if (const auto* size = mirror_.value(device, {AudioSelectors::bufferFrameSize}))
            frames = std::get<std::uint32_t>(*size);
        auto source = state_.sources.find(object->sourceIndex);
        if (proc->inputOn && source != state_.sources.end())
            input = {source->second.name, source->second.channels, source->second.rate};
        auto sink = state_.sinks.find(object->sinkIndex);
        if (proc->outputOn && sink != state_.sinks.end())
            output = {sink->second.name, sink->second.channels, sink->second.rate};
    }
    if (proc->tap) {
        {
            PulseLoopLock streams(streams_);
            if (!streamContext_)
                return AudioStatuses::serverUnavailable;
            proc->tap->start(streamContext_, streams_.api(), frames, {});
        }
        {
            std::lock_guard lock(mirrorMutex_);
            proc->started = true;
        }
        follow();
        return AudioStatuses::ok;
    }
    PulseLoopLock streams(streams_);
    if (!streamContext_)
        return AudioStatuses::serverUnavailable;
    if (proc->io->isStarted())
        return AudioStatuses::ok;
    if (input.name.empty() && output.name.empty())
        return AudioStatuses::illegalOperation;
    std::weak_ptr<ListenerTable> alive = listeners_;
    const std::string uid = [&] {
        std::lock_guard lock(mirrorMutex_);
        const auto* text = mirror_.value(device, {AudioSelectors::deviceUID});
        return text ? std::get<AudioString>(*text).value_or("") : std::string();
    }();
    auto overload = [this, uid] {
        notifier_.post([this, uid] {
            {
                std::lock_guard lock(mirrorMutex_);
                auto& count = extras_.deviceValues[{uid, {AudioSelectors::processorOverload}}];
                const auto* before = std::get_if<std::uint32_t>(&count);
                count = std::uint32_t{before ? *before + 1 : 1u};
            }
            republish();
        });
    };
    if (!proc->io->start(streamContext_, streams_.loop(), input, output, frames, overload))
        return AudioStatuses::unspecified;
    streams_.waitLocked([&] { return proc->io->ready() || proc->io->failed(); }, writeDeadline);
    if (!proc->io->ready()) {
        proc->io->stop();
        return AudioStatuses::unspecified;
    }
    std::lock_guard lock(mirrorMutex_);
    proc->started = true;
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::stopDevice(AudioObjectId device, AudioIOProcId id)
{
    return stopProc(device, id, false);
}

AudioStatus PulseAudioSystem::stopProc(AudioObjectId device, AudioIOProcId id, bool forget)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::shared_ptr<Proc> proc;
    {
        std::lock_guard lock(mirrorMutex_);
        proc = procLocked(device, id);
        if (!proc)
            return AudioStatuses::illegalOperation;
        proc->started = false;
        if (forget)
            procs_.erase(id);
    }
    PulseLoopLock streams(streams_);
    proc->stopStreams();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap)
{
    tap = audioUnknownObject;
    {
        std::lock_guard lock(mirrorMutex_);
        if (!connected_)
            return AudioStatuses::serverUnavailable;
        tap = ids_.reserve();
        extras_.taps.emplace(tap, description);
    }
    republish();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::destroyProcessTap(AudioObjectId tap)
{
    {
        std::lock_guard lock(mirrorMutex_);
        if (!extras_.taps.erase(tap))
            return AudioStatuses::badObject;
    }
    republish();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::createAggregateDevice(const AggregateDeviceDescription& description,
                                                    AudioObjectId& device)
{
    device = audioUnknownObject;
    {
        std::lock_guard lock(mirrorMutex_);
        if (!connected_)
            return AudioStatuses::serverUnavailable;
        device = ids_.reserve();
        extras_.aggregates.push_back({device, description});
    }
    republish();
    return AudioStatuses::ok;
}

AudioStatus PulseAudioSystem::destroyAggregateDevice(AudioObjectId device)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::vector<std::shared_ptr<Proc>> ended;
    {
        std::lock_guard lock(mirrorMutex_);
        const auto before = extras_.aggregates.size();
        std::erase_if(extras_.aggregates, [device](const auto& aggregate) { return aggregate.id == device; });
        if (extras_.aggregates.size() == before)
            return AudioStatuses::badObject;
        for (auto proc = procs_.begin(); proc != procs_.end();) {
            if (proc->second->device == device) {
                ended.push_back(proc->second);
                proc = procs_.erase(proc);
            } else {
                ++proc;
            }
        }
    }
    {
        PulseLoopLock streams(streams_);
        for (auto& proc : ended)
            proc->stopStreams();
    }
    republish();
    return AudioStatuses::ok;
}

}  // namespace parlaro::sys
