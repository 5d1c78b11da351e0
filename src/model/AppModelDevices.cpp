// The model's view of the audio devices: the lists, the selections that
// follow them, and the two watches call watching keeps on them.

#include "model/AppModel.h"

#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro {

namespace {

std::optional<AudioDevice> firstWithUID(const std::vector<AudioDevice>& devices, const char* uid, bool input)
{
    for (const AudioDevice& device : devices) {
        if (device.uid == uid && (input ? device.inputChannels : device.outputChannels) > 0)
            return device;
    }
    return std::nullopt;
}

std::optional<AudioDevice> withUID(const std::vector<AudioDevice>& devices, const std::string& uid)
{
    const auto found =
        std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& device) { return device.uid == uid; });
    return found == devices.end() ? std::nullopt : std::optional(*found);
}

}  // namespace

std::optional<AudioDevice> AppModel::findDevice(const std::vector<AudioDevice>& devices,
                                                std::optional<AudioObjectId> id)
{
    if (!id)
        return std::nullopt;
    const auto found =
        std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& device) { return device.id == *id; });
    return found == devices.end() ? std::nullopt : std::optional(*found);
}

void AppModel::refreshDevices(std::optional<DeviceReading> reading)
{
    // Without a server every device is gone; the lists and selections wait
    // for the recovery rather than being lost.
    if (heldForAudioServer())
        return;
    // The watcher reads on its own queue, so an older list can arrive after
    // a newer one.
    if (reading && devicesReadAt.get() && reading->readAt < *devicesReadAt.get())
        return;
    devicesReadAt.set(reading ? reading->readAt : rt::clock().now());
    const std::vector<AudioDevice> devices = reading ? std::move(reading->devices) : listDevices();

    const std::optional<AudioDevice> previousInput = findDevice(inputDevices.get(), selectedInputID.get());
    const std::optional<AudioDevice> previousVirtual = virtualMicDevice();
    const std::optional<AudioObjectId> previousVirtualOutput = selectedVirtualOutputID.get();

    std::vector<AudioDevice> inputs;
    std::vector<AudioDevice> outputs;
    for (const AudioDevice& device : devices) {
        if (device.inputChannels > 0 && isPhysicalDevice(device))
            inputs.push_back(device);
        if (device.outputChannels > 0)
            outputs.push_back(device);
    }
    inputDevices.set(inputs);
    outputDevices.set(outputs);
    virtualInputDevice.set(firstWithUID(devices, virtualMicUID, true));
    virtualTapDevice.set(firstWithUID(devices, injectionUID, true));

    // The microphone is matched by UID first, so one plugged in again under a
    // new id stays chosen.
    const std::optional<std::string> micUID = selectedMicUID.get();
    if (const auto moved = micUID ? withUID(inputs, *micUID) : std::nullopt) {
        setSelectedInputID(moved->id);
    } else if (!micUID && findDevice(inputs, selectedInputID.get())) {
        // Chosen by id alone and still there.
    } else {
        const bool hadSelection = selectedInputID.get().has_value();
        selectedMicUID.set(std::nullopt);
        std::optional<AudioObjectId> fallback;
        if (const auto launch = launchInputUID.get() ? withUID(inputs, *launchInputUID.get()) : std::nullopt)
            fallback = launch->id;
        else if (!inputs.empty())
            fallback = inputs.front().id;
        setSelectedInputID(fallback);
        if (hadSelection && micConfirmed.get()) {
            micConfirmed.set(false);
            if (originalVoiceOn.get()) {
                stopForwarding();
                status.set(localized("麦克风已断开，原声转发已关闭"));
            }
            openMicCheck(localized("原来的麦克风已断开，请重新选择并确认。"));
        }
    }

    if (const auto injection = withUID(outputs, injectionUID)) {
        selectedVirtualOutputID.set(injection->id);
    } else {
        if (selectedVirtualOutputID.get() && originalVoiceOn.get()) {
            stopForwarding();
            errorMessage.set(localized("虚拟麦克风已断开，原声转发已关闭。"));
        }
        selectedVirtualOutputID.set(std::nullopt);
    }

    if (!findDevice(outputs, selectedMonitorOutputID.get())) {
        std::optional<AudioObjectId> monitor;
        if (const auto fallback = findDevice(outputs, systemDefault(DeviceDirection::output));
            fallback && isPhysicalDevice(*fallback))
            monitor = fallback->id;
        if (!monitor) {
            const auto physical = std::find_if(outputs.begin(), outputs.end(), isPhysicalDevice);
            if (physical != outputs.end())
                monitor = physical->id;
        }
        setSelectedMonitorOutputID(monitor);
    }

    // Forwarding restarts only when one of its devices really changed.
    const std::optional<AudioDevice> input = findDevice(inputs, selectedInputID.get());
    const std::optional<AudioDevice> virtualMic = virtualMicDevice();
    if (originalVoiceOn.get() && input && virtualMic
        && (!previousInput || *previousInput != *input || !previousVirtual || *previousVirtual != *virtualMic
            || !previousVirtualOutput || previousVirtualOutput != selectedVirtualOutputID.get()))
        reapplyOriginalVoice();

    updateMeters();
    applySystemMic();
    routeCallSpeaker();
    refreshCallSpeakerRoute();
    watchDriverDevice();
    watchHeadphoneRate();
}

void AppModel::recoverAudioDevices()
{
    // A server that said it went away is recovered once its devices are back.
    if (!deviceWatcher || awaitingAudioServer)
        return;
    // The listeners belonged to the service that went away.
    deviceWatcher->stop();
    deviceWatcher->start();
    if (systemMicWasDefault.get())
        systemMicPending.set(true);
    const std::weak_ptr<AppModel> weak = weak_from_this();
    if (callWatching.get()) {
        if (callObserver) {
            callObserver([weak] {
                if (auto self = weak.lock())
                    self->callStateChanged();
            });
        }
        driverWatch.reset();
        driverWatchDevice.set(std::nullopt);
        headphoneRateWatch.reset();
        headphoneRateDevice.set(std::nullopt);
    }
    refreshDevices();
    if (callWatching.get())
        callStateChanged();
}

void AppModel::watchDriverDevice()
{
    if (!callWatching.get())
        return;
    std::optional<AudioObjectId> target;
    if (const auto device = virtualMicDevice())
        target = device->id;
    if (target != driverWatchDevice.get()) {
        driverWatch.reset();
        driverWatchDevice.set(target);
        if (target && driverObserver) {
            driverWatch = driverObserver(*target, [weak = weak_from_this()] {
                if (auto self = weak.lock())
                    self->callStateChanged();
            });
        }
    }
    if (!driverWatch && !callPoll)
        startCallPoll();
    if (driverWatch) {
        callPoll.cancel();
        callPoll = {};
    }
}

void AppModel::watchHeadphoneRate()
{
    if (!callWatching.get())
        return;
    const std::optional<AudioObjectId> monitor = selectedMonitorOutputID.get();
    if (monitor == headphoneRateDevice.get())
        return;
    headphoneRateDevice.set(monitor);
    headphoneRateWatch.reset();
    if (monitor && deviceRates.watch) {
        headphoneRateWatch = deviceRates.watch(*monitor, [weak = weak_from_this()] {
            if (auto self = weak.lock())
                self->refreshCallSpeakerRoute();
        });
    }
}

}  // namespace parlaro
