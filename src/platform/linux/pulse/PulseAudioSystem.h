#pragma once

#include "platform/AudioSystem.h"
#include "platform/linux/pulse/PulseLoop.h"
#include "platform/linux/pulse/PulseMirror.h"
#include "platform/linux/pulse/PulseNotifier.h"
#include "platform/linux/pulse/PulseStreamHost.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::sys {

class PulseDeviceIO;
class PulseTapIO;

// The audio system on a PulseAudio-protocol sound server (PulseAudio itself
// or PipeWire's server).
//
// Two server loops: the control loop keeps the mirror (devices, defaults,
// processes) current from the server's events and makes its changes; the
// stream loop runs the I/O procedures in stream callbacks. Reads answer from
// the mirror under its mutex alone, except a default read with the
// askTheServer qualifier, which asks the server (2 s at most): some servers
// stop announcing new defaults. Writes wait for the server (2 s at most)
// and for its change event, so a default set is read back at once.
// Listeners run from the notification thread, never a loop thread. A
// blocking call made on a loop thread answers illegalOperation. Lock order:
// the control loop's lock, then the stream loop's, then the mirror mutex; a
// worker thread reconnects.
//
// Without a server it starts disconnected and tries again every 2 s: no
// devices, no process list, and calls that need the server answer
// serverUnavailable. A server that takes the connection and does not answer
// it within the start's wait (one held still) is waited for by the worker
// alone, with 'sans' 0 meanwhile, so the thread that makes the system is not
// held; standard error says so only after a second of silence, which a
// loaded machine or a server started on demand may take. While connected the
// worker asks the server something small every quarter second: a question
// unanswered for half a second makes 'sans' 0 until an answer comes, and
// standard error tells a silence of two seconds. Each
// (re)connection makes sure the virtual microphone's modules are loaded; a
// reconnection is announced as 'srst' first.
class PulseAudioSystem final : public AudioSystem {
public:
    struct Options {
        // The hash the virtual microphone's modules must carry.
        std::string driverHash;
        double retrySeconds = 2.0;
        // How long the thread that makes the system waits for the server to
        // answer the connection; past it the worker goes on trying, as
        // after a loss. A program's start must not wait on a server held
        // still (`quickStart`); a tool that needs the server at once waits
        // as long as for any connection.
        double startAnswerSeconds = 5.0;
    };
    static constexpr double quickStart = 0.05;

    PulseAudioSystem();
    explicit PulseAudioSystem(Options options);
    ~PulseAudioSystem() override;
    PulseAudioSystem(const PulseAudioSystem&) = delete;
    PulseAudioSystem& operator=(const PulseAudioSystem&) = delete;

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

    bool isConnected() const;
    // Why the last connection attempt failed ("Connection refused"), and the
    // server's error code; empty and 0 while connected.
    std::string connectionError() const;
    int connectionErrorCode() const;
    // The server this system talks to, as its address reads.
    std::string serverName() const;

    // Installing and updating the virtual microphone: makes sure its modules
    // are loaded with this build's hash, reloading ours (and only ours) when
    // the hash differs. Nullopt on success, else the server's error text.
    // Nothing unloads them at quit: the call application may still be
    // recording from the virtual microphone.
    std::optional<std::string> ensureVirtualMic();
    // The loaded modules carry another hash than this build's. False when
    // they are not loaded at all: that is a missing installation.
    bool virtualMicNeedsUpdate() const;
    // Every module of the virtual microphone is loaded, whatever its hash.
    bool virtualMicLoaded() const;

    // For tests: while held, the mirror's defaults follow neither the
    // server's change events nor its re-reads, as with a server that applies
    // a new default after the mirror last looked and never announces it; a
    // read that asks the server still gets its answer, and keeps it.
    void holdMirroredDefaults(bool held);

private:
    // How long a call waits for the server's answer, for a default it
    // acknowledged to apply, and for a connection; how much silence a keeper
    // stream holds.
    static constexpr double writeDeadline = 2.0;
    static constexpr double settleDeadline = 1.0;
    static constexpr double connectDeadline = 5.0;
    static constexpr double keeperSeconds = 0.2;
    // While connected: how often the server is asked whether it answers, how
    // long a question may wait before the server counts as not answering,
    // and how long a silence lasts before standard error tells it (at a
    // connection; while connected).
    static constexpr double probeSeconds = 0.25;
    static constexpr double probeOverdue = 0.5;
    static constexpr double connectSilenceTold = 1.0;
    static constexpr double runSilenceTold = 2.0;

    struct Registration;
    struct ListenerTable;
    struct Proc;
    struct Gather;

