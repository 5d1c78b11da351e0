#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioQueue.h"
#include "platform/linux/pulse/PulseDeviceIO.h"
#include "platform/linux/pulse/PulseInputEngine.h"
#include "platform/linux/pulse/PulseTapIO.h"
#include "platform/linux/pulse/VirtualMicModules.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace parlaro::sys {

namespace {

constexpr double writeDeadline = 2.0;
constexpr double settleDeadline = 1.0;
constexpr double connectDeadline = 5.0;
constexpr double keeperSeconds = 0.2;

constexpr AudioSelector selProcesses = "prs#"_fcc;
constexpr AudioSelector selTranslateUID = "uidd"_fcc;
constexpr AudioSelector selTranslatePID = "id2p"_fcc;
constexpr AudioSelector selDefaultInput = "dIn "_fcc;
constexpr AudioSelector selDefaultOutput = "dOut"_fcc;
constexpr AudioSelector selStreamUsage = "suse"_fcc;
constexpr AudioSelector selBufferFrames = "fsiz"_fcc;

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

const PulseSinkOrSource* ourObject(const PulseServerState& state, const VirtualMicModule& module)
{
    const auto& objects = module.kind == VirtualMicModule::Kind::sink ? state.sinks : state.sources;
    for (const auto& [index, object] : objects) {
        if (object.monitorOf != pulseNoIndex)
            continue;
        auto uid = object.properties.find(uidProperty);
        if (uid != object.properties.end() && uid->second == module.uid)
            return &object;
    }
    return nullptr;
}

// The sink or source of this name, sinks first; none when the server has no
// such object.
const PulseSinkOrSource* objectNamed(const PulseServerState& state, const std::string& name)
{
    for (const auto* objects : {&state.sinks, &state.sources})
        for (const auto& [index, object] : *objects)
            if (object.name == name)
                return &object;
    return nullptr;
}

std::string hashOf(const PulseSinkOrSource& object)
{
    auto hash = object.properties.find(hashProperty);
    return hash == object.properties.end() ? std::string() : hash->second;
}

}  // namespace

// One listener registration. `call` and `end` share a lock, so once `end`
// has returned on another thread the listener is not running and never
// runs again; a listener may end its own registration.
struct PulseAudioSystem::Registration {
    AudioObjectId object = 0;
    AudioPropertyAddress address;
    AudioCallbackQueue queue;
    AudioPropertyListener listener;
    std::recursive_mutex mutex;
    bool alive = true;

    void call(const AudioPropertyAddress& changed)
    {
        std::lock_guard lock(mutex);
        if (alive)
            listener(std::span<const AudioPropertyAddress>(&changed, 1));
    }
    void end()
    {
        std::lock_guard lock(mutex);
        alive = false;
    }
};

struct PulseAudioSystem::ListenerTable {
    std::mutex mutex;
    std::multimap<std::pair<AudioObjectId, AudioPropertyAddress>, std::shared_ptr<Registration>> entries;
};

struct PulseAudioSystem::Proc {
    AudioObjectId device = 0;
    AudioIOProc proc = nullptr;
    void* context = nullptr;
    bool inputOn = true;
    bool outputOn = true;
    bool started = false;
    std::unique_ptr<PulseDeviceIO> io;
    std::unique_ptr<PulseTapIO> tap;
};

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
                       const auto* uid = mirror_.value(device, {"uid "_fcc});
                       return uid ? std::get<AudioString>(*uid).value_or("") : std::string();
                   });
    republish();
    connect();
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
    PulseLoopLock control(control_);
    {
        PulseLoopLock streams(streams_);
        std::lock_guard lock(mirrorMutex_);
        for (auto& [id, proc] : procs_) {
            if (proc->io)
                proc->io->stop();
            if (proc->tap)
                proc->tap->stop();
        }
    }
    disconnectLocked();
}

// MARK: connection

bool PulseAudioSystem::onLoopThread() const
{
    return control_.inThread() || streams_.inThread();
}

std::string PulseAudioSystem::serverName() const
{
    return server_.empty() ? "the default server" : server_;
}

bool PulseAudioSystem::isConnected() const
{
    std::lock_guard lock(mirrorMutex_);
    return connected_;
}

std::string PulseAudioSystem::connectionError() const
{
    std::lock_guard lock(mirrorMutex_);
    return error_;
}

int PulseAudioSystem::connectionErrorCode() const
{
    std::lock_guard lock(mirrorMutex_);
    return errorCode_;
}

