// Keeping the mirror current: the server's events, full reads, and the
// notifications and tap streams that follow each change.

#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioSystemParts.h"

#include <algorithm>
#include <cstdlib>

namespace parlaro::sys {

namespace {

std::map<std::string, std::string> readProperties(const pa_proplist* list)
{
    std::map<std::string, std::string> properties;
    if (!list)
        return properties;
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(const_cast<pa_proplist*>(list), &state)) {
        const char* value = pa_proplist_gets(list, key);
        if (value)
            properties.emplace(key, value);
    }
    return properties;
}

// What sinks and sources have in common; the two info structs share these
// member names.
template <typename Info>
PulseSinkOrSource fromSinkOrSource(const Info& info)
{
    PulseSinkOrSource object;
    object.index = info.index;
    object.name = info.name ? info.name : "";
    object.description = info.description ? info.description : "";
    object.channels = info.sample_spec.channels;
    object.rate = info.sample_spec.rate;
    object.ownerModule = info.owner_module;
    if (info.active_port && info.active_port->name)
        object.activePort = info.active_port->name;
    object.properties = readProperties(info.proplist);
    return object;
}

PulseSinkOrSource fromSink(const pa_sink_info& info)
{
    PulseSinkOrSource sink = fromSinkOrSource(info);
    sink.monitor = info.monitor_source;
    return sink;
}

PulseSinkOrSource fromSource(const pa_source_info& info)
{
    PulseSinkOrSource source = fromSinkOrSource(info);
    source.monitorOf = info.monitor_of_sink;
    return source;
}

PulseStreamInfo fromSinkInput(const pa_sink_input_info& info)
{
    return {info.index, info.client, info.sink, info.corked != 0, readProperties(info.proplist)};
}

PulseStreamInfo fromSourceOutput(const pa_source_output_info& info)
{
    return {info.index, info.client, info.source, info.corked != 0, readProperties(info.proplist)};
}

std::string nameOrEmpty(const char* name)
{
    return name ? name : "";
}

}  // namespace

void PulseAudioSystem::onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self)
{
    auto* system = static_cast<PulseAudioSystem*>(self);
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    if (removed) {
        {
            std::lock_guard lock(system->mirrorMutex_);
            auto& state = system->state_;
            switch (facility) {
            case PA_SUBSCRIPTION_EVENT_SINK:
                state.sinks.erase(index);
                break;
            case PA_SUBSCRIPTION_EVENT_SOURCE:
                state.sources.erase(index);
                break;
            case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
                state.sinkInputs.erase(index);
                break;
            case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
                state.sourceOutputs.erase(index);
                break;
            default:
                return;
            }
        }
        system->republish();
        // A write may be waiting for the object to go.
        system->control_.signal();
        return;
    }
    using System = PulseAudioSystem;
    pa_operation* operation = nullptr;
    switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SINK:
        operation = pa_context_get_sink_info_by_index(context, index,
                                                      received<&PulseServerState::sinks, fromSink, System>, self);
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        operation = pa_context_get_source_info_by_index(context, index,
                                                        received<&PulseServerState::sources, fromSource, System>, self);
        break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        operation = pa_context_get_sink_input_info(
            context, index, received<&PulseServerState::sinkInputs, fromSinkInput, System>, self);
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
        operation = pa_context_get_source_output_info(
            context, index, received<&PulseServerState::sourceOutputs, fromSourceOutput, System>, self);
        break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
        if (!system->defaultsHeld_)
            operation = pa_context_get_server_info(context, receivedServer<System>, self);
        break;
    default:
        break;
    }
    if (operation)
        pa_operation_unref(operation);
}

// A full read of the server's objects into a fresh state.
struct PulseAudioSystem::Gather {
    const PulseLoop* loop = nullptr;
    PulseServerState state;
    int remaining = 0;
    bool heardServer = false;

