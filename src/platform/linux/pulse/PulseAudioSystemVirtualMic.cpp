// The virtual microphone's modules: loading, reloading ours when this
// build's hash differs, and the silent streams that keep its sinks running.

#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/VirtualMicModules.h"

#include <algorithm>
#include <cstring>

namespace parlaro::sys {

namespace {

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

std::optional<std::string> PulseAudioSystem::ensureVirtualMic()
{
    if (onLoopThread())
        return pulseErrorText(PA_ERR_BADSTATE);
    // Not while the worker connects (it holds the control loop meanwhile);
    // it makes sure of the modules itself once connected.
    {
        std::lock_guard lock(mirrorMutex_);
        if (!connected_)
            return error_.empty() ? pulseErrorText(PA_ERR_CONNECTIONREFUSED) : error_;
    }
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
        pa_stream_set_state_callback(stream, onKeeperState, this);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_playback(stream, module.objectName.c_str(), &attr, flags, nullptr, nullptr) < 0) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            continue;
        }
        keepers_.push_back(stream);
    }
}

AudioStatus PulseAudioSystem::publishOriginalInput(const std::string& uid)
{
    if (onLoopThread())
        return AudioStatuses::illegalOperation;
    PulseLoopLock streams(streams_);
    if (uid == originalInput_)
        return AudioStatuses::ok;
    originalInput_ = uid;
    // Not waited for: the server applies it in its own time. A keeper not
    // ready yet takes it when it is.
    for (pa_stream* stream : keepers_)
        if (pa_stream_get_state(stream) == PA_STREAM_READY)
            updateKeeper(stream, uid);
    return AudioStatuses::ok;
}

void PulseAudioSystem::onKeeperState(pa_stream* stream, void* self)
{
    auto* system = static_cast<PulseAudioSystem*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_READY && !system->originalInput_.empty())
        updateKeeper(stream, system->originalInput_);
}

void PulseAudioSystem::updateKeeper(pa_stream* stream, const std::string& uid)
{
    // Emptied rather than removed: not every server carries out a removal.
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, originalInputProperty, uid.c_str());
    if (pa_operation* operation = pa_stream_proplist_update(stream, PA_UPDATE_REPLACE, properties, nullptr, nullptr))
        pa_operation_unref(operation);
    pa_proplist_free(properties);
}

void PulseAudioSystem::stopKeepersLocked()
{
    for (pa_stream* stream : keepers_) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    keepers_.clear();
}

}  // namespace parlaro::sys
