#pragma once

#include "platform/AudioSystem.h"
#include "platform/sim/SimAudioCore.h"
#include "platform/sim/SimAudioQueue.h"
#include "platform/sim/SimInputEngine.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::sim {

// A device as a test builds it. Every field becomes a property the code under
// test reads; anything else can be stored or removed afterwards.
struct SimDevice {
    AudioObjectId id = 0;
    std::string uid;
    // nullopt: reading 'lnam' fails.
    std::optional<std::string> name;
    // Channels of each buffer ('slay'), per scope.
    std::vector<std::uint32_t> inputBuffers;
    std::vector<std::uint32_t> outputBuffers;
    std::uint32_t transportType = 0;
    // nullopt: the device has no output data source ('ssrc').
    std::optional<std::uint32_t> outputSource;
    double nominalRate = 48000;
    // Empty: the nominal rate alone.
    std::vector<AudioValueRange> availableRates;
    bool alive = true;
    std::uint32_t bufferFrames = 512;
    std::uint32_t inputSafetyOffset = 0;
    std::uint32_t outputSafetyOffset = 0;
    // How far the device's clock runs from its nominal rate, in ppm.
    double ppm = 0;
    // False: the device list ('dev#') leaves it out, though 'uidd' finds it.
    bool listed = true;
    // Further global properties, such as a driver's 'dcvr', 'dcck', 'dcio'.
    std::map<AudioSelector, AudioPropertyValue> custom;
};

// A process doing audio, as its process object shows it.
struct SimProcess {
    AudioObjectId id = 0;
    std::int32_t pid = 0;
    // nullopt: no 'pbid' property. A null one: store AudioString{} under 'pbid'.
    std::optional<std::string> bundleID;
    bool runningInput = false;
    bool runningOutput = false;
    std::vector<AudioObjectId> inputDevices;
    std::vector<AudioObjectId> outputDevices;
    // What the process plays, per channel at the sample time of the device
    // that hears it. Every process tap that does not exclude the process
    // hears it, mixed with the other processes it hears.
    SimSignal output;
};

// What a write of a default device ('dIn ', 'dOut') does when it succeeds.
enum class DefaultSwitch { takesEffect, ignored };

struct SimIOProcInfo {
    AudioIOProcId id = 0;
    AudioObjectId device = 0;
    bool started = false;
};

// The audio system in memory, driven by the test: devices, defaults and
// processes it builds, failures it injects into any single call,
// notifications it fires (each runs on the queue its listener was registered
// with), device cycles it runs, and a record of everything callers
// registered, removed and set. Installs itself as the process-wide audio
// system for its lifetime.
//
// It raises the notifications a server raises: a device or process that
// comes or goes changes the device list ('dev#') or process list ('prs#'); a
// device that goes (or is replaced) tells its 'livn' listeners first; a
// removed default device is replaced by the first listed device with
// channels in that scope, which changes 'dIn ' or 'dOut'; a caller's write
// that changes a value, and a default chosen "elsewhere" by the test, tell
// that property's listeners (unless that default goes unannounced).
// Listeners registered for the notification thread run on the sim's own
// serial queue, never inside the call that caused the change. stopDevice and
// destroyIOProc return only after a cycle of the device running on another
// thread has ended.
//
// Device timelines: a device's clock starts when its first procedure starts,
// at the host time of rt::clock(), at sample time 0, and runs at its nominal
// rate moved by its ppm and by any 'dcck' correction written to it. The cycle
// that captures input frames [s, s + n) happens at sample time s + n + the
// input safety offset; its output is due at that time plus the output safety
// offset. Sample time x is at host time start + x / rate.
class SimAudioSystem final : public AudioSystem {
public:
    SimAudioSystem();
    ~SimAudioSystem() override;
    SimAudioSystem(const SimAudioSystem&) = delete;
    SimAudioSystem& operator=(const SimAudioSystem&) = delete;

