#pragma once

#include "platform/AudioSystem.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace parlaro::sim {

// Every call of the audio system a test can make fail.
enum class AudioOperation {
    hasProperty,
    getPropertyDataSize,
    getPropertyData,
    setPropertyData,
    addPropertyListener,
    createIOProc,
    destroyIOProc,
    startDevice,
    stopDevice,
    createProcessTap,
    destroyProcessTap,
    createAggregateDevice,
    destroyAggregateDevice,
    newQueue,
    queueGetProperty,
    queueSetProperty,
    queueAllocateBuffer,
    queueEnqueueBuffer,
    queueStart,
    queueStop,
    queueDispose,
    queueCreateTimeline,
    queueCurrentTime,
    engineSetInputDevice,
    engineInputFormat,
    engineStart,
};

// Wildcards for failure rules.
inline constexpr AudioObjectId anyObject = 0xffffffffu;
inline constexpr AudioSelector anySelector = 0;

// One entry of the record of what callers did to the audio system.
struct SimAudioEvent {
    enum class Kind { added, removed, set };

    Kind kind = Kind::added;
    AudioObjectId object = 0;
    AudioPropertyAddress address;
    // added: where the listener runs ("main", a queue label, "" for none).
    std::string queue;
    // added / removed: which registration.
    std::uint64_t registration = 0;
    // set: what the call answered.
    AudioStatus status = AudioStatuses::ok;
    // set: the value written.
    std::optional<AudioPropertyValue> value;
};

// A registration that has not been removed.
struct SimListener {
    std::uint64_t registration = 0;
    AudioObjectId object = 0;
    AudioPropertyAddress address;
    std::string queue;
};

// Samples a device captures: the value of a channel at a sample time.
using SimSignal = std::function<float(std::uint32_t channel, double sampleTime)>;

class SimAudioQueue;
class SimInputEngine;

// The shared state behind SimAudioSystem and the queues and engines it makes.
// Everything is guarded by `mutex`; callbacks into the code under test always
// run with it released.
struct SimAudioCore {
    // The label of the queue that stands for the server's notification
    // thread (a test may suspend it to order deliveries).
    static constexpr const char* notificationQueueLabel = "sim.audio.notifications";

    enum class ObjectKind { system, device, process, tap, queue, engine };

    struct Object {
        ObjectKind kind = ObjectKind::device;
        std::map<AudioPropertyAddress, AudioPropertyValue> properties;
        // Devices: listed in 'dev#'.
        bool listed = true;
        double ppm = 0;
        SimSignal signal;
        std::uint64_t order = 0;
    };

    // One listener. A notification on its way holds the entry itself, so a
    // device's last 'alive' notification still arrives after the device and
    // its registrations are gone; releasing the token clears `active`, after
    // which the listener is never called.
    struct Registration {
        AudioObjectId object = 0;
        AudioPropertyAddress address;
        AudioCallbackQueue queue;
        AudioPropertyListener listener;
        std::atomic<bool> active{true};
    };

    struct FailureRule {
        AudioStatus status = 0;
        int remaining = -1;  // -1: every call
    };

    struct IOProc {
        AudioObjectId device = 0;
        AudioIOProc proc = nullptr;
        void* context = nullptr;
        bool started = false;
    };

    // A running device's timeline: the sample time of the next input frame
    // and its host time in seconds.
    struct DeviceClock {
        double nextSample = 0;
        double hostAtNext = 0;
    };