    template <typename Value>
    void keep(std::map<std::uint32_t, Value> PulseServerState::*objects, std::uint32_t index, Value value)
    {
        (state.*objects)[index] = std::move(value);
    }
    void keepDefaults(std::string sink, std::string source)
    {
        heardServer = true;
        state.defaultSink = std::move(sink);
        state.defaultSource = std::move(source);
    }
    void answerEnded()
    {
        --remaining;
        loop->signal();
    }
};

template <auto objects, auto convert, typename Target, typename Info>
void PulseAudioSystem::received(pa_context*, const Info* info, int eol, void* target)
{
    auto* into = static_cast<Target*>(target);
    if (eol)
        return into->answerEnded();
    if (info)
        into->keep(objects, info->index, convert(*info));
}

template <typename Target>
void PulseAudioSystem::receivedServer(pa_context*, const pa_server_info* info, void* target)
{
    auto* into = static_cast<Target*>(target);
    if (info)
        into->keepDefaults(nameOrEmpty(info->default_sink_name), nameOrEmpty(info->default_source_name));
    into->answerEnded();
}

template <typename Value>
void PulseAudioSystem::keep(std::map<std::uint32_t, Value> PulseServerState::*objects, std::uint32_t index, Value value)
{
    {
        std::lock_guard lock(mirrorMutex_);
        (state_.*objects)[index] = std::move(value);
    }
    republish();
}

void PulseAudioSystem::keepDefaults(std::string sink, std::string source)
{
    {
        std::lock_guard lock(mirrorMutex_);
        state_.defaultSink = std::move(sink);
        state_.defaultSource = std::move(source);
    }
    republish();
    // A write may be waiting for the new default.
    control_.signal();
}

bool PulseAudioSystem::refreshLocked()
{
    if (!context_)
        return false;
    Gather gather;
    gather.loop = &control_;
    std::vector<pa_operation*> operations{
        pa_context_get_server_info(context_, receivedServer<Gather>, &gather),
        pa_context_get_sink_info_list(context_, received<&PulseServerState::sinks, fromSink, Gather>, &gather),
        pa_context_get_source_info_list(context_, received<&PulseServerState::sources, fromSource, Gather>, &gather),
        pa_context_get_sink_input_info_list(context_, received<&PulseServerState::sinkInputs, fromSinkInput, Gather>,
                                            &gather),
        pa_context_get_source_output_info_list(
            context_, received<&PulseServerState::sourceOutputs, fromSourceOutput, Gather>, &gather),
    };
    for (pa_operation* operation : operations)
        if (operation)
            ++gather.remaining;
    const bool complete = control_.waitLocked([&] { return gather.remaining <= 0; }, writeDeadline);
    for (pa_operation* operation : operations) {
        if (!operation)
            continue;
        if (!complete)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    if (!complete || std::find(operations.begin(), operations.end(), nullptr) != operations.end())
        return false;
    {
        std::lock_guard lock(mirrorMutex_);
        if (defaultsHeld_) {
            gather.state.defaultSink = state_.defaultSink;
            gather.state.defaultSource = state_.defaultSource;
        }
        state_ = std::move(gather.state);
    }
    republish();
    return true;
}

void PulseAudioSystem::holdMirroredDefaults(bool held)
{
    defaultsHeld_ = held;
}

AudioStatus PulseAudioSystem::askDefaults()
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    // Not while the worker connects: it holds the control loop while a
    // server that lets no new client in keeps it waiting.
    if (!isConnected())
        return AudioStatuses::serverUnavailable;
    PulseLoopLock control(control_);
    if (!context_ || pa_context_get_state(context_) != PA_CONTEXT_READY)
        return AudioStatuses::serverUnavailable;
    // Asked over a connection of its own: PipeWire's server can go on
    // answering a connection that has stopped hearing of changes with the
    // defaults it last heard, while a new one gets those now in force.
    bool connectionAnswered = true;
    pa_context* asking = openAskingContextLocked(connectionAnswered);
    if (!asking)
        return connectionAnswered ? AudioStatuses::serverUnavailable : AudioStatuses::unanswered;
    Gather gather;
    gather.loop = &control_;
    pa_operation* operation = pa_context_get_server_info(asking, receivedServer<Gather>, &gather);
    if (!operation) {
        closeAskingContextLocked(asking);
        return AudioStatuses::serverUnavailable;
    }
    gather.remaining = 1;
    const bool answered = control_.waitLocked([&] { return gather.remaining <= 0; }, writeDeadline);
    if (!answered)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    closeAskingContextLocked(asking);
    if (!answered)
        return AudioStatuses::unanswered;
    if (!gather.heardServer)
        return AudioStatuses::unspecified;
    // Into the mirror, so listeners hear of a change the server kept quiet.
    keepDefaults(std::move(gather.state.defaultSink), std::move(gather.state.defaultSource));
    return AudioStatuses::ok;
}