    // Connection.
    // `answerSeconds`: how long the server has to answer the connection.
    void connect(double answerSeconds);
    void connectLocked(bool& ready, double answerSeconds);
    void disconnectLocked();
    void lost();
    void workerLoop();
    void scheduleRetry(double seconds);
    // How long the worker's next connection waits for the answer: until the
    // silence is told, then as long as any connection.
    double retryAnswerSeconds() const;
    // On the worker while connected: asks the server again, or marks it
    // silent when the last question went unanswered too long.
    void probe();
    static void onProbeAnswer(pa_context* context, const pa_server_info* info, void* self);
    void cancelProbeLocked();
    static void onContextState(pa_context* context, void* self);
    static void onStreamContextState(pa_context* context, void* self);
    static void onAskingContextState(pa_context* context, void* self);
    // Under the control loop lock: a short-lived connection on the control
    // loop for one question, or none; `answered` is false when the server
    // did not answer the connection in time.
    pa_context* openAskingContextLocked(bool& answered);
    void closeAskingContextLocked(pa_context* asking);

    // The mirror.
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    // libpulse's answer about one kind of object, to a full listing (Target
    // is a Gather) or to a re-read of one object (Target is the system):
    // each object, converted, goes to Target::keep, the end of the answer to
    // Target::answerEnded.
    template <auto objects, auto convert, typename Target, typename Info>
    static void received(pa_context* context, const Info* info, int eol, void* target);
    // The same for the server's defaults, which come as one answer.
    template <typename Target>
    static void receivedServer(pa_context* context, const pa_server_info* info, void* target);
    // A re-read object replaces its old self in the mirror.
    template <typename Value>
    void keep(std::map<std::uint32_t, Value> PulseServerState::*objects, std::uint32_t index, Value value);
    void keepDefaults(std::string sink, std::string source);
    void answerEnded() {}
    // Under the control loop lock, off its thread: reads everything again.
    bool refreshLocked();
    // Off the loop threads: reads the server's defaults into the mirror.
    AudioStatus askDefaults();
    // Rebuilds the mirror from the server state and notifies the differences.
    void republish();
    void notify(const std::vector<std::pair<AudioObjectId, AudioPropertyAddress>>& changes);
    void follow();

    // Writes.
    AudioStatus setDefault(bool input, AudioObjectId device);
    // Under the control loop lock: sets the default sink or source by name
    // and waits (a while) until the server has applied it: ok once it
    // accepted, unanswered when it did not answer in time, unspecified when
    // it refused.
    AudioStatus setDefaultLocked(bool input, const std::string& name);
    std::optional<std::string> ensureLocked();
    // Puts the UID on the keeper streams, where the program's other copies
    // read it; later keepers carry it from the start.
    AudioStatus publishOriginalInput(const std::string& uid);
    static void onKeeperState(pa_stream* stream, void* self);
    static void updateKeeper(pa_stream* stream, const std::string& uid);
    void startKeepersLocked();
    void stopKeepersLocked();
    bool onLoopThread() const;
    // Under the mirror mutex: the procedure `id` if it runs on `device`.
    std::shared_ptr<Proc> procLocked(AudioObjectId device, AudioIOProcId id) const;
    // Ends the procedure's streams; `forget` also destroys it.
    AudioStatus stopProc(AudioObjectId device, AudioIOProcId id, bool forget);
    // A device's side on the server: the default device's when `uid` is
    // empty; nullopt when there is no such device or side.
    std::optional<PulseSide> sideFor(const std::string& uid, bool input) const;
    std::string defaultUID(bool input) const;

    Options options_;
    const std::int32_t pid_;
    std::string server_;

    PulseLoop control_;
    std::shared_ptr<PulseStreamHost> host_;
    PulseLoop& streams_;
    pa_context* context_ = nullptr;        // control loop
    pa_context* streamContext_ = nullptr;  // stream loop
    std::vector<pa_stream*> keepers_;      // stream loop
    std::string originalInput_;            // stream loop

    mutable std::mutex mirrorMutex_;
    PulseServerState state_;
    MirrorExtras extras_;
    MirrorIds ids_;
    Mirror mirror_;
    bool connected_ = false;
    bool everConnected_ = false;
    std::string error_;
    int errorCode_ = 0;
    std::map<AudioIOProcId, std::shared_ptr<Proc>> procs_;
    AudioIOProcId nextProc_ = 1;

    std::set<AudioObjectId> gone_;
    std::atomic<bool> live_{false};
    std::atomic<bool> defaultsHeld_{false};
    bool announced_ = false;
    // Since the first connection that the server took and did not answer.
    std::optional<std::chrono::steady_clock::time_point> silentSince_;
    // The question in flight while connected, under the control loop lock.
    pa_operation* probe_ = nullptr;
    std::chrono::steady_clock::time_point probeSentAt_;
    bool stallTold_ = false;
    std::shared_ptr<ListenerTable> listeners_;

    // The worker reconnects and re-ensures, off every loop thread.
    std::mutex workerMutex_;
    std::condition_variable workerWake_;
    bool workerEnding_ = false;
    bool lostPending_ = false;
    std::optional<std::chrono::steady_clock::time_point> retryAt_;
    std::chrono::steady_clock::time_point probeAt_;
    std::thread worker_;
    // Last, so it ends first: jobs still queued run while everything else
    // exists.
    PulseNotifier notifier_;
};

}  // namespace parlaro::sys