    mutable std::mutex mutex;
    std::map<AudioObjectId, Object> objects;
    std::map<AudioIOProcId, IOProc> procs;
    AudioIOProcId nextProc = 1;
    std::map<AudioObjectId, DeviceClock> clocks;
    std::map<AudioObjectId, std::vector<std::vector<float>>> outputs;
    std::map<std::tuple<AudioObjectId, AudioScope, AudioIOProcId>, std::vector<std::uint32_t>> streamUsage;
    std::map<AudioObjectId, ProcessTapDescription> taps;
    std::map<AudioObjectId, AggregateDeviceDescription> aggregates;
    std::vector<std::weak_ptr<SimAudioQueue>> queues;
    std::vector<std::weak_ptr<SimInputEngine>> engines;
    bool switchInput = true;
    bool switchOutput = true;
    // Defaults whose changes go unannounced, by selector: the value last
    // announced, which a read that does not ask the server gives.
    std::map<AudioSelector, std::uint32_t> unannouncedDefaults;
    bool processListAvailable = true;
    bool queuesStalled = false;
    bool queueTimeValid = true;
    std::int32_t processID = 4242;
    AudioStreamDescription tapFormat = AudioStreamDescription::pcm({48000, 2, SampleType::float32, true});
    std::uint64_t nextOrder = 0;
    AudioObjectId nextGeneratedId = 9000;
    std::map<std::uint64_t, std::shared_ptr<Registration>> registrations;
    // Where listeners registered for the notification thread run; made on
    // first use, from the runtime installed then.
    std::shared_ptr<rt::SerialQueue> notificationQueue;
    // Device cycles running now, per device, and the threads running them.
    std::map<AudioObjectId, std::vector<std::thread::id>> cyclesInFlight;
    std::condition_variable cycleEnded;
    std::uint64_t nextRegistration = 1;
    std::vector<SimAudioEvent> events;
    std::map<std::tuple<AudioObjectId, AudioSelector, AudioOperation>, FailureRule> failures;

    // Under the lock: the status of an injected failure, consuming one use.
    std::optional<AudioStatus> takeFailure(AudioObjectId object, AudioSelector selector, AudioOperation operation);
    // Under the lock: a fresh id not taken by any object.
    AudioObjectId generateId();
    // Under the lock: the id of the device with this UID; 0 when none.
    AudioObjectId deviceWithUID(const std::string& uid) const;
    // Under the lock: the stored value, if any.
    const AudioPropertyValue* stored(AudioObjectId object, const AudioPropertyAddress& address) const;
    // Under the lock: a number property, or `fallback` when absent.
    std::uint32_t number(AudioObjectId object, const AudioPropertyAddress& address, std::uint32_t fallback) const;
    // Under the lock: the rate the device's clock really runs at, its nominal
    // rate moved by its drift and by a clock correction written to 'dcck'.
    double effectiveRate(AudioObjectId device) const;
    // Under the lock: a device's buffers in one scope.
    std::vector<std::uint32_t> layout(AudioObjectId device, AudioScope scope) const;
    // Under the lock: removes the object with everything that hangs on it. The
    // registrations it drops are handed back so the caller destroys them
    // after unlocking (a listener may own tokens of its own).
    [[nodiscard]] std::vector<std::shared_ptr<Registration>> removeObjectLocked(AudioObjectId object);
    // Under the lock: waits until no cycle of the device is running on
    // another thread (a procedure that stops its own device does not wait
    // for itself).
    void waitForCyclesLocked(std::unique_lock<std::mutex>& lock, AudioObjectId device);
    // Under the lock: the registrations listening to this property.
    std::vector<std::shared_ptr<Registration>> listenersOf(AudioObjectId object,
                                                           const AudioPropertyAddress& address) const;
    // Under the lock: the listeners to tell that a default changed, none
    // while its changes go unannounced.
    std::vector<std::shared_ptr<Registration>> defaultListeners(AudioSelector selector) const;
    // Under the lock: a read that asked the server brings an unannounced
    // default's copy up to date; the listeners to tell when it moved.
    std::vector<std::shared_ptr<Registration>> catchUpDefault(AudioSelector selector);
    // Under the lock: the first listed device with channels in that scope, 0
    // when there is none.
    AudioObjectId firstDeviceWithChannels(AudioScope scope) const;

    // Registers a listener and gives its token; the token ends it through a
    // weak reference, so it may outlive the sim.
    static AudioListenerToken addListener(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                                          const AudioPropertyAddress& address, AudioCallbackQueue queue,
                                          AudioPropertyListener listener);
    // Dispatches the change to each live registration on its queue; a
    // registration removed before its job runs is not called.
    static void notify(const std::shared_ptr<SimAudioCore>& core, AudioObjectId object,
                       const AudioPropertyAddress& address);
    // Dispatches a change to registrations gathered under the lock; called
    // with the lock released.
    static void deliver(const std::shared_ptr<SimAudioCore>& core,
                        const std::vector<std::shared_ptr<Registration>>& targets, const AudioPropertyAddress& address);
};

}  // namespace parlaro::sim
