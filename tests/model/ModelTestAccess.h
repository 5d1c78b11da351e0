#pragma once

#include "model/AppModel.h"
#include "model/ModelField.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro {

// Reaches into the model for a test that needs its private state (to put a
// state test::given cannot name, or to swap a platform closure on a live
// model), checks what the model keeps between turns (a pending task, a
// watch), or runs one step of an operation on its own. The state, types and
// steps no view uses are private to the model, so tests reach them here.
// Product code changes the model through its operations only.
struct ModelTestAccess {
    // The writer the model hands to its parts; test::given holds one.
    static FieldWriter writer() { return FieldWriter(); }

    // Types and timings the model keeps to itself.
    using DeviceReading = AppModel::DeviceReading;
    using LanguagePair = AppModel::LanguagePair;
    using PendingLanguageChange = AppModel::PendingLanguageChange;
    using SpeakerRoute = AppModel::SpeakerRoute;
    static constexpr double systemMicSettleSeconds = AppModel::systemMicSettleSeconds;
    static constexpr double systemMicCheckSeconds = AppModel::systemMicCheckSeconds;

    // The hold, read through its own face; its task and its wait for the release.
    static HoldToTalk& hold(AppModel& model) { return *model.hold; }
    static rt::TaskHandle<>& holdTask(HoldToTalk& hold) { return hold.task_; }
    static auto& holdRelease(HoldToTalk& hold) { return hold.release_; }

    // Task handles.
    static rt::TaskHandle<>& callPoll(AppModel& model) { return model.callPoll; }
    static rt::TaskHandle<>& callRecheck(AppModel& model) { return model.callRecheck; }

    // Watches and watchers.
    static AppModel::WatchObject& driverWatch(AppModel& model) { return model.driverWatch; }
    static AppModel::WatchObject& headphoneRateWatch(AppModel& model) { return model.headphoneRateWatch; }
    static auto& deviceWatcher(AppModel& model) { return model.deviceWatcher; }
    static auto& serviceWatcher(AppModel& model) { return model.serviceWatcher; }

    // Plain state.
    // The transcript as a caption or a playback would leave it, with its reaction.
    static void setEntries(AppModel& model, std::vector<ConversationEntry> value)
    {
        model.setEntries(std::move(value));
    }
    // The conversation's filing into sessions, read through its own face.
    static SessionFiling& filing(AppModel& model) { return *model.filing; }

    // Components, closures and limits as the model was given them.
    static const std::shared_ptr<SystemAudioRoute>& systemRoute(AppModel& model) { return model.systemRoute; }
    // The platform closures a test swaps on a live model.
    struct PlatformClosures {
        decltype(AppModel::capturePermission)& capturePermission;
        decltype(AppModel::driverUpdateCheck)& driverUpdateCheck;
        decltype(AppModel::ensureVirtualDevices)& ensureVirtualDevices;
        decltype(AppModel::microphoneAuthorized)& microphoneAuthorized;
        decltype(AppModel::listDevices)& listDevices;
        decltype(AppModel::voiceList)& voiceList;
    };
    static PlatformClosures platform(AppModel& model)
    {
        return {model.capturePermission,    model.driverUpdateCheck, model.ensureVirtualDevices,
                model.microphoneAuthorized, model.listDevices,       model.voiceList};
    }
    static LanguageServices& languageServices(AppModel& model) { return model.languageServices; }
    struct Limits {
        double driverDetectTimeout;
        double recognitionTimeout;
        double hearTestSeconds;
    };
    static Limits limits(const AppModel& model)
    {
        return {model.driverDetectTimeout, model.recognitionTimeout, model.hearTestSeconds};
    }

