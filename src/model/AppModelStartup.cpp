// Start-up, the watchers, shutdown, the start-up sheets and the two hold
// preferences whose reactions live in the model.

#include "model/AppModel.h"

#include "model/ModelTask.h"
#include "runtime/Runtime.h"

#include <algorithm>

namespace parlaro {

rt::Async<void> AppModel::start()
{
    prepareSession();
    if (defaults.get<bool>("onboardingDone").value_or(false)) {
        // The sheet shows the installation first while both are raised.
        if (!virtualMicStatus())
            showInstallSheet.set(true);
        openMicCheck();
    } else {
        showWizard.set(true);
    }
    startWatching();
    co_await refreshAfterLaunch();
}

void AppModel::prepareSession()
{
    if (sessionPrepared.get())
        return;
    sessionPrepared.set(true);

    // Read before the restore, which forgets the record.
    std::optional<std::string> candidate;
    if (systemRoute && systemRoute->snapshot() && !systemRoute->snapshot()->oldInput.empty())
        candidate = systemRoute->snapshot()->oldInput;
    const bool recorded = systemRoute && systemRoute->snapshot();
    restoreSystemMic();
    if (std::optional<std::string> reclaimed = recorded ? std::nullopt : reclaimStrandedSystemMic())
        candidate = std::move(reclaimed);

    const std::vector<AudioDevice> devices = listDevices();
    if (const std::optional<AudioObjectId> current = systemDefault(DeviceDirection::input)) {
        const auto found = std::find_if(devices.begin(), devices.end(),
                                        [&](const AudioDevice& device) { return device.id == *current; });
        if (found == devices.end()) {
            // A speaker's monitor on a machine without a microphone: given
            // back at quit even when the takeover is recorded only late.
            if (std::string unlisted = SystemAudioRoute::unlistedInputUID(current); !unlisted.empty())
                candidate = std::move(unlisted);
        } else if (found->inputChannels >= 1 && isPhysicalDevice(*found)) {
            candidate = found->uid;
        }
    }
    launchInputUID.set(candidate);
    systemMicPending.set(true);
    refreshDevices();
}

void AppModel::startWatching()
{
    if (deviceWatcher)
        return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    deviceWatcher = makeDeviceWatcher(listDevices, [weak](std::vector<AudioDevice> devices, rt::Instant readAt) {
        if (auto self = weak.lock())
            self->refreshDevices(DeviceReading{std::move(devices), readAt});
    });
    if (deviceWatcher)
        deviceWatcher->start();
    serviceWatcher = makeServiceWatcher([weak] {
        if (auto self = weak.lock())
            self->recoverAudioDevices();
    });
    if (makeServerWatcher) {
        serverWatcher = makeServerWatcher([weak](bool running) {
            if (auto self = weak.lock())
                self->audioServerChanged(running);
        });
        if (serverWatcher)
            audioServerChanged(serverWatcher->running());
    }
    wakeObservation = observeDidWake([weak] {
        rt::postToMain([weak] {
            if (auto self = weak.lock())
                self->recoverAudioDevices();
        });
    });

    if (!callDetector && !callRouteInspector)
        return;
    if (callWatching.get())
        return;
    callWatching.set(true);
    if (callObserver) {
        callObserver([weak] {
            if (auto self = weak.lock())
                self->callStateChanged();
        });
    }
    watchDriverDevice();
    watchHeadphoneRate();
    spawnOnModel(weak_from_this(), [](AppModel& model) { return model.refreshCallState(); });
}

rt::Async<void> AppModel::refreshAfterLaunch()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    prepareSession();
    refreshDevices();
    checkDriverUpdate();
    if (!showWizard.get() && (!virtualMicStatus() || virtualMicNeedsUpdate.get()))
        showInstallSheet.set(true);
    // The main actor runs nothing else between a check and the next step, so
    // the model stays alive through that step's synchronous part; each step
    // guards its own later suspensions.
    co_await refreshCapturePermission();
    if (weak.expired())
        co_return;
    co_await refreshLanguageReadiness();
    if (weak.expired())
        co_return;
    refreshVoices();
    co_await listeningReadinessNotice();
    if (weak.expired())
        co_return;
    co_await refreshLanguageMenus();
}

void AppModel::shutdown()
{
    callPoll.cancel();
    callPoll = {};
    callRecheck.cancel();
    callRecheck = {};
    driverWatch.reset();
    headphoneRateWatch.reset();
    callSpeaker->stop();
    callSpeakerRoute.set(std::nullopt);
    cancelHold();
    speaker->stop();
    // Far-end results still on their way belong to the old session now.
    listeningSession.set(newIdentifier());
    incoming->capture()->stopAndWait();
    incoming->dropSession();
    isListening.set(false);
    stopForwarding();
    meters->stop();
    if (deviceWatcher)
        deviceWatcher->stop();
    deviceWatcher.reset();
    serviceWatcher.reset();
    serverWatcher.reset();
    serverRecovery.cancel();
    serverRecovery = {};
    serverSilence.cancel();
    serverSilence = {};
    systemMicConfirmation.cancel();
    recordLateTakeover();
    restoreSystemMic();
}

void AppModel::dismissSheets()
{
    showInstallSheet.set(false);
    showMicCheck.set(false);
    showWizard.set(false);
    errorMessage.set(std::nullopt);
    pendingLanguageChange.set(std::nullopt);
}

void AppModel::finishOnboarding()
{
    writeSetting("onboardingDone", true);
    showWizard.set(false);
}

void AppModel::translateWhileHoldingDidChange(bool oldValue)
{
    const bool value = translateWhileHolding.get();
    writeSetting("translateWhileHolding", value);
    if (value == oldValue)
        return;
    monitorInHeadphones.set(!value);
    if (!value && freeListening.get()) {
        setFreeListening(false);
        endHoldToTalk();
    }
}

void AppModel::freeListeningDidChange(bool requested)
{
    if (requested == freeListening.get())
        return;
    if (!requested) {
        setFreeListening(false);
        endHoldToTalk();
        return;
    }
    if (!translateWhileHolding.get() || !canStartSpeaking())
        return;
    beginHoldToTalk();
    setFreeListening(isHoldingToTalk.get());
}

}  // namespace parlaro
