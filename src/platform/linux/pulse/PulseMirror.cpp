#include "platform/linux/pulse/PulseMirror.h"

#include "platform/linux/pulse/VirtualMicModules.h"

#include <algorithm>
#include <charconv>

namespace parlaro::sys {

namespace {

std::string property(const std::map<std::string, std::string>& properties, const std::string& key)
{
    auto found = properties.find(key);
    return found == properties.end() ? std::string() : found->second;
}

std::optional<std::int32_t> processID(const PulseStreamInfo& stream)
{
    const std::string text = property(stream.properties, "application.process.id");
    std::int32_t pid = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

// The transport of hardware by its bus or driver; nullopt for an object the
// server made up (a null sink, a filter, ours).
std::optional<std::uint32_t> hardwareTransport(const std::map<std::string, std::string>& properties)
{
    const std::string bus = property(properties, "device.bus");
    const std::string api = property(properties, "device.api");
    if (bus.empty() && api.empty())
        return std::nullopt;
    if (bus == "usb")
        return AudioTransports::usb;
    if (bus == "bluetooth" || api == "bluez")
        return AudioTransports::bluetooth;
    return AudioTransports::builtIn;
}

// A source the server made up is still a microphone to its user: echo
// cancelling, remapping and noise suppression sit in front of a real one,
// and whatever stands in for one is one. It takes the transport of the
// device it filters when the server names it, else built-in. Sinks the
// server made up, our own devices and filters over them are virtual.
std::uint32_t transportType(const PulseSinkOrSource& object, const PulseServerState& server)
{
    if (auto hardware = hardwareTransport(object.properties))
        return *hardware;
    const bool isSource = object.monitorOf == pulseNoIndex && object.monitor == pulseNoIndex;
    if (!isSource || isOurs(object, server))
        return AudioTransports::virtualDevice;
    // Filters over filters: follow the chain a few steps, never round a loop.
    const PulseSinkOrSource* current = &object;
    for (int step = 0; step < 8; ++step) {
        const std::string master = property(current->properties, "device.master_device");
        if (master.empty())
            break;
        const PulseSinkOrSource* next = nullptr;
        for (const auto* objects : {&server.sources, &server.sinks})
            for (const auto& [index, candidate] : *objects)
                if (candidate.name == master)
                    next = &candidate;
        if (!next)
            break;
        // Our own voice would come back to us as the user's.
        if (isOurs(*next, server))
            return AudioTransports::virtualDevice;
        if (auto hardware = hardwareTransport(next->properties))
            return *hardware;
        current = next;
    }
    return AudioTransports::builtIn;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

struct Sides {
    const PulseSinkOrSource* sink = nullptr;
    const PulseSinkOrSource* source = nullptr;
};

AudioPropertyValue storedOr(const MirrorExtras& extras, const std::string& uid, const AudioPropertyAddress& address,
                            AudioPropertyValue fallback)
{
    auto found = extras.deviceValues.find({uid, address});
    return found == extras.deviceValues.end() ? fallback : found->second;
}

MirrorObject deviceObject(const std::string& uid, const Sides& sides, const MirrorExtras& extras,
                          const PulseServerState& server)
{
    MirrorObject object;
    object.kind = MirrorObject::Kind::device;
    const PulseSinkOrSource& primary = sides.source && sides.source->monitorOf == pulseNoIndex
        ? *sides.source
        : *(sides.sink ? sides.sink : sides.source);
    auto& p = object.properties;
    p[{AudioSelectors::deviceUID}] = AudioString(uid);
    p[{AudioSelectors::name}] = AudioString(primary.description.empty() ? primary.name : primary.description);
    p[{AudioSelectors::streamConfiguration, AudioScope::input}] = AudioBufferLayout{
        sides.source ? std::vector<std::uint32_t>{sides.source->channels} : std::vector<std::uint32_t>{}};
    p[{AudioSelectors::streamConfiguration, AudioScope::output}] =
        AudioBufferLayout{sides.sink ? std::vector<std::uint32_t>{sides.sink->channels} : std::vector<std::uint32_t>{}};
    p[{AudioSelectors::transportType}] = transportType(primary, server);
    if (sides.sink && !sides.sink->activePort.empty()) {
        const std::string port = lowercase(sides.sink->activePort);
        if (port.find("headphone") != std::string::npos)
            p[{AudioSelectors::dataSource, AudioScope::output}] = std::uint32_t{AudioDataSources::headphones};
        else if (port.find("speaker") != std::string::npos)
            p[{AudioSelectors::dataSource, AudioScope::output}] = std::uint32_t{AudioDataSources::internalSpeaker};
    }
    const double rate = primary.rate;
    p[{AudioSelectors::nominalSampleRate}] = rate;
    p[{AudioSelectors::availableNominalSampleRates}] = std::vector<AudioValueRange>{{rate, rate}};
    p[{AudioSelectors::isAlive}] = std::uint32_t{1};
    p[{AudioSelectors::bufferFrameSize}] =
        storedOr(extras, uid, {AudioSelectors::bufferFrameSize}, std::uint32_t{pulseCycleFrames});
    p[{AudioSelectors::safetyOffset, AudioScope::input}] = std::uint32_t{0};
    p[{AudioSelectors::safetyOffset, AudioScope::output}] = std::uint32_t{0};
    p[{AudioSelectors::processorOverload}] =
        storedOr(extras, uid, {AudioSelectors::processorOverload}, std::uint32_t{0});
    const std::string version = property(primary.properties, versionProperty);
    if (!version.empty())
        p[{AudioSelectors::driverVersion}] = AudioString(version);
    if (sides.sink) {
        object.sinkName = sides.sink->name;
        object.sinkIndex = sides.sink->index;
    }
    if (sides.source) {
        object.sourceName = sides.source->name;
        object.sourceIndex = sides.source->index;
    }
    return object;
}

// One build of the mirror, one step per kind of object. Devices come first:
// monitors, processes and the system object refer to them.
class MirrorBuilder {
public:
    MirrorBuilder(const PulseServerState& server, const MirrorExtras& extras, MirrorIds& ids)
        : server_(server), extras_(extras), ids_(ids), devices_(pairSides(server))
    {
    }

    void addDevices()
    {
        for (const auto& [uid, sides] : devices_) {
            const AudioObjectId id = idFor("device:" + uid);
            MirrorObject object = deviceObject(uid, sides, extras_, server_);
            if (sides.sink) {
                bySink_[sides.sink->index] = id;
                if (sides.sink->name == server_.defaultSink)
                    defaultOutput_ = id;
            }
            if (sides.source) {
                bySource_[sides.source->index] = id;
                if (sides.source->name == server_.defaultSource)
                    defaultInput_ = id;
            }
            mirror_.objects.emplace(id, std::move(object));
        }
    }

    // A machine without a microphone has a monitor as its default input. It
    // is never offered as an input, but it must be known by name, so that a
    // default moved away from it can be put back. Our own sinks' monitors
    // belong to the virtual microphone and stay out. Streams on monitors are
    // not counted as device use.
    void addMonitors()
    {
        for (const auto& [index, source] : server_.sources) {
            if (source.monitorOf == pulseNoIndex || bySource_.contains(index) || devices_.contains(source.name)
                || isOurs(source, server_))
                continue;
            const AudioObjectId id = idFor("device:" + source.name);
            MirrorObject object = deviceObject(source.name, Sides{nullptr, &source}, extras_, server_);
            object.listed = false;
            object.monitor = true;
            if (source.name == server_.defaultSource)
                defaultInput_ = id;
            mirror_.objects.emplace(id, std::move(object));
        }
    }

    // Processes: the owners of client streams, and this program always. The
    // virtual devices also tell when someone else starts or stops I/O on
    // them.
    void addProcesses(std::int32_t ownPid)
    {
        std::map<std::int32_t, Use> uses;
        uses[ownPid];
        std::map<AudioObjectId, std::uint32_t> foreignStreams;
        for (const bool input : {false, true})
            for (const auto& [index, stream] : input ? server_.sourceOutputs : server_.sinkInputs)
                account(stream, input, ownPid, uses, foreignStreams);
        for (const auto& [pid, use] : uses)
            mirror_.objects.emplace(idFor("process:" + std::to_string(pid)), processObject(pid, use));
        for (const char* uid : {virtualMicUID, injectionUID}) {
            if (!devices_.contains(uid))
                continue;
            const AudioObjectId id = idFor(std::string("device:") + uid);
            mirror_.objects[id].properties[{AudioSelectors::driverIOActivity}] = std::uint32_t{foreignStreams[id]};
        }
    }

    void addTaps()
    {
        const AudioStreamDescription tapFormat = AudioStreamDescription::pcm({48000, 2, SampleType::float32, true});
        for (const auto& [id, tap] : extras_.taps) {
            MirrorObject object;
            object.kind = MirrorObject::Kind::tap;
            object.listed = false;
            object.properties[{AudioSelectors::tapFormat}] = tapFormat;
            object.properties[{AudioSelectors::tapUID}] = AudioString(tap.uuid.toString());
            mirror_.objects.emplace(id, std::move(object));
        }
    }

    void addAggregates()
    {
        for (const auto& aggregate : extras_.aggregates) {
            MirrorObject object;
            object.kind = MirrorObject::Kind::device;
            object.aggregate = true;
            auto& p = object.properties;
            p[{AudioSelectors::deviceUID}] = AudioString(aggregate.description.uid);
            p[{AudioSelectors::name}] = AudioString(aggregate.description.name);
            p[{AudioSelectors::streamConfiguration, AudioScope::input}] = AudioBufferLayout{{2}};
            p[{AudioSelectors::streamConfiguration, AudioScope::output}] = AudioBufferLayout{};
            p[{AudioSelectors::transportType}] = std::uint32_t{AudioTransports::aggregate};
            p[{AudioSelectors::nominalSampleRate}] = 48000.0;
            p[{AudioSelectors::availableNominalSampleRates}] = std::vector<AudioValueRange>{{48000.0, 48000.0}};
            p[{AudioSelectors::isAlive}] = std::uint32_t{1};
            p[{AudioSelectors::bufferFrameSize}] = std::uint32_t{pulseCycleFrames};
            p[{AudioSelectors::safetyOffset, AudioScope::input}] = std::uint32_t{0};
            p[{AudioSelectors::safetyOffset, AudioScope::output}] = std::uint32_t{0};
            mirror_.objects.emplace(aggregate.id, std::move(object));
        }
    }

    // The system object over everything added, and the ids of objects that
    // went away forgotten.
    Mirror finish()
    {
        std::vector<std::uint32_t> deviceList;
        std::vector<std::uint32_t> processList;
        for (const auto& [id, object] : mirror_.objects) {
            if (object.kind == MirrorObject::Kind::device && object.listed)
                deviceList.push_back(id);
            else if (object.kind == MirrorObject::Kind::process)
                processList.push_back(id);
        }
        MirrorObject system;
        system.kind = MirrorObject::Kind::system;
        system.listed = false;
        auto& p = system.properties;
        p[{AudioSelectors::devices}] = std::move(deviceList);
        p[{AudioSelectors::processes}] = std::move(processList);
        p[{AudioSelectors::defaultInputDevice}] = defaultInput_;
        p[{AudioSelectors::defaultOutputDevice}] = defaultOutput_;
        p[{AudioSelectors::serviceRestarted}] = extras_.restarts;
        p[{AudioSelectors::serviceRunning}] = extras_.running;
        p[{AudioSelectors::serviceAnswering}] = extras_.answering;
        mirror_.objects.emplace(audioSystemObject, std::move(system));
        ids_.keepOnly(alive_);
        return std::move(mirror_);
    }

private:
    // What one process does with the devices.
    struct Use {
        std::set<AudioObjectId> inputs;
        std::set<AudioObjectId> outputs;
        bool runningInput = false;
        bool runningOutput = false;
        std::string bundle;
        std::string originalInput;
    };

    // Sinks and sources by device: those carrying the same device UID
    // property form one device.
    static std::map<std::string, Sides> pairSides(const PulseServerState& server)
    {
        std::map<std::string, Sides> devices;
        for (const auto& [index, sink] : server.sinks) {
            std::string uid = property(sink.properties, uidProperty);
            Sides& sides = devices[uid.empty() ? sink.name : uid];
            if (!sides.sink)
                sides.sink = &sink;
        }
        for (const auto& [index, source] : server.sources) {
            // Some servers copy a sink's properties onto its monitor, so only
            // monitor_of_sink tells a monitor apart.
            if (source.monitorOf != pulseNoIndex)
                continue;
            std::string uid = property(source.properties, uidProperty);
            Sides& sides = devices[uid.empty() ? source.name : uid];
            if (!sides.source)
                sides.source = &source;
        }
        // The injection device hears what calling applications play into the
        // virtual speaker.
        auto injection = devices.find(injectionUID);
        auto speaker = devices.find(virtualMicUID);
        if (injection != devices.end() && speaker != devices.end() && speaker->second.sink
            && !injection->second.source) {
            auto monitor = server.sources.find(speaker->second.sink->monitor);
            if (monitor != server.sources.end())
                injection->second.source = &monitor->second;
        }
        return devices;
    }

    void account(const PulseStreamInfo& stream, bool input, std::int32_t ownPid, std::map<std::int32_t, Use>& uses,
                 std::map<AudioObjectId, std::uint32_t>& foreignStreams) const
    {
        const auto& devicesOfSide = input ? bySource_ : bySink_;
        auto device = devicesOfSide.find(stream.device);
        auto pid = processID(stream);
        if (device != devicesOfSide.end() && pid != ownPid)
            ++foreignStreams[device->second];
        if (stream.client == pulseNoIndex || !pid)
            return;
        Use& use = uses[*pid];
        if (use.bundle.empty()) {
            use.bundle = property(stream.properties, "application.id");
            if (use.bundle.empty())
                use.bundle = property(stream.properties, "application.process.binary");
        }
        if (use.originalInput.empty())
            use.originalInput = property(stream.properties, originalInputProperty);
        if (device == devicesOfSide.end())
            return;
        (input ? use.inputs : use.outputs).insert(device->second);
        if (!stream.corked)
            (input ? use.runningInput : use.runningOutput) = true;
    }

    static MirrorObject processObject(std::int32_t pid, const Use& use)
    {
        MirrorObject object;
        object.kind = MirrorObject::Kind::process;
        object.pid = pid;
        auto& p = object.properties;
        p[{AudioSelectors::processPID}] = static_cast<std::uint32_t>(pid);
        if (!use.bundle.empty())
            p[{AudioSelectors::processBundleID}] = AudioString(use.bundle);
        if (!use.originalInput.empty())
            p[{AudioSelectors::processOriginalInput}] = AudioString(use.originalInput);
        p[{AudioSelectors::processIsRunningInput}] = std::uint32_t{use.runningInput ? 1u : 0u};
        p[{AudioSelectors::processIsRunningOutput}] = std::uint32_t{use.runningOutput ? 1u : 0u};
        p[{AudioSelectors::processDevices, AudioScope::input}] =
            std::vector<std::uint32_t>(use.inputs.begin(), use.inputs.end());
        p[{AudioSelectors::processDevices, AudioScope::output}] =
            std::vector<std::uint32_t>(use.outputs.begin(), use.outputs.end());
        return object;
    }

    AudioObjectId idFor(const std::string& key)
    {
        alive_.insert(key);
        return ids_.idFor(key);
    }

    const PulseServerState& server_;
    const MirrorExtras& extras_;
    MirrorIds& ids_;
    const std::map<std::string, Sides> devices_;
    Mirror mirror_;
    std::set<std::string> alive_;
    std::map<std::uint32_t, AudioObjectId> bySink_;
    std::map<std::uint32_t, AudioObjectId> bySource_;
    AudioObjectId defaultInput_ = 0;
    AudioObjectId defaultOutput_ = 0;
};

}  // namespace

bool isOurs(const PulseSinkOrSource& object, const PulseServerState& server)
{
    if (!property(object.properties, uidProperty).empty())
        return true;
    auto monitored = server.sinks.find(object.monitorOf);
    return monitored != server.sinks.end() && !property(monitored->second.properties, uidProperty).empty();
}

AudioObjectId MirrorIds::idFor(const std::string& key)
{
    auto [entry, added] = ids_.try_emplace(key, next_);
    if (added)
        ++next_;
    return entry->second;
}

void MirrorIds::keepOnly(const std::set<std::string>& alive)
{
    std::erase_if(ids_, [&](const auto& entry) { return !alive.contains(entry.first); });
}

const MirrorObject* Mirror::find(AudioObjectId id) const
{
    auto found = objects.find(id);
    return found == objects.end() ? nullptr : &found->second;
}

const AudioPropertyValue* Mirror::value(AudioObjectId id, const AudioPropertyAddress& address) const
{
    const MirrorObject* object = find(id);
    if (!object)
        return nullptr;
    auto found = object->properties.find(address);
    return found == object->properties.end() ? nullptr : &found->second;
}

AudioObjectId Mirror::deviceWithUID(const std::string& uid) const
{
    for (const auto& [id, object] : objects) {
        if (object.kind != MirrorObject::Kind::device)
            continue;
        auto found = object.properties.find({AudioSelectors::deviceUID});
        if (found == object.properties.end())
            continue;
        const auto* text = std::get_if<AudioString>(&found->second);
        if (text && *text && **text == uid)
            return id;
    }
    return audioUnknownObject;
}

AudioObjectId Mirror::processWithPID(std::int32_t pid) const
{
    for (const auto& [id, object] : objects)
        if (object.kind == MirrorObject::Kind::process && object.pid == pid)
            return id;
    return audioUnknownObject;
}

Mirror buildMirror(const PulseServerState& server, const MirrorExtras& extras, std::int32_t ownPid, MirrorIds& ids)
{
    MirrorBuilder builder(server, extras, ids);
    builder.addDevices();
    builder.addMonitors();
    builder.addProcesses(ownPid);
    builder.addTaps();
    builder.addAggregates();
    return builder.finish();
}

std::vector<std::pair<AudioObjectId, AudioPropertyAddress>> mirrorChanges(const Mirror& before, const Mirror& after)
{
    std::vector<std::pair<AudioObjectId, AudioPropertyAddress>> changes;
    for (const auto& [id, old] : before.objects) {
        const MirrorObject* now = after.find(id);
        if (!now) {
            if (old.kind == MirrorObject::Kind::device)
                changes.emplace_back(id, AudioPropertyAddress{AudioSelectors::isAlive});
            continue;
        }
        for (const auto& [address, value] : old.properties) {
            auto found = now->properties.find(address);
            if (found == now->properties.end() || !(found->second == value))
                changes.emplace_back(id, address);
        }
        for (const auto& [address, value] : now->properties)
            if (!old.properties.contains(address))
                changes.emplace_back(id, address);
    }
    return changes;
}

}  // namespace parlaro::sys
