#pragma once

#include "platform/AudioProcessTap.h"
#include "platform/AudioProperty.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace parlaro::sys {

inline constexpr std::uint32_t pulseNoIndex = 0xffffffffu;

// What the server last told about its objects, by server index.
struct PulseSinkOrSource {
    std::uint32_t index = pulseNoIndex;
    std::string name;
    std::string description;
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    // Sources: the sink it monitors, or pulseNoIndex.
    std::uint32_t monitorOf = pulseNoIndex;
    // Sinks: their monitor source.
    std::uint32_t monitor = pulseNoIndex;
    std::uint32_t ownerModule = pulseNoIndex;
    std::string activePort;
    std::map<std::string, std::string> properties;
};

// A sink input (playing) or source output (recording).
struct PulseStreamInfo {
    std::uint32_t index = pulseNoIndex;
    std::uint32_t client = pulseNoIndex;
    // The sink or source it is connected to.
    std::uint32_t device = pulseNoIndex;
    bool corked = false;
    std::map<std::string, std::string> properties;
};

struct PulseServerState {
    std::map<std::uint32_t, PulseSinkOrSource> sinks;
    std::map<std::uint32_t, PulseSinkOrSource> sources;
    std::map<std::uint32_t, PulseStreamInfo> sinkInputs;
    std::map<std::uint32_t, PulseStreamInfo> sourceOutputs;
    std::string defaultSink;
    std::string defaultSource;
};

// One object of the mirror as callers see it: properties by address, and
// for a device where its two sides live on the server.
struct MirrorObject {
    enum class Kind { system, device, process, tap };

    Kind kind = Kind::device;
    std::map<AudioPropertyAddress, AudioPropertyValue> properties;
    // Devices: the sink that plays its output and the source (possibly a
    // monitor) that records its input; empty when it has no such side.
    std::string sinkName;
    std::uint32_t sinkIndex = pulseNoIndex;
    std::string sourceName;
    std::uint32_t sourceIndex = pulseNoIndex;
    bool listed = true;
    // Devices: a sink's monitor, unlisted, there only to be named and made the
    // default input again; nothing records from it.
    bool monitor = false;
    // Devices made for a far-end capture: the taps they read.
    bool aggregate = false;
    // Processes: the process id.
    std::int32_t pid = 0;
};

// The program's own objects, which the server does not know.
struct MirrorExtras {
    struct Aggregate {
        AudioObjectId id = 0;
        AggregateDeviceDescription description;
    };
    std::map<AudioObjectId, ProcessTapDescription> taps;
    std::vector<Aggregate> aggregates;
    // Per device: stored values callers wrote ('fsiz') and counters ('over').
    std::map<std::pair<std::string, AudioPropertyAddress>, AudioPropertyValue> deviceValues;
    std::uint32_t restarts = 0;
    // 1 while connected to the server ('srun').
    std::uint32_t running = 0;
    // 0 while the server takes connections and does not answer them ('sans').
    std::uint32_t answering = 1;
};

// Hands out ids by object key; an id is never handed out twice, so a key that
// comes back after it went away gets a new one.
class MirrorIds {
public:
    explicit MirrorIds(AudioObjectId first = 100) : next_(first) {}
    AudioObjectId idFor(const std::string& key);
    // Forgets every key not in `alive`.
    void keepOnly(const std::set<std::string>& alive);
    AudioObjectId reserve() { return next_++; }

private:
    std::map<std::string, AudioObjectId> ids_;
    AudioObjectId next_;
};

// The whole mirror: every object, the system object's properties included
// (under audioSystemObject).
struct Mirror {
    std::map<AudioObjectId, MirrorObject> objects;

    const MirrorObject* find(AudioObjectId id) const;
    const AudioPropertyValue* value(AudioObjectId id, const AudioPropertyAddress& address) const;
    // The device with this UID; 0 for none.
    AudioObjectId deviceWithUID(const std::string& uid) const;
    // The process object of this pid; 0 for none.
    AudioObjectId processWithPID(std::int32_t pid) const;
};

// The fixed frame count of a device cycle.
inline constexpr std::uint32_t pulseCycleFrames = 1024;

// Builds the mirror from the server state, the program's own objects and its
// pid. Devices: one per non-monitor sink and source, except that sinks and
// sources carrying the same device UID property form one device; the
// injection device records from the monitor of the virtual speaker. Other
// monitors are unlisted devices named after their source, so that one can be
// read and written as the default input. The two virtual devices count other
// programs' streams on them in 'dcio'; no device offers a clock correction
// ('dcck').
Mirror buildMirror(const PulseServerState& server, const MirrorExtras& extras, std::int32_t ownPid, MirrorIds& ids);

// The program's own: the object carries our device UID property (with a
// value; a property of ours left empty names no device), or it is the monitor
// of a sink that does.
bool isOurs(const PulseSinkOrSource& object, const PulseServerState& server);

// The addresses whose values differ between two mirrors, per object; a
// device that went away reports 'livn'.
std::vector<std::pair<AudioObjectId, AudioPropertyAddress>> mirrorChanges(const Mirror& before, const Mirror& after);

}  // namespace parlaro::sys
