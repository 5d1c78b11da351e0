#include "ModelWorld.h"

#include "audio/AudioDevices.h"
#include "model/ModelDependencies.h"
#include "support/TestSupport.h"

#include <utility>

namespace parlaro::test {

namespace {

LanguageServices everythingReady()
{
    LanguageServices services;
    services.engine = [](CallLanguage) -> rt::Async<std::optional<SpeechEngine>> { co_return SpeechEngine::speech; };
    services.speechInstalled = [](CallLanguage, SpeechEngine) -> rt::Async<bool> { co_return true; };
    services.translationStatus = [](std::string, std::string) -> rt::Async<TranslationStatus> {
        co_return TranslationStatus::installed;
    };
    services.downloadSpeech = [](CallLanguage, SpeechEngine, std::vector<std::string>,
                                 LanguageServices::Progress) -> rt::Async<void> { co_return; };
    return services;
}

}  // namespace

ModelWorld::ModelWorld() = default;

ModelWorld::~ModelWorld()
{
    // Tasks the model left waiting die with the runtime, before the fakes.
    runtime.executor().shutdown();
}

AppModel::Dependencies ModelWorld::dependencies()
{
    route = std::make_shared<SystemAudioRoute>(
        platform.defaults, [] { return AudioDevices::allDevices(); },
        [](bool input) { return AudioDevices::defaultDeviceID(input); },
        [log = log](AudioObjectId device, bool input) {
            log->push_back(std::string("route default ") + (input ? "input " : "output ") + std::to_string(device));
            AudioDevices::setDefaultDevice(device, input);
        },
        SystemAudioRoute::savedSnapshot(platform.defaults));

    AppModel::Dependencies d;
    d.defaults = &platform.defaults;
    d.systemRoute = route;
    d.meters = meters;
    d.speaker = speaker;
    d.incoming = realListener ? std::shared_ptr<IncomingListening>(listener) : incoming;
    d.directVoice = directVoice;
    d.callSpeaker = callSpeaker;
    d.probe = probe;
    d.ownSpeechRecorder = recorder;
    d.translator = translator;
    d.echoGuard = echoGuard;
    d.languageServices = everythingReady();
    d.voiceList = [this](const CallLanguage& language) {
        auto found = voices.find(language.id);
        return found == voices.end() ? std::vector<VoiceOption>{} : found->second;
    };
    d.makeRecognitionSession = [this](const std::string& locale, SpeechEngine engine, RecognitionMode mode) {
        auto session = std::make_shared<FakeRecognitionSession>();
        if (shapeSession)
            shapeSession(*session);
        sessions.push_back({locale, engine, mode, session});
        return std::shared_ptr<RecognitionSession>(session);
    };
    d.listDevices = [] { return AudioDevices::allDevices(); };
    d.systemDefault = [](DeviceDirection direction) {
        return AudioDevices::defaultDeviceID(direction == DeviceDirection::input);
    };
    d.makeDeviceWatcher = [](AudioDeviceWatcher::List list, AudioDeviceWatcher::OnChange onChange) {
        return AudioDeviceWatcher::make(std::move(list), std::move(onChange));
    };
    d.makeServiceWatcher = [](std::function<void()> onRestart) {
        return AudioServiceRestartWatcher::make([onRestart](std::span<const AudioPropertyAddress>) { onRestart(); });
    };
    d.makeServerWatcher = [](AudioServerWatcher::OnChange onChange) {
        return AudioServerWatcher::make(std::move(onChange));
    };
    d.audioServerRunning = [] { return AudioServerWatcher::serverRunning(); };
    d.microphoneAuthorized = [this] { return microphoneAuthorized; };
    d.microphonePermission = [this]() -> rt::Async<bool> { co_return microphoneAuthorized; };
    d.capturePermission = [this] { return captureStatus; };
    d.beginActivity = [this](const std::string& reason) {
        activities.push_back(reason);
        return AppModel::ActivityToken(std::make_shared<int>(0));
    };
    d.endActivity = [this](const AppModel::ActivityToken&) { ++activitiesEnded; };
    d.observeDidWake = [this](std::function<void()> onWake) {
        wakeHandlers.push_back(std::move(onWake));
        return rt::Subscription();
    };
    d.driverUpdateCheck = [] { return false; };
    d.driverVersionCheck = []() -> std::optional<std::string> { return std::nullopt; };
    d.ensureVirtualDevices = [log = log](std::string command) -> rt::Async<void> {
        log->push_back("admin " + command);
        co_return;
    };
    d.deviceSetupStep = [](const std::string& source) { return "install " + source; };
    if (watchCalls)
        watchCallsThrough(d, detector);
    return d;
}

std::shared_ptr<AppModel> ModelWorld::make()
{
    return AppModel::make(dependencies());
}

std::shared_ptr<AppModel> ModelWorld::make(const std::function<void(AppModel::Dependencies&)>& adjust)
{
    AppModel::Dependencies d = dependencies();
    adjust(d);
    return AppModel::make(std::move(d));
}

AudioDevice ModelWorld::addMicrophone(AudioObjectId id, const std::string& uid, const std::string& name)
{
    audio.addDevice({.id = id, .uid = uid, .name = name, .inputBuffers = {1}});
    return {.id = id, .name = name, .uid = uid, .inputChannels = 1};
}

AudioDevice ModelWorld::addOutput(AudioObjectId id, const std::string& uid, const std::string& name)
{
    audio.addDevice({.id = id, .uid = uid, .name = name, .outputBuffers = {2}});
    return {.id = id, .name = name, .uid = uid, .outputChannels = 2};
}

void ModelWorld::addVirtualDriver(AudioObjectId micID, AudioObjectId injectionID, bool ioNotices)
{
    sim::SimDevice mic{.id = micID,
                       .uid = virtualMicUID,
                       .name = "wenmora",
                       .inputBuffers = {2},
                       .outputBuffers = {2},
                       .transportType = "virt"_fcc};
    if (ioNotices)
        mic.custom["dcio"_fcc] = std::uint32_t{0};
    audio.addDevice(mic);
    audio.addDevice({.id = injectionID,
                     .uid = injectionUID,
                     .name = "wenmora injection",
                     .inputBuffers = {2},
                     .outputBuffers = {2},
                     .transportType = "virt"_fcc});
}

void ModelWorld::addCaller(bool reading, bool playing)
{
    audio.addProcess({.id = callerProcess,
                      .pid = 5150,
                      .bundleID = "com.example.caller",
                      .runningInput = reading,
                      .runningOutput = playing,
                      .inputDevices = {50},
                      .outputDevices = {50}});
}

void ModelWorld::setCallerReading(bool reading)
{
    audio.store(callerProcess, {"piri"_fcc}, std::uint32_t{reading});
}

void ModelWorld::setCallerPlaying(bool playing)
{
    audio.store(callerProcess, {"piro"_fcc}, std::uint32_t{playing});
}

void ModelWorld::notifyDriverIO(AudioObjectId micID)
{
    audio.notify(micID, {"dcio"_fcc});
}

void ModelWorld::run(std::function<rt::Async<void>()> call)
{
    runTask(runtime, [call = std::move(call)]() -> rt::Async<void> { co_await call(); }).result();
}

std::vector<std::string> ModelWorld::takeLog()
{
    return std::exchange(*log, {});
}

}  // namespace parlaro::test
