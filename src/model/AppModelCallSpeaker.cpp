// Carrying what the calling application plays into the virtual device on to
// the user's headphones, and keeping the virtual device at the headphones'
// rate while nothing is carried.

#include "model/AppModel.h"
#include "model/SettingsWriter.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro {

void AppModel::routeCallSpeaker()
{
    // An output an earlier run switched to the virtual device goes back first.
    if (systemRoute && systemRoute->snapshot() && !systemRoute->snapshot()->routedOutput.empty()) {
        try {
            systemRoute->restoreOutput();
        } catch (...) {
            errorMessage.set(
                bracketed(localized("系统声音输出未能恢复：%@", describeFailure(std::current_exception())), "VM-7"));
        }
    }

    std::optional<SpeakerRoute> wanted;
    std::optional<AudioObjectId> virtualOutput;
    if (const auto device = virtualOutputDevice())
        virtualOutput = device->id;
    if (speakerPlayback && speakerPlayback(virtualOutput) && micAuthorized.get() && virtualTapDevice.get()) {
        const auto monitor = findDevice(outputDevices.get(), selectedMonitorOutputID.get());
        if (monitor && isPhysicalDevice(*monitor))
            wanted = SpeakerRoute{virtualTapDevice.get()->id, monitor->id};
    }

    if (callSpeakerRoute.get() && wanted != callSpeakerRoute.get()) {
        callSpeaker->stop();
        callSpeakerRoute.set(std::nullopt);
    }
    if (!wanted) {
        callSpeakerFailed.set(std::nullopt);
        return;
    }
    // A failed route is not tried again while it stays the wanted one.
    if (callSpeakerFailed.get() != wanted)
        callSpeakerFailed.set(std::nullopt);
    if (callSpeakerRoute.get() || callSpeakerFailed.get())
        return;

    const SpeakerRoute route = *wanted;
    callSpeaker->stop();
    try {
        callSpeaker->start(route.input, route.output, [weak = weak_from_this(), route](const std::string& reason) {
            if (auto self = weak.lock())
                self->routeFailureMessage(reason, route);
        });
        callSpeakerRoute.set(route);
    } catch (...) {
        callSpeakerFailed.set(route);
        errorMessage.set(
            bracketed(localized("对方的声音没能转到耳机：%@", describe(std::current_exception())), "VM-9"));
    }
}

void AppModel::routeFailureMessage(const std::string& reason, const SpeakerRoute& route)
{
    // A later route has taken over.
    if (callSpeakerRoute.get() != route)
        return;
    callSpeakerRoute.set(std::nullopt);
    // The recovery from a server loss routes the far end again.
    if (heldForAudioServer())
        return;
    callSpeakerFailed.set(route);
    errorMessage.set(bracketed(localized("对方的声音没能转到耳机：%@", reason), "VM-9"));
}

void AppModel::refreshCallSpeakerRoute()
{
    if (!sessionPrepared.get() || isInstallingDriver.get())
        return;
    // The rate of a device in use during a call is left alone.
    if (callActive.get() && (callDetector || callRouteInspector))
        return;
    if (callSpeakerRoute.get())
        return;
    const auto virtualMic = virtualMicDevice();
    const auto monitor = selectedMonitorOutputID.get();
    if (!virtualMic || !monitor)
        return;
    if (speakerPlayback) {
        std::optional<AudioObjectId> virtualOutput;
        if (const auto device = virtualOutputDevice())
            virtualOutput = device->id;
        if (speakerPlayback(virtualOutput))
            return;
    }
    if (!deviceRates.openElsewhere || !deviceRates.nominal || !deviceRates.available || !deviceRates.set)
        return;
    if (deviceRates.openElsewhere(virtualMic->id))
        return;
    const std::optional<double> headphoneRate = deviceRates.nominal(*monitor);
    const std::optional<double> virtualRate = deviceRates.nominal(virtualMic->id);
    if (!headphoneRate || !virtualRate || *headphoneRate == *virtualRate)
        return;
    const std::vector<double> available = deviceRates.available(virtualMic->id);
    if (std::find(available.begin(), available.end(), *headphoneRate) == available.end())
        return;
    deviceRates.set(virtualMic->id, *headphoneRate);
}

}  // namespace parlaro