    // AudioSystem
    bool hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const override;
    AudioStatus getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address, std::uint32_t& size,
                                    const AudioPropertyValue* qualifier = nullptr) const override;
    AudioStatus getPropertyData(AudioObjectId object, const AudioPropertyAddress& address, AudioPropertyValue& value,
                                const AudioPropertyValue* qualifier = nullptr) const override;
    AudioStatus setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                const AudioPropertyValue& value) override;
    AudioListenerToken addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                           AudioCallbackQueue queue, AudioPropertyListener listener) override;
    AudioStatus createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id) override;
    AudioStatus destroyIOProc(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus startDevice(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus stopDevice(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap) override;
    AudioStatus destroyProcessTap(AudioObjectId tap) override;
    AudioStatus createAggregateDevice(const AggregateDeviceDescription& description, AudioObjectId& device) override;
    AudioStatus destroyAggregateDevice(AudioObjectId device) override;
    AudioStatus newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback, void* userData,
                               std::shared_ptr<AudioQueue>& queue) override;
    AudioStatus newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback, void* userData,
                              std::shared_ptr<AudioQueue>& queue) override;
    std::shared_ptr<AudioInputEngine> makeInputEngine() override;
    std::int32_t currentProcessID() const override;

    // Building the world. Nothing here is recorded; what a server would
    // announce is notified (see above).
    void addDevice(const SimDevice& device);
    void addProcess(const SimProcess& process);
    // A device unplugged, a process ended: the object and its registrations
    // go away.
    void removeObject(AudioObjectId object);
    // Stores a property of an existing object (nothing when there is none),
    // silently: a test that wants it announced calls notify().
    void store(AudioObjectId object, const AudioPropertyAddress& address, AudioPropertyValue value);
    void removeProperty(AudioObjectId object, const AudioPropertyAddress& address);
    std::optional<AudioPropertyValue> storedValue(AudioObjectId object, const AudioPropertyAddress& address) const;
    // The default device, as the user would choose it elsewhere; 0 for none.
    void setDefaultDevice(bool input, AudioObjectId device);
    // The server's own default, whatever it announced.
    std::optional<AudioObjectId> defaultDevice(bool input) const;
    void setDefaultSwitch(bool input, DefaultSwitch behaviour);
    // False: the server changes that default without announcing it, as some
    // do after a stall. Its listeners hear nothing, and a read without the
    // askTheServer qualifier keeps giving the default last announced; a read
    // that asks gives the server's own, which catches that copy up and tells
    // the listeners, as the backend does. True again announces a default
    // missed meanwhile.
    void setDefaultAnnounced(bool input, bool announced);
    // False: the system object has no process list ('prs#').
    void setProcessListAvailable(bool available);
    void setCurrentProcessID(std::int32_t pid);
    // The format new taps report in 'tfmt'.
    void setTapFormat(const AudioStreamDescription& format);

    // Makes a call fail with `status` (for `times` calls, or always when -1).
    // anyObject and anySelector match every object or selector. A status of 0
    // makes the call succeed without a result: a null string, id 0, no
    // procedure, no queue.
    void fail(AudioObjectId object, AudioSelector selector, AudioOperation operation, AudioStatus status,
              int times = -1);
    void clearFailures();

    // The property changed: every listener registered for it runs on its queue.
    void notify(AudioObjectId object, const AudioPropertyAddress& address);

    // The record.
    std::vector<SimAudioEvent> events() const;
    void clearEvents();
    // Registrations not yet removed.
    std::vector<SimListener> listeners() const;
    std::size_t listenerCount(AudioObjectId object, const AudioPropertyAddress& address) const;
    // The values callers wrote to a property, in order, failed writes included.
    std::vector<SimAudioEvent> sets(AudioObjectId object, const AudioPropertyAddress& address) const;

    // Device I/O.
    void setInputSignal(AudioObjectId device, SimSignal signal);
    // What a process plays from now on (see SimProcess::output).
    void setProcessOutput(AudioObjectId process, SimSignal signal);
    // One cycle of `frames` (the device's 'fsiz' when 0): every started
    // procedure runs with the device's input and a zeroed output, which the
    // device mixes. notRunning when no procedure is started.
    AudioStatus runIOCycle(AudioObjectId device, std::uint32_t frames = 0);
    // Runs the cycles of every running device, earliest first, while they
    // fall at or before `hostSeconds`; returns how many ran.
    std::size_t runIOUntil(double hostSeconds);
    // All samples the device has played on one output channel.
    std::vector<float> output(AudioObjectId device, std::uint32_t channel) const;
    void clearOutput(AudioObjectId device);
    std::vector<SimIOProcInfo> ioProcs() const;
    bool isRunning(AudioObjectId device) const;
    // The device's current sample time (the next input frame).
    double sampleTime(AudioObjectId device) const;

    // Taps, aggregates, queues and engines that exist now.
    std::map<AudioObjectId, ProcessTapDescription> taps() const;
    std::map<AudioObjectId, AggregateDeviceDescription> aggregates() const;
    std::vector<std::shared_ptr<SimAudioQueue>> queues() const;
    // Output queues play nothing while stalled: they run forever.
    void setQueuesStalled(bool stalled);
    // False: queue timelines give time stamps without valid times.
    void setQueueTimeValid(bool valid);
    // Fills each enqueued buffer of every running input queue and hands it to
    // its callback; returns how many buffers were delivered.
    std::size_t runInputQueues();
    std::vector<std::shared_ptr<SimInputEngine>> inputEngines() const;

private:
    // Listeners to tell about one changed property, gathered under the lock
    // and told after it.
    struct Change {
        std::vector<std::shared_ptr<SimAudioCore::Registration>> listeners;
        AudioPropertyAddress address;
    };
    // Under the lock: a device (or process) came or went.
    void collectListChange(SimAudioCore::ObjectKind kind, bool listed, std::vector<Change>& changes);
    // Under the lock: a removed device was a default; another takes its place.
    void collectDefaultRepair(AudioObjectId removed, std::vector<Change>& changes);
    void deliver(const std::vector<Change>& changes);

    AudioStatus newQueue(SimAudioQueue::Direction direction, const AudioStreamDescription& format,
                         AudioQueueOutputCallback output, AudioQueueInputCallback input, void* userData,
                         std::shared_ptr<AudioQueue>& queue);

    std::shared_ptr<SimAudioCore> core_;
    AudioSystemScope scope_;
};

}  // namespace parlaro::sim