    // Observable state no view reads.
    // The takeover of the system's default input.
    struct SystemMic {
        decltype(AppModel::systemMicPending)& pending;
        decltype(AppModel::systemMicLastVirtual)& lastVirtual;
        decltype(AppModel::systemMicWasDefault)& wasDefault;
    };
    static SystemMic systemMic(AppModel& model)
    {
        return {model.systemMicPending, model.systemMicLastVirtual, model.systemMicWasDefault};
    }
    static auto& callEndedAt(AppModel& model) { return model.callEndedAt; }
    static auto& callSpeakerFailed(AppModel& model) { return model.callSpeakerFailed; }
    static auto& callWatching(AppModel& model) { return model.callWatching; }
    static auto& captureWasDenied(AppModel& model) { return model.captureWasDenied; }
    static auto& devicesReadAt(AppModel& model) { return model.devicesReadAt; }
    static auto& driverWatchDevice(AppModel& model) { return model.driverWatchDevice; }
    static auto& forwardingActive(AppModel& model) { return model.forwardingActive; }
    static auto& headphoneRateDevice(AppModel& model) { return model.headphoneRateDevice; }
    static auto& languagesBeforeChange(AppModel& model) { return model.languagesBeforeChange; }
    static auto& lastPlayedDraftTranslation(AppModel& model) { return model.lastPlayedDraftTranslation; }
    static auto& launchInputUID(AppModel& model) { return model.launchInputUID; }
    static auto& listeningError(AppModel& model) { return model.listeningError; }
    static auto& listeningLanguageID(AppModel& model) { return model.listeningLanguageID; }
    static auto& listeningSession(AppModel& model) { return model.listeningSession; }
    static auto& loadedDriverVersion(AppModel& model) { return model.loadedDriverVersion; }
    static auto& meterPreviewMicID(AppModel& model) { return model.meterPreviewMicID; }
    static auto& metersEnabled(AppModel& model) { return model.metersEnabled; }
    static auto& metersVisible(AppModel& model) { return model.metersVisible; }
    static auto& myMenu(AppModel& model) { return model.myMenu; }
    static auto& mySpeechReady(AppModel& model) { return model.mySpeechReady; }
    static auto& originalVoiceAutoStarted(AppModel& model) { return model.originalVoiceAutoStarted; }
    static auto& originalVoiceOnByDefault(AppModel& model) { return model.originalVoiceOnByDefault; }
    static auto& permissionWasMissing(AppModel& model) { return model.permissionWasMissing; }
    static auto& selectedMicUID(AppModel& model) { return model.selectedMicUID; }
    static auto& sessionPrepared(AppModel& model) { return model.sessionPrepared; }
    static auto& theirMenu(AppModel& model) { return model.theirMenu; }
    static auto& theirSpeechReady(AppModel& model) { return model.theirSpeechReady; }
    static auto& translatablePairs(AppModel& model) { return model.translatablePairs; }
    static auto& translationDownloadID(AppModel& model) { return model.translationDownloadID; }
    static auto& translationPair(AppModel& model) { return model.translationPair; }
    static auto& virtualInputDevice(AppModel& model) { return model.virtualInputDevice; }
    static auto& virtualTapDevice(AppModel& model) { return model.virtualTapDevice; }
    static auto& voiceChoices(AppModel& model) { return model.voiceChoices; }

    // Steps and callbacks of the operations, run on their own.
    static void applySystemMic(AppModel& model) { model.applySystemMic(); }
    static void callStateChanged(AppModel& model) { model.callStateChanged(); }
    static rt::Async<void> finishLanguageChange(AppModel& model) { return model.finishLanguageChange(); }
    static rt::Async<void> listeningReadinessNotice(AppModel& model) { return model.listeningReadinessNotice(); }
    static rt::Async<void> pauseListening(AppModel& model) { return model.pauseListening(); }
    static void prepareSession(AppModel& model) { model.prepareSession(); }
    static rt::Async<void> prepareTranslationPair(AppModel& model) { return model.prepareTranslationPair(); }
    static void recoverAudioDevices(AppModel& model) { model.recoverAudioDevices(); }
    static void refreshCallSpeakerRoute(AppModel& model) { model.refreshCallSpeakerRoute(); }
    static void refreshDevices(AppModel& model, std::optional<DeviceReading> reading = std::nullopt)
    {
        model.refreshDevices(std::move(reading));
    }
    static rt::Async<void> refreshCapturePermission(AppModel& model) { return model.refreshCapturePermission(); }
    static rt::Async<void> refreshLanguageMenus(AppModel& model) { return model.refreshLanguageMenus(); }
    static rt::Async<void> retryListening(AppModel& model) { return model.retryListening(); }
    static rt::Async<void> refreshLanguageReadiness(AppModel& model) { return model.refreshLanguageReadiness(); }
    static rt::Async<void> revertLanguageChange(AppModel& model, std::string reason)
    {
        return model.revertLanguageChange(std::move(reason));
    }
    static void routeCallSpeaker(AppModel& model) { model.routeCallSpeaker(); }
    static void setFreeListening(AppModel& model, bool value) { model.setFreeListening(value); }
    static void setSelectedInputID(AppModel& model, std::optional<AudioObjectId> value)
    {
        model.setSelectedInputID(value);
    }
    static rt::Async<bool> speakToPeer(AppModel& model, std::string text, HoldPlay play)
    {
        return model.speakToPeer(std::move(text), play);
    }
    static std::optional<std::string> speakingVoiceID(const AppModel& model) { return model.speakingVoiceID(); }
    static rt::Async<void> startListening(AppModel& model) { return model.startListening(); }
    static rt::Async<void> startOriginalVoice(AppModel& model) { return model.startOriginalVoice(); }
    static void startWatching(AppModel& model) { model.startWatching(); }
    static void updateMeters(AppModel& model) { model.updateMeters(); }
    static std::optional<AudioDevice> virtualMicDevice(const AppModel& model) { return model.virtualMicDevice(); }
    static void watchDriverDevice(AppModel& model) { model.watchDriverDevice(); }
    static void watchHeadphoneRate(AppModel& model) { model.watchHeadphoneRate(); }
};

}  // namespace parlaro
