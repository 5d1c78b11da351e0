#include "model/AppModel.h"

#include "runtime/UuidSource.h"

#include "model/StoredLanguages.h"
#include "platform/AudioProperty.h"
#include "runtime/Error.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <algorithm>
#include <stdexcept>

namespace parlaro {

namespace {

void require(bool present, const char* what)
{
    if (!present)
        throw std::invalid_argument(std::string("AppModel needs ") + what);
}

// The negation of a stored Boolean "translateWhileHolding", else on.
bool initialMonitorInHeadphones(const SettingsStore& defaults)
{
    const std::optional<bool> stored = defaults.get<bool>("translateWhileHolding");
    return stored ? !*stored : true;
}

}  // namespace

std::shared_ptr<AppModel> AppModel::make(Dependencies dependencies)
{
    require(dependencies.defaults != nullptr, "settings");
    require(dependencies.meters && dependencies.speaker && dependencies.incoming && dependencies.directVoice
                && dependencies.callSpeaker && dependencies.probe && dependencies.ownSpeechRecorder
                && dependencies.translator && dependencies.echoGuard,
            "every engine component");
    require(dependencies.listDevices && dependencies.systemDefault && dependencies.voiceList
                && dependencies.makeRecognitionSession && dependencies.makeDeviceWatcher
                && dependencies.makeServiceWatcher,
            "the device, voice, session and watcher closures");
    require(dependencies.microphoneAuthorized && dependencies.microphonePermission, "the microphone permission");
    require(dependencies.beginActivity && dependencies.endActivity && dependencies.observeDidWake,
            "the process activity and wake seams");
    require(dependencies.driverUpdateCheck && dependencies.driverVersionCheck && dependencies.ensureVirtualDevices
                && dependencies.deviceSetupStep,
            "the driver installer");
    require(dependencies.languageServices.engine && dependencies.languageServices.speechInstalled
                && dependencies.languageServices.translationStatus && dependencies.languageServices.downloadSpeech,
            "the language services");

    auto model = std::make_shared<AppModel>(Passkey{}, std::move(dependencies));
    model->voiceChoices.set(model->loadVoiceChoices());
    model->targetVoices.set(model->voiceList(model->theirLanguage.get()));
    model->targetVoicesLanguage = model->theirLanguage.get().id;
    return model;
}

AppModel::AppModel(Passkey, Dependencies dependencies)
    : AppModel(dependencies, storedLanguagePair(*dependencies.defaults))
{
}

AppModel::AppModel(Dependencies& d, LanguagePair languages)
    : myLanguage(std::move(languages.first), changes()), theirLanguage(std::move(languages.second), changes()),
      monitorInHeadphones(initialMonitorInHeadphones(*d.defaults), changes()),
      translateWhileHolding(d.defaults->get<bool>("translateWhileHolding").value_or(false), changes()),
      listeningStatus(localized("准备自动收听…"), changes()), micAuthorized(d.microphoneAuthorized(), changes()),
      systemMicEnabled(d.defaults->get<bool>("systemMicEnabled").value_or(true), changes()),
      capturePermission(std::move(d.capturePermission)), callDetector(std::move(d.callDetector)),
      callRouteInspector(std::move(d.callRouteInspector)), callObserver(std::move(d.callObserver)),
      driverObserver(std::move(d.driverObserver)), systemRoute(std::move(d.systemRoute)),
      virtualDeviceSource(std::move(d.virtualDeviceSource), changes()),
      driverUpdateCheck(std::move(d.driverUpdateCheck)), driverDetectTimeout(d.driverDetectTimeout),
      driverVersionCheck(std::move(d.driverVersionCheck)), deviceSetupStep(std::move(d.deviceSetupStep)),
      bundledDriverVersion(std::move(d.bundledDriverVersion)), meters(std::move(d.meters)),
      callSpeaker(std::move(d.callSpeaker)), speakerPlayback(std::move(d.speakerPlayback)),
      deviceRates(std::move(d.deviceRates)), defaults(*d.defaults),
      writer(*d.defaults, [this](std::string message) { errorMessage.set(std::move(message)); }),
      directVoice(std::move(d.directVoice)), probe(std::move(d.probe)), listDevices(std::move(d.listDevices)),
      systemDefault(std::move(d.systemDefault)), microphoneAuthorized(std::move(d.microphoneAuthorized)),
      microphonePermission(std::move(d.microphonePermission)), voiceList(std::move(d.voiceList)),
      languageServices(std::move(d.languageServices)), ensureVirtualDevices(std::move(d.ensureVirtualDevices)),
      recognitionTimeout(d.recognitionTimeout), ownSpeechRecorder(std::move(d.ownSpeechRecorder)),
      outgoingTranslator(std::move(d.outgoingTranslator)), incoming(std::move(d.incoming)),
      speaker(std::move(d.speaker)), translator(std::move(d.translator)), echoGuard(std::move(d.echoGuard)),
      makeRecognitionSession(std::move(d.makeRecognitionSession)), beginActivity(std::move(d.beginActivity)),
      endActivity(std::move(d.endActivity)), observeDidWake(std::move(d.observeDidWake)),
      makeDeviceWatcher(std::move(d.makeDeviceWatcher)), makeServiceWatcher(std::move(d.makeServiceWatcher)),
      makeServerWatcher(std::move(d.makeServerWatcher)), audioServerRunning(std::move(d.audioServerRunning))
{
    // The latest action's line stays in the language it was written in; once
    // the user picks another, the footer's standing line, composed afresh,
    // takes its place rather than a sentence in the language they left.
    interfaceLanguageWatch = InterfaceLanguage::Revision::shared().value.subscribe([this] { status.set(""); });
}

rt::Uuid AppModel::newIdentifier()
{
    return rt::newUuid();
}

// Setters of the reacting fields.

void AppModel::setEntries(std::vector<ConversationEntry> value)
{
    std::vector<ConversationEntry> old = entries.get();
    entries.store(std::move(value));
    filing->transcriptDidChange(old);
}

void AppModel::setTranslateWhileHolding(bool value)
{
    const bool old = translateWhileHolding.get();
    translateWhileHolding.store(value);
    translateWhileHoldingDidChange(old);
}

void AppModel::setFreeListening(bool value)
{
    if (freeListening.store(value))
        updateMeters();
}

void AppModel::setMetersVisible(bool value)
{
    if (metersVisible.store(value))
        updateMeters();
}

void AppModel::setSelectedInputID(std::optional<AudioObjectId> value)
{
    selectedInputID.store(value);
    if (!value) {
        selectedMicUID.set(std::nullopt);
        return;
    }
    const auto& inputs = inputDevices.get();
    const auto found =
        std::find_if(inputs.begin(), inputs.end(), [&](const AudioDevice& device) { return device.id == *value; });
    // An id that is not listed (yet) keeps the remembered microphone.
    if (found != inputs.end())
        selectedMicUID.set(found->uid);
}

void AppModel::setSelectedMonitorOutputID(std::optional<AudioObjectId> value)
{
    if (!selectedMonitorOutputID.store(value))
        return;
    routeCallSpeaker();
    // The echo path the gate learned belonged to the old headphones.
    echoGuard->reset();
}

// Derived values.

bool AppModel::isOwnDevice(const AudioDevice& device)
{
    return device.uid == virtualMicUID || device.uid == injectionUID;
}

bool AppModel::isPhysicalDevice(const AudioDevice& device)
{
    return !isOwnDevice(device) && device.transportType != AudioTransports::virtualDevice;
}

std::optional<AudioDevice> AppModel::virtualMicDevice() const
{
    if (const auto& known = virtualInputDevice.get())
        return known;
    for (const AudioDevice& device : outputDevices.get()) {
        if (device.uid == virtualMicUID && device.inputChannels > 0)
            return device;
    }
    return std::nullopt;
}

std::optional<AudioDevice> AppModel::virtualOutputDevice() const
{
    for (const AudioDevice& device : outputDevices.get()) {
        if (device.uid == virtualMicUID && device.outputChannels > 0)
            return device;
    }
    return std::nullopt;
}

bool AppModel::virtualMicStatus() const
{
    if (!virtualMicDevice())
        return false;
    const auto& outputs = outputDevices.get();
    return std::any_of(outputs.begin(), outputs.end(),
                       [](const AudioDevice& device) { return device.uid == injectionUID; });
}

bool AppModel::canStartSpeaking() const
{
    return !isSpeaking.get() && !isTranslatingDraft.get() && !hold->isStartingRecording.get() && !isRecording.get()
        && !isHearTesting.get();
}

bool AppModel::isMicBusy() const
{
    return hold->isStartingRecording.get() || isRecording.get() || isHearTesting.get();
}

bool AppModel::isIdle() const
{
    return !isHearTesting.get() && !isSpeaking.get() && !isRecording.get() && !isHoldingToTalk.get()
        && !hold->isStartingRecording.get() && !isTranslatingDraft.get();
}

bool AppModel::isShowingSheet() const
{
    return showInstallSheet.get() || showMicCheck.get() || showWizard.get();
}

bool AppModel::speechReady() const
{
    // A side this computer cannot recognize has no model to wait for; the
    // hold control and the listening notice say what it cannot do. A pair
    // with neither side recognized stays unready: nothing can be heard.
    if (!myEngine.get() && !theirEngine.get())
        return false;
    return (mySpeechReady.get() || !myEngine.get()) && (theirSpeechReady.get() || !theirEngine.get());
}

bool AppModel::speechModelMissing() const
{
    return (myEngine.get() && !mySpeechReady.get()) || (theirEngine.get() && !theirSpeechReady.get());
}

// Settings.

bool AppModel::writeSetting(std::string_view key, DefaultsValue value)
{
    return writer.set(key, std::move(value));
}

bool AppModel::removeSetting(std::string_view key)
{
    return writer.remove(key);
}

SettingsWriter& AppModel::settingsWriter()
{
    return writer;
}

}  // namespace parlaro
