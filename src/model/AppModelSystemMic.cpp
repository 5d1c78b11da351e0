// Making the virtual microphone the system default input while the
// application runs, and putting the user's microphone back.

#include "model/AppModel.h"
#include "model/SettingsWriter.h"

#include "model/ModelTask.h"
#include "runtime/Error.h"
#include "runtime/Sleep.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro {

void AppModel::systemMicEnabledDidChange(bool value)
{
    systemMicEnabled.set(value);
    writeSetting("systemMicEnabled", value);
    if (value) {
        systemMicPending.set(true);
        // Each switch-on may show one new failure.
        systemMicFailureShown.set(false);
        applySystemMic();
    } else {
        systemMicPending.set(false);
        restoreSystemMic();
    }
}

void AppModel::applySystemMic()
{
    // A fresh list, so a takeover right after a device change sees the new ids.
    std::optional<AudioDevice> device;
    for (const AudioDevice& candidate : listDevices()) {
        if (candidate.uid == virtualMicUID && candidate.inputChannels > 0) {
            device = candidate;
            break;
        }
    }
    if (device) {
        // Back, or under a new id, after having been the default: take over again.
        if (systemMicChecked.get() && systemMicLastVirtual.get() != device->id && systemMicWasDefault.get())
            systemMicPending.set(true);
        systemMicWasDefault.set(systemDefault(DeviceDirection::input) == device->id);
        systemMicLastVirtual.set(device->id);
    } else {
        systemMicLastVirtual.set(std::nullopt);
    }
    systemMicChecked.set(true);

    if (isInstallingDriver.get() || !systemMicPending.get() || !systemRoute)
        return;
    if (!systemMicEnabled.get() || !sessionPrepared.get() || !device)
        return;
    try {
        if (!systemRoute->routeInput(*device, launchInputUID.get())) {
            // Accepted, not applied yet: the record is written, and the
            // watcher's next delivery finds the switch when it lands.
            if (!systemMicConfirmation || systemMicConfirmation.isFinished() || systemMicConfirmation.isCancelled())
                systemMicConfirmation =
                    spawnOnModel(weak_from_this(), [](AppModel& model) { return model.confirmSystemMic(); });
            return;
        }
        systemMicPending.set(false);
        systemMicWasDefault.set(true);
        systemMicConfirmation.cancel();
    } catch (...) {
        // Retried silently at every later check.
        if (!systemMicFailureShown.get()) {
            errorMessage.set(describeFailure(std::current_exception()));
            systemMicFailureShown.set(true);
        }
    }
}

rt::Async<void> AppModel::confirmSystemMic()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    // The server is asked again and again rather than waited on: some stop
    // announcing a new default, and the switch then lands unheard. One that
    // did not answer is asked only once more, at the end, as each ask may
    // hold the main thread until it gives up.
    const rt::Instant until = rt::clock().now() + systemMicSettleSeconds;
    bool answered = true;
    for (;;) {
        const double left = until - rt::clock().now();
        try {
            co_await rt::sleepFor(answered ? std::min(systemMicCheckSeconds, left) : left);
        } catch (...) {
            co_return;
        }
        if (weak.expired() || !systemMicPending.get() || !systemMicEnabled.get())
            co_return;
        const std::optional<bool> asked = virtualMicIsDefault();
        answered = asked.has_value();
        if (asked == true) {
            applySystemMic();
            if (!systemMicPending.get())
                co_return;
        }
        if (rt::clock().now() < until)
            continue;
        // Said only when the server, asked, names another default: one that
        // cannot be asked proves nothing, and the record covers the switch.
        if (asked == false && !systemMicFailureShown.get()) {
            errorMessage.set(SystemAudioRoute::unappliedSwitchText(true));
            systemMicFailureShown.set(true);
        }
        co_return;
    }
}

std::optional<bool> AppModel::virtualMicIsDefault() const
{
    for (const AudioDevice& device : listDevices())
        if (device.uid == virtualMicUID && device.inputChannels > 0)
            return systemRoute->isDefault(device.id, true);
    return std::nullopt;
}

void AppModel::recordLateTakeover()
{
    // A sound server may apply a switch after the check that followed it gave
    // up: the takeover was reported as failed and left no record, yet the
    // virtual microphone is the default input. Taken over now, it is
    // recorded, so the give-back that follows finds it.
    // The server itself is asked: some stop announcing a new default.
    if (!systemMicPending.get() || !systemRoute)
        return;
    if (virtualMicIsDefault() == true)
        applySystemMic();
}

std::optional<std::string> AppModel::reclaimStrandedSystemMic()
{
    // The virtual microphone left the default input with no record to give
    // it back by (a run ended before it could write one): given back once,
    // and said, so the user's own input is what this run records.
    if (!systemRoute)
        return std::nullopt;
    const std::optional<AudioDevice> reclaimed = systemRoute->reclaimStrandedInput();
    if (!reclaimed)
        return std::nullopt;
    errorMessage.set(localized("系统麦克风上次未能恢复，现已改回%@", reclaimed->name));
    return reclaimed->uid;
}

void AppModel::restoreSystemMic()
{
    if (!systemRoute)
        return;
    try {
        systemRoute->restoreSavedRoute();
    } catch (...) {
        errorMessage.set(
            bracketed(localized("系统麦克风未能恢复：%@", describeFailure(std::current_exception())), "VM-7"));
    }
}

bool AppModel::retryGivingBack()
{
    if (!givingBackUnfinished())
        return true;
    try {
        systemRoute->retryGiveBack();
    } catch (...) {
        // The record keeps what is left; a later try or the next start
        // gives it back.
    }
    return !givingBackUnfinished();
}

rt::Async<bool> AppModel::finishGivingBack(double seconds)
{
    const rt::Instant until = rt::clock().now() + seconds;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    for (;;) {
        if (!givingBackUnfinished())
            co_return true;
        if (rt::clock().now() + giveBackRetrySeconds > until)
            co_return false;
        try {
            co_await rt::sleepFor(giveBackRetrySeconds);
        } catch (...) {
            co_return false;
        }
        if (weak.expired())
            co_return false;
        if (retryGivingBack())
            co_return true;
    }
}

}  // namespace parlaro