void PulseAudioSystem::onContextState(pa_context* context, void* self)
{
    auto* system = static_cast<PulseAudioSystem*>(self);
    system->control_.signal();
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state) && system->live_.exchange(false)) {
        {
            std::lock_guard lock(system->workerMutex_);
            system->lostPending_ = true;
        }
        system->workerWake_.notify_all();
    }
}

void PulseAudioSystem::onStreamContextState(pa_context*, void* self)
{
    static_cast<PulseAudioSystem*>(self)->streams_.signal();
}

void PulseAudioSystem::connectLocked(bool& ready)
{
    ready = false;
    const char* server = server_.empty() ? nullptr : server_.c_str();
    int code = PA_ERR_CONNECTIONREFUSED;
    context_ = pa_context_new(control_.api(), "Parlaro");
    if (context_) {
        pa_context_set_state_callback(context_, onContextState, this);
        if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
            control_.waitLocked(
                [&] {
                    const auto state = pa_context_get_state(context_);
                    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                },
                connectDeadline);
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
            PulseLoopLock streams(streams_);
            streamContext_ = pa_context_new(streams_.api(), "Parlaro streams");
            if (streamContext_) {
                pa_context_set_state_callback(streamContext_, onStreamContextState, this);
                if (pa_context_connect(streamContext_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
                    streams_.waitLocked(
                        [&] {
                            const auto state = pa_context_get_state(streamContext_);
                            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                        },
                        connectDeadline);
                ready = pa_context_get_state(streamContext_) == PA_CONTEXT_READY;
                if (ready)
                    host_->context = streamContext_;
                if (!ready)
                    code = pa_context_errno(streamContext_);
            }
        } else {
            code = pa_context_errno(context_);
        }
    }
    if (!ready) {
        disconnectLocked();
        std::lock_guard lock(mirrorMutex_);
        errorCode_ = code == PA_OK ? PA_ERR_CONNECTIONREFUSED : code;
        error_ = pulseErrorText(errorCode_);
        return;
    }
    pa_context_set_subscribe_callback(context_, onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT
        | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD);
    if (pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr))
        pa_operation_unref(operation);
    live_ = true;
}

void PulseAudioSystem::disconnectLocked()
{
    live_ = false;
    {
        PulseLoopLock streams(streams_);
        stopKeepersLocked();
        {
            std::lock_guard lock(mirrorMutex_);
            for (auto& [id, proc] : procs_) {
                if (proc->io)
                    proc->io->stop();
                if (proc->tap)
                    proc->tap->stop();
                proc->started = false;
            }
        }
        host_->context = nullptr;
        if (streamContext_) {
            pa_context_set_state_callback(streamContext_, nullptr, nullptr);
            pa_context_disconnect(streamContext_);
            pa_context_unref(streamContext_);
            streamContext_ = nullptr;
        }
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseAudioSystem::connect()
{
    bool ready = false;
    {
        PulseLoopLock control(control_);
        connectLocked(ready);
        if (ready)
            refreshLocked();
    }
    if (!ready) {
        bool announce = false;
        std::string text;
        {
            std::lock_guard lock(mirrorMutex_);
            announce = !announced_;
            announced_ = true;
            text = error_;
        }
        if (announce)
            std::fprintf(stderr, "parlaro: no audio server at %s: %s (retrying)\n", serverName().c_str(), text.c_str());
        scheduleRetry();
        return;
    }
    bool again = false;
    {
        std::lock_guard lock(mirrorMutex_);
        again = everConnected_;
        everConnected_ = true;
        connected_ = true;
        extras_.running = 1;
        announced_ = false;
        error_.clear();
        errorCode_ = 0;
        if (again)
            ++extras_.restarts;
    }
    republish();
    if (auto failure = ensureVirtualMic())
        std::fprintf(stderr, "parlaro: the virtual microphone could not be loaded: %s\n", failure->c_str());
}

void PulseAudioSystem::lost()
{
    {
        PulseLoopLock control(control_);
        disconnectLocked();
    }
    {
        std::lock_guard lock(mirrorMutex_);
        connected_ = false;
        extras_.running = 0;
        state_ = {};
        errorCode_ = PA_ERR_CONNECTIONTERMINATED;
        error_ = pulseErrorText(errorCode_);
    }
    republish();
    scheduleRetry();
}

void PulseAudioSystem::scheduleRetry()
{
    {
        std::lock_guard lock(workerMutex_);
        retryAt_ = std::chrono::steady_clock::now()
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(options_.retrySeconds));
    }
    workerWake_.notify_all();
}

void PulseAudioSystem::workerLoop()
{
    pthread_setname_np(pthread_self(), "pulse-worker");
    std::unique_lock lock(workerMutex_);
    while (!workerEnding_) {
        if (lostPending_) {
            lostPending_ = false;
            lock.unlock();
            lost();
            lock.lock();
            continue;
        }
        if (retryAt_ && std::chrono::steady_clock::now() >= *retryAt_) {
            retryAt_.reset();
            lock.unlock();
            connect();
            lock.lock();
            continue;
        }
        if (retryAt_)
            workerWake_.wait_until(lock, *retryAt_);
        else
            workerWake_.wait(lock);
    }
}

// MARK: the mirror

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

    template <typename Value>
    void keep(std::map<std::uint32_t, Value> PulseServerState::*objects, std::uint32_t index, Value value)
    {
        (state.*objects)[index] = std::move(value);
    }
    void keepDefaults(std::string sink, std::string source)
    {
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
        state_ = std::move(gather.state);
    }
    republish();
    return true;
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
    }
    if (updates.empty())
        return;
    PulseLoopLock streams(streams_);
    for (auto& [proc, playing] : updates)
        if (proc->tap && proc->tap->isStarted())
            proc->tap->follow(playing);
}

