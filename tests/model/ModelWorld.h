#pragma once

#include "ModelFakes.h"

#include "audio/DeviceReaderDetector.h"
#include "audio/EchoGuard.h"
#include "audio/IncomingListener.h"
#include "audio/SystemAudioRoute.h"
#include "model/AppModel.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/FakeRecognitionSession.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::test {

// A model in a simulated world: the manual runtime, the sim platform and
// audio system, fakes of the engine components the model holds, and real
// meters, echo gate and system route over the sim. Tests shape the world and
// the Dependencies, then make the model.
class ModelWorld {
public:
    ModelWorld();
    ~ModelWorld();

    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    std::shared_ptr<DeviceReaderDetector> detector = DeviceReaderDetector::make();

    EventLog log = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<FakeSpeaker> speaker = std::make_shared<FakeSpeaker>(log);
    std::shared_ptr<FakeIncoming> incoming = std::make_shared<FakeIncoming>(log);
    // The real far-end listener over a fake capture, for models made with
    // realListener set.
    std::shared_ptr<FakeCapture> capture = std::make_shared<FakeCapture>(log);
    std::shared_ptr<IncomingListener> listener = std::make_shared<IncomingListener>(capture);
    bool realListener = false;
    std::shared_ptr<FakeRoute> directVoice = std::make_shared<FakeRoute>(log, "directVoice");
    std::shared_ptr<FakeRoute> callSpeaker = std::make_shared<FakeRoute>(log, "callSpeaker");
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>(log);
    std::shared_ptr<FakeTranslator> translator = std::make_shared<FakeTranslator>(log);
    std::shared_ptr<EchoGuard> echoGuard = std::make_shared<EchoGuard>(std::make_shared<FarEndActivity>());
    std::shared_ptr<AudioMeters> meters = std::make_shared<AudioMeters>();

    // The voices each call language offers, by language id.
    std::map<std::string, std::vector<VoiceOption>> voices;
    // Reasons of the process activities begun, and how many have ended.
    std::vector<std::string> activities;
    int activitiesEnded = 0;
    // The recognition sessions the model made, with what it asked for.
    struct MadeSession {
        std::string locale;
        SpeechEngine engine;
        RecognitionMode mode;
        std::shared_ptr<FakeRecognitionSession> session;
    };
    std::vector<MadeSession> sessions;
    // Shapes each session as it is made (to fail or hold its start).
    std::function<void(FakeRecognitionSession&)> shapeSession;
    // What the model asked to hear about the machine waking.
    std::vector<std::function<void()>> wakeHandlers;
    bool microphoneAuthorized = true;
    // What the capture preflight answers; none: no preflight on this system.
    std::optional<AudioCapturePermission::Status> captureStatus;

    // Call detection, the far end's playback and the device rates as the
    // program has them, over the sim's processes and devices; off, the model
    // watches no calls.
    bool watchCalls = false;

    // The components and closures over this world; the system route is made
    // now, with the record the settings hold.
    AppModel::Dependencies dependencies();
    std::shared_ptr<AppModel> make();
    std::shared_ptr<AppModel> make(const std::function<void(AppModel::Dependencies&)>& adjust);
    // The route of the last model made.
    std::shared_ptr<SystemAudioRoute> route;

    // Devices. Each returns the record the model will list.
    AudioDevice addMicrophone(AudioObjectId id, const std::string& uid, const std::string& name);
    AudioDevice addOutput(AudioObjectId id, const std::string& uid, const std::string& name);
    // The two devices of the virtual driver: the virtual microphone and the
    // injection device.
    // With `ioNotices` the microphone's driver reports I/O starts and stops.
    void addVirtualDriver(AudioObjectId micID = 50, AudioObjectId injectionID = 51, bool ioNotices = true);
    // The calling application: a process that may read the virtual
    // microphone and play into the virtual device (id 50).
    static constexpr AudioObjectId callerProcess = 900;
    void addCaller(bool reading, bool playing = false);
    void setCallerReading(bool reading);
    void setCallerPlaying(bool playing);
    // The driver reports that I/O on the virtual microphone started or stopped.
    void notifyDriverIO(AudioObjectId micID = 50);
    void setDefaultInput(AudioObjectId id) { audio.setDefaultDevice(true, id); }

    // Spawns the call and runs until nothing is left to do.
    void run(std::function<rt::Async<void>()> call);
    std::vector<std::string> takeLog();
};

}  // namespace parlaro::test
