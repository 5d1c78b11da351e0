#include "model/ModelDependencies.h"

#include "audio/AudioDevices.h"
#include "audio/CallAudioCapture.h"
#include "audio/DirectVoice.h"
#include "audio/DriverIOWatch.h"
#include "audio/IncomingListener.h"
#include "audio/OwnSpeechRecorder.h"
#include "audio/Speaker.h"
#include "model/VirtualMicInstallerFailure.h"
#include "platform/AudioSystem.h"
#include "platform/PlatformCapabilities.h"
#include "runtime/Background.h"
#include "runtime/Error.h"
#include "speech/Localization.h"
#include "speech/RecognitionSessionFactory.h"
#include "speech/TranslationServiceFactory.h"

#include <algorithm>

namespace parlaro {

namespace {

constexpr float speechRate = 0.46f;

bool lists(const std::vector<AudioObjectId>& devices, AudioObjectId device)
{
    return std::find(devices.begin(), devices.end(), device) != devices.end();
}

// A device is open elsewhere when another program's client uses it, or when
// the clients cannot be read; asked of the model's own detector.
AppModel::DeviceRates deviceRates(std::shared_ptr<ReaderDetecting> detector)
{
    AppModel::DeviceRates rates;
    rates.nominal = [](AudioObjectId device) { return AudioDevices::nominalSampleRate(device); };
    rates.available = [](AudioObjectId device) { return AudioDevices::nominalSampleRates(device); };
    rates.set = [](AudioObjectId device, double rate) { return AudioDevices::setNominalSampleRate(device, rate); };
    rates.openElsewhere = [detector](AudioObjectId device) {
        const auto clients = detector->clients();
        if (!clients)
            return true;
        const std::int32_t self = audioSystem().currentProcessID();
        return std::any_of(clients->begin(), clients->end(), [&](const AudioClient& client) {
            return client.pid != self && client.isForeign()
                && (lists(client.inputDevices, device) || lists(client.outputDevices, device));
        });
    };
    rates.watch = [](AudioObjectId device, std::function<void()> onChange) -> std::shared_ptr<void> {
        return AudioDevices::RateWatch::make(device, [onChange](std::span<const AudioPropertyAddress>) { onChange(); });
    };
    return rates;
}

// Loading blocks until the server answers, so it runs in the background.
rt::Async<void> ensureInBackground(std::function<std::optional<std::string>()> ensure)
{
    if (!ensure)
        throw VirtualMicInstallerFailure::failed({});
    const std::optional<std::string> failure = co_await rt::runInBackground(std::move(ensure));
    if (failure)
        throw VirtualMicInstallerFailure::failed(*failure);
}

}  // namespace

EngineSingletons processWideEngineParts()
{
    return {EchoGuard::shared(), DeviceReaderDetector::shared().shared_from_this(),
            TranslationHost::shared().shared_from_this()};
}

EngineSingletons freshEngineParts()
{
    return {std::make_shared<EchoGuard>(std::make_shared<FarEndActivity>()), DeviceReaderDetector::make(),
            TranslationHost::make()};
}

std::shared_ptr<SystemAudioRoute> makeSystemAudioRoute(SettingsStore& defaults)
{
    return std::make_shared<SystemAudioRoute>(
        defaults, [] { return AudioDevices::allDevices(); },
        [](bool input) { return AudioDevices::askedDefaultDeviceID(input); },
        [](AudioObjectId device, bool input) { AudioDevices::setDefaultDevice(device, input); },
        SystemAudioRoute::savedSnapshot(defaults));
}

AppModel::Dependencies defaultDependencies(SettingsStore& defaults, std::shared_ptr<SystemAudioRoute> systemRoute,
                                           const EngineSingletons& parts)
{
    AppModel::Dependencies d;
    d.defaults = &defaults;
    d.systemRoute = std::move(systemRoute);
    const std::shared_ptr<FarEndActivity> farEnd = parts.echoGuard->farEnd();

    // In the order the components depend on the audio system being set up.
    d.meters = std::make_shared<AudioMeters>();
    auto speaker = std::make_shared<Speaker>(farEnd);
    speaker->setRate(speechRate);
    d.speaker = speaker;
    d.incoming = std::make_shared<IncomingListener>(std::make_shared<CallAudioCapture>(farEnd));
    d.directVoice = std::make_shared<DirectVoice>(DirectVoice::Steering::resample, false);
    d.callSpeaker = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
    d.probe = std::make_shared<VirtualMicProbe>();
    d.ownSpeechRecorder = std::make_shared<OwnSpeechRecorder>(parts.echoGuard);
    d.translator = makeTranslationService(PlatformCapabilities::current(), parts.translationHost);
    d.echoGuard = parts.echoGuard;
    d.languageServices = LanguageServices::live();
    d.voiceList = [](const CallLanguage& language) { return VoiceOption::voices(language); };
    d.makeRecognitionSession = [](const std::string& locale, SpeechEngine engine, RecognitionMode mode) {
        return makeRecognitionSession(locale, engine, mode);
    };

    d.listDevices = [] { return AudioDevices::allDevices(); };
    d.systemDefault = [](DeviceDirection direction) {
        return AudioDevices::defaultDeviceID(direction == DeviceDirection::input);
    };
    watchCallsThrough(d, parts.readerDetector);
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

    // Nothing on this system asks for microphone access or can preflight the
    // capture permission.
    d.microphoneAuthorized = [] { return true; };
    d.microphonePermission = []() -> rt::Async<bool> { co_return true; };

    d.driverVersionCheck = []() -> std::optional<std::string> {
        const std::optional<AudioObjectId> device = AudioDevices::deviceID(virtualMicUID);
        if (!device)
            return std::nullopt;
        return AudioDevices::stringProperty(*device, AudioSelectors::driverVersion);
    };
    useMachineServices(d, parts.processActivity, parts.wakeObserver);
    usePlaceholderInstaller(d);
    return d;
}

void watchCallsThrough(AppModel::Dependencies& d, std::shared_ptr<DeviceReaderDetector> detector)
{
    d.callRouteInspector = [detector](std::optional<AudioObjectId> device) {
        const auto clients = detector->clients();
        if (!clients)
            return CallMicrophoneRoute::unknown;
        return otherInputClients(*clients, device, audioSystem().currentProcessID());
    };
    d.callObserver = [detector](std::function<void()> onChange) { detector->start(std::move(onChange)); };
    d.driverObserver = [detector](AudioObjectId device, std::function<void()> onChange) -> AppModel::WatchObject {
        // The kept client list predates the change the driver reports.
        return DriverIOWatch::make(device, [detector, onChange = std::move(onChange)] {
            detector->clearSnapshot();
            onChange();
        });
    };
    d.speakerPlayback = [detector](std::optional<AudioObjectId> device) {
        if (!device)
            return false;
        const auto clients = detector->clients();
        if (!clients)
            return false;
        return !outputClients(*clients, *device, {audioSystem().currentProcessID()}).empty();
    };
    d.deviceRates = deviceRates(detector);
}

void useMachineServices(AppModel::Dependencies& d, std::shared_ptr<ProcessActivity> activity,
                        std::shared_ptr<WakeObserver> wake)
{
    d.beginActivity = [activity](const std::string& reason) -> AppModel::ActivityToken {
        if (!activity)
            return nullptr;
        return std::make_shared<ProcessActivity::Token>(activity->begin(reason));
    };
    d.endActivity = [](const AppModel::ActivityToken& token) {
        if (token)
            std::static_pointer_cast<ProcessActivity::Token>(token)->end();
    };
    d.observeDidWake = [wake](std::function<void()> onWake) {
        return wake ? wake->subscribe(std::move(onWake)) : rt::Subscription();
    };
}

void usePlaceholderInstaller(AppModel::Dependencies& d)
{
    d.driverUpdateCheck = [] { return false; };
    d.deviceSetupStep = [](const std::string&) { return std::string(); };
    d.ensureVirtualDevices = [](std::string) -> rt::Async<void> {
        throw VirtualMicInstallerFailure::failed(localized("无法安装虚拟音频设备"));
        co_return;
    };
    d.virtualDeviceSource = std::nullopt;
    d.bundledDriverVersion = [] { return std::optional<std::string>(); };
}

void useVirtualDeviceSetup(AppModel::Dependencies& d, VirtualDeviceSetup setup)
{
    auto ensure = std::move(setup.ensure);
    d.ensureVirtualDevices = [ensure](std::string) { return ensureInBackground(ensure); };
    d.deviceSetupStep = [](const std::string& source) { return source; };
    d.driverUpdateCheck = setup.needsUpdate ? std::move(setup.needsUpdate) : [] { return false; };
    d.virtualDeviceSource = std::move(setup.source);
    d.bundledDriverVersion = [version = std::move(setup.version)] { return version; };
}

}  // namespace parlaro