// MARK: properties

bool PulseAudioSystem::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    std::lock_guard lock(mirrorMutex_);
    const MirrorObject* found = mirror_.find(object);
    if (!found)
        return false;
    if (object == audioSystemObject) {
        if (address.selector == selTranslateUID || address.selector == selTranslatePID)
            return true;
        if (address.selector == selProcesses)
            return connected_;
    }
    if (found->kind == MirrorObject::Kind::device && address.selector == selStreamUsage)
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
    std::lock_guard lock(mirrorMutex_);
    const MirrorObject* found = mirror_.find(object);
    if (!found) {
        if (gone_.contains(object) && address.selector == "livn"_fcc) {
            value = std::uint32_t{0};
            return AudioStatuses::ok;
        }
        return AudioStatuses::badObject;
    }
    if (object == audioSystemObject) {
        switch (address.selector) {
        case selTranslateUID: {
            const auto* uid = qualifier ? std::get_if<AudioString>(qualifier) : nullptr;
            if (!uid || !*uid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{mirror_.deviceWithUID(**uid)};
            return AudioStatuses::ok;
        }
        case selTranslatePID: {
            const auto* pid = qualifier ? std::get_if<std::uint32_t>(qualifier) : nullptr;
            if (!pid)
                return AudioStatuses::badPropertySize;
            value = std::uint32_t{mirror_.processWithPID(static_cast<std::int32_t>(*pid))};
            return AudioStatuses::ok;
        }
        case selProcesses:
            if (!connected_)
                return AudioStatuses::unknownProperty;
            break;
        default:
            break;
        }
    }
    if (found->kind == MirrorObject::Kind::device && address.selector == selStreamUsage) {
        const auto& layout = found->properties.find({"slay"_fcc, address.scope});
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
    if (object == audioSystemObject && (address.selector == selDefaultInput || address.selector == selDefaultOutput)) {
        const auto* device = std::get_if<std::uint32_t>(&value);
        if (!device)
            return AudioStatuses::badPropertySize;
        return setDefault(address.selector == selDefaultInput, *device);
    }
    {
        std::lock_guard lock(mirrorMutex_);
        const MirrorObject* found = mirror_.find(object);
        if (!found)
            return AudioStatuses::badObject;
        if (found->kind == MirrorObject::Kind::device && address.selector == selStreamUsage) {
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
        if (found->kind != MirrorObject::Kind::device || found->aggregate || address.selector != selBufferFrames)
            return AudioStatuses::unsupportedOperation;
        const auto frames = std::get<std::uint32_t>(value);
        if (frames == 0 || frames > 48000)
            return AudioStatuses::illegalOperation;
        const auto& uid = std::get<AudioString>(found->properties.at({"uid "_fcc}));
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
    if (!setDefaultLocked(input, name)) {
        refreshLocked();
        return AudioStatuses::unspecified;
    }
    return AudioStatuses::ok;
}

bool PulseAudioSystem::setDefaultLocked(bool input, const std::string& name)
{
    PulseCompletion completion{&control_};
    pa_operation* operation = input
        ? pa_context_set_default_source(context_, name.c_str(), PulseCompletion::onSuccess, &completion)
        : pa_context_set_default_sink(context_, name.c_str(), PulseCompletion::onSuccess, &completion);
    if (!completion.wait(operation, writeDeadline))
        return false;
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
    return true;
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

// MARK: I/O procedures

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

AudioStatus PulseAudioSystem::destroyIOProc(AudioObjectId device, AudioIOProcId id)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::shared_ptr<Proc> proc;
    {
        std::lock_guard lock(mirrorMutex_);
        auto found = procs_.find(id);
        if (found == procs_.end() || found->second->device != device)
            return AudioStatuses::illegalOperation;
        proc = found->second;
        procs_.erase(found);
    }
    PulseLoopLock streams(streams_);
    if (proc->io)
        proc->io->stop();
    if (proc->tap)
        proc->tap->stop();
    return AudioStatuses::ok;
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
        auto found = procs_.find(id);
        if (found == procs_.end() || found->second->device != device)
            return AudioStatuses::illegalOperation;
        proc = found->second;
        const MirrorObject* object = mirror_.find(device);
        if (!object)
            return AudioStatuses::badDevice;
        if (!connected_)
            return AudioStatuses::serverUnavailable;
        if (const auto* size = mirror_.value(device, {selBufferFrames}))
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
        const auto* text = mirror_.value(device, {"uid "_fcc});
        return text ? std::get<AudioString>(*text).value_or("") : std::string();
    }();
    auto overload = [this, uid] {
        notifier_.post([this, uid] {
            {
                std::lock_guard lock(mirrorMutex_);
                auto& count = extras_.deviceValues[{uid, {"over"_fcc}}];
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
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    std::shared_ptr<Proc> proc;
    {
        std::lock_guard lock(mirrorMutex_);
        auto found = procs_.find(id);
        if (found == procs_.end() || found->second->device != device)
            return AudioStatuses::illegalOperation;
        proc = found->second;
        proc->started = false;
    }
    PulseLoopLock streams(streams_);
    if (proc->io)
        proc->io->stop();
    if (proc->tap)
        proc->tap->stop();
    return AudioStatuses::ok;
}

// MARK: taps and aggregate devices

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
            if (proc->tap)
                proc->tap->stop();
    }
    republish();
    return AudioStatuses::ok;
}

// MARK: queues and engines

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
        if (const auto* value = mirror_.value(audioSystemObject, {input ? selDefaultInput : selDefaultOutput}))
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
    const auto* value = mirror_.value(audioSystemObject, {input ? selDefaultInput : selDefaultOutput});
    if (!value)
        return {};
    const MirrorObject* object = mirror_.find(std::get<std::uint32_t>(*value));
    if (!object || object->monitor)
        return {};
    const auto* uid = mirror_.value(std::get<std::uint32_t>(*value), {"uid "_fcc});
    return uid ? std::get<AudioString>(*uid).value_or("") : std::string();
}

std::shared_ptr<AudioInputEngine> PulseAudioSystem::makeInputEngine()
{
    auto engine = std::make_shared<PulseInputEngine>(host_);
    std::weak_ptr<PulseInputEngine> weak = engine;
    engine->keep(addPropertyListener(audioSystemObject, {selDefaultInput}, AudioCallbackQueue::notificationThread(),
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

// MARK: the virtual microphone

std::optional<std::string> PulseAudioSystem::ensureVirtualMic()
{
    if (onLoopThread())
        return pulseErrorText(PA_ERR_BADSTATE);
    PulseLoopLock control(control_);
    return ensureLocked();
}

std::optional<std::string> PulseAudioSystem::ensureLocked()
{
    if (!context_ || !refreshLocked()) {
        std::lock_guard lock(mirrorMutex_);
        return error_.empty() ? pulseErrorText(PA_ERR_CONNECTIONREFUSED) : error_;
    }
    const auto modules = virtualMicModules(options_.driverHash);
    auto snapshot = [this] {
        std::lock_guard lock(mirrorMutex_);
        return state_;
    };
    PulseServerState state = snapshot();
    const std::string defaultSink = state.defaultSink;
    const std::string defaultSource = state.defaultSource;

    bool stale = false;
    std::vector<std::uint32_t> loaded;
    for (const auto& module : modules)
        if (const auto* object = ourObject(state, module)) {
            loaded.push_back(object->ownerModule);
            stale = stale || hashOf(*object) != options_.driverHash;
        }
    bool changed = false;
    if (stale) {
        // Ours alone, by index, the reader of a sink's monitor before the sink.
        {
            PulseLoopLock streams(streams_);
            stopKeepersLocked();
        }
        for (auto module = loaded.rbegin(); module != loaded.rend(); ++module) {
            PulseCompletion completion{&control_};
            completion.wait(pa_context_unload_module(context_, *module, PulseCompletion::onSuccess, &completion),
                            writeDeadline);
        }
        // A server may acknowledge an unload before the module is gone; a
        // read in between would still find the old objects and load nothing.
        control_.waitLocked(
            [&] {
                std::lock_guard lock(mirrorMutex_);
                return std::none_of(modules.begin(), modules.end(), [&](const VirtualMicModule& module) {
                    const auto* object = ourObject(state_, module);
                    return object && hashOf(*object) != options_.driverHash;
                });
            },
            writeDeadline);
        refreshLocked();
        state = snapshot();
        changed = true;
    }
    // A session manager picks a new default for itself when a source or
    // sink appears, unless the user has chosen one; the defaults of the
    // moment are chosen again before anything of ours appears, so they stay
    // the user's whatever it does.
    const bool loading = std::any_of(modules.begin(), modules.end(),
                                     [&](const VirtualMicModule& module) { return !ourObject(state, module); });
    if (loading) {
        for (const bool input : {false, true}) {
            const std::string& name = input ? defaultSource : defaultSink;
            if (name.empty())
                continue;
            const PulseSinkOrSource* object = objectNamed(state, name);
            if (!object || !isOurs(*object, state))
                setDefaultLocked(input, name);
        }
    }
    for (const auto& module : modules) {
        if (ourObject(state, module))
            continue;
        PulseCompletion completion{&control_};
        const bool done =
            completion.wait(pa_context_load_module(context_, module.moduleName.c_str(), module.arguments.c_str(),
                                                   PulseCompletion::onIndex, &completion),
                            writeDeadline);
        if (!done) {
            const int code = pa_context_errno(context_);
            refreshLocked();
            return pulseErrorText(code == PA_OK ? PA_ERR_UNKNOWN : code);
        }
        refreshLocked();
        state = snapshot();
        changed = true;
    }
    if (changed) {
        // Loading can make a new source or sink the default; the user's
        // choice stays.
        for (const bool input : {false, true}) {
            const std::string& before = input ? defaultSource : defaultSink;
            const std::string& now = input ? state.defaultSource : state.defaultSink;
            if (before.empty() || before == now)
                continue;
            setDefaultLocked(input, before);
        }
        refreshLocked();
    }
    PulseLoopLock streams(streams_);
    startKeepersLocked();
    return std::nullopt;
}

bool PulseAudioSystem::virtualMicNeedsUpdate() const
{
    std::lock_guard lock(mirrorMutex_);
    for (const auto& module : virtualMicModules(options_.driverHash))
        if (const auto* object = ourObject(state_, module); object && hashOf(*object) != options_.driverHash)
            return true;
    return false;
}

bool PulseAudioSystem::virtualMicLoaded() const
{
    std::lock_guard lock(mirrorMutex_);
    for (const auto& module : virtualMicModules(options_.driverHash))
        if (!ourObject(state_, module))
            return false;
    return true;
}

namespace {

void writeSilence(pa_stream* stream, std::size_t bytes, void*)
{
    while (bytes > 0) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data || size == 0)
            return;
        std::memset(data, 0, size);
        if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= std::min(bytes, size);
    }
}

}  // namespace

void PulseAudioSystem::startKeepersLocked()
{
    // An idle null sink makes its first recorder wait two seconds before
    // sound flows; a silent stream keeps each virtual sink running.
    if (!keepers_.empty() || !streamContext_)
        return;
    for (const auto& module : virtualMicModules(options_.driverHash)) {
        if (module.kind != VirtualMicModule::Kind::sink)
            continue;
        pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, 48000, 2};
        pa_stream* stream = pa_stream_new(streamContext_, "keep running", &sampleFormat, nullptr);
        if (!stream)
            continue;
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength =
            static_cast<std::uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(keeperSeconds * 1e6), &sampleFormat));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        pa_stream_set_write_callback(stream, writeSilence, nullptr);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_playback(stream, module.objectName.c_str(), &attr, flags, nullptr, nullptr) < 0) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            continue;
        }
        keepers_.push_back(stream);
    }
}

void PulseAudioSystem::stopKeepersLocked()
{
    for (pa_stream* stream : keepers_) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    keepers_.clear();
}

}  // namespace parlaro::sys