void PulseAudioSystem::republish()
{
    std::vector<std::pair<AudioObjectId, AudioPropertyAddress>> changes;
    {
        std::lock_guard lock(mirrorMutex_);
        Mirror next = buildMirror(state_, extras_, pid_, ids_);
        changes = mirrorChanges(mirror_, next);
        for (const auto& [id, address] : changes)
            if (!next.find(id) && mirror_.find(id) && mirror_.find(id)->kind == MirrorObject::Kind::device)
                gone_.insert(id);
        mirror_ = std::move(next);
    }
    notify(changes);
    follow();
}

void PulseAudioSystem::notify(const std::vector<std::pair<AudioObjectId, AudioPropertyAddress>>& changes)
{
    std::vector<std::pair<std::shared_ptr<Registration>, AudioPropertyAddress>> calls;
    {
        std::lock_guard lock(listeners_->mutex);
        for (const auto& change : changes) {
            auto [first, last] = listeners_->entries.equal_range(change);
            for (auto entry = first; entry != last; ++entry)
                calls.emplace_back(entry->second, change.second);
        }
    }
    for (auto& call : calls)
        notifier_.post([registration = call.first, address = call.second] {
            registration->queue.dispatch([registration, address] { registration->call(address); });
        });
}

void PulseAudioSystem::follow()
{
    std::vector<std::pair<std::shared_ptr<Proc>, std::vector<PulsePlayingStream>>> updates;
    std::vector<std::string> monitors;
    {
        std::lock_guard lock(mirrorMutex_);
        for (const auto& [id, proc] : procs_) {
            if (!proc->tap || !proc->started)
                continue;
            std::set<std::int32_t> excluded{pid_};
            for (const auto& aggregate : extras_.aggregates) {
                if (aggregate.id != proc->device)
                    continue;
                for (const auto& [tapID, tap] : extras_.taps) {
                    if (std::find(aggregate.description.tapUIDs.begin(), aggregate.description.tapUIDs.end(),
                                  tap.uuid.toString())
                        == aggregate.description.tapUIDs.end())
                        continue;
                    for (AudioObjectId process : tap.excludedProcesses)
                        if (const MirrorObject* object = mirror_.find(process))
                            excluded.insert(object->pid);
                }
            }
            std::vector<PulsePlayingStream> playing;
            for (const auto& [index, stream] : state_.sinkInputs) {
                if (stream.client == pulseNoIndex)
                    continue;
                auto pidText = stream.properties.find("application.process.id");
                if (pidText != stream.properties.end() && excluded.contains(std::atoi(pidText->second.c_str())))
                    continue;
                auto sink = state_.sinks.find(stream.device);
                if (sink == state_.sinks.end())
                    continue;
                auto monitor = state_.sources.find(sink->second.monitor);
                if (monitor == state_.sources.end())
                    continue;
                playing.push_back({index, monitor->second.name});
            }
            updates.emplace_back(proc, std::move(playing));
        }
        if (!updates.empty())
            for (const auto& [index, sink] : state_.sinks)
                if (auto monitor = state_.sources.find(sink.monitor); monitor != state_.sources.end())
                    monitors.push_back(monitor->second.name);
    }
    if (updates.empty())
        return;
    PulseLoopLock streams(streams_);
    for (auto& [proc, playing] : updates)
        if (proc->tap && proc->tap->isStarted())
            proc->tap->follow(playing, monitors);
}

}  // namespace parlaro::sys
