// The audio server going away and coming back while the program runs. While
// it is away every device is gone from the lists, the far-end capture gives
// up and forwarding stops; none of that is the user's to repair. The model
// keeps its selections as they were, says the server is unavailable, and when
// the server is back it waits for the devices it used, then runs again
// whatever ran before. A server that holds the connection without answering
// is told only after a grace, so that a loaded machine is not called a stall.

#include "model/AppModel.h"

#include "model/ModelTask.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"

#include <algorithm>

namespace parlaro {

void AppModel::audioServerChanged(bool running)
{
    const bool answering = !serverWatcher || serverWatcher->answering();
    followServerSilence(running, answering);
    if (!running) {
        // Gone again before the recovery ended: its wait starts over on the
        // next return, looking for the same devices.
        serverRecovery.cancel();
        serverRecovery = {};
        if (!awaitingAudioServer) {
            devicesBeforeServerLoss.clear();
            for (const std::optional<AudioDevice>& device :
                 {findDevice(inputDevices.get(), selectedInputID.get()), virtualMicDevice(),
                  findDevice(outputDevices.get(), selectedVirtualOutputID.get())}) {
                if (device)
                    devicesBeforeServerLoss.push_back(device->uid);
            }
        }
        awaitingAudioServer = true;
        listenAfterServerReturns = listenAfterServerReturns || isListening.get() || isChangingListening.get();
        // A server that refuses is gone; one that took the connection at
        // start and has not answered yet may only be slow, and is said to be
        // away only when its silence is told.
        if (answering || serverEverAnswered || audioServerLost.get())
            audioServerLost.set(true);
        else
            audioServerAwaited.set(true);
        // Nothing is heard without the server, whenever the capture notices
        // (over PipeWire it says so only seconds later): listening ends now,
        // and the recovery starts it again.
        if (isListening.get() && !isChangingListening.get())
            spawnOnModel(weak_from_this(), [](AppModel& model) { return model.pauseListening(); });
        return;
    }
    if (!audioServerLost.get() && !audioServerAwaited.get())
        return;
    audioServerLost.set(false);
    audioServerAwaited.set(false);
    serverRecovery.cancel();
    serverRecovery = spawnOnModel(weak_from_this(), [](AppModel& model) { return model.recoverFromServerLoss(); });
}

void AppModel::followServerSilence(bool running, bool answering)
{
    if (answering) {
        serverSilence.cancel();
        serverSilence = {};
        audioServerSilent.set(false);
        serverEverAnswered = serverEverAnswered || running;
        return;
    }
    if (serverSilence || audioServerSilent.get())
        return;
    const double grace = serverEverAnswered ? runSilenceGrace : startSilenceGrace;
    serverSilence = spawnOnModel(weak_from_this(), [grace](AppModel& model) { return model.tellServerSilence(grace); });
}

rt::Async<void> AppModel::tellServerSilence(double grace)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    try {
        co_await rt::sleepFor(grace);
    } catch (...) {
        // Cancelled: the server answered.
        co_return;
    }
    if (weak.expired())
        co_return;
    serverSilence = {};
    audioServerSilent.set(true);
    if (audioServerAwaited.get()) {
        audioServerAwaited.set(false);
        audioServerLost.set(true);
    }
}

bool AppModel::heldForAudioServer()
{
    // The capture and forwarding failures and the device lists come from
    // other threads and may reach the model before the watcher's report of
    // the loss; asking the server itself holds them all the same. Without a
    // watcher nothing would report the return, so nothing is held.
    if (!awaitingAudioServer && serverWatcher && audioServerRunning && !audioServerRunning())
        audioServerChanged(false);
    return awaitingAudioServer;
}

rt::Async<void> AppModel::recoverFromServerLoss()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    // The server loads its modules after it accepts clients, so the virtual
    // devices may show up a moment after the server itself.
    const rt::Instant deadline = rt::clock().now() + serverDevicesWait;
    while (rt::clock().now() < deadline) {
        const std::vector<AudioDevice> devices = listDevices();
        const bool allBack =
            std::all_of(devicesBeforeServerLoss.begin(), devicesBeforeServerLoss.end(), [&](const std::string& uid) {
                return std::any_of(devices.begin(), devices.end(),
                                   [&](const AudioDevice& device) { return device.uid == uid; });
            });
        if (allBack)
            break;
        try {
            co_await rt::sleepFor(serverDevicesInterval);
        } catch (...) {
            // Cancelled: the server went away again.
            co_return;
        }
        if (weak.expired())
            co_return;
    }
    if (rt::isCancelled())
        co_return;

    awaitingAudioServer = false;
    devicesBeforeServerLoss.clear();
    // New device ids, the default input taken over again, the watches on the
    // new server; forwarding restarts where its devices changed.
    recoverAudioDevices();
    if (originalVoiceOn.get() && !forwardingActive.get()) {
        co_await startOriginalVoice();
        if (weak.expired())
            co_return;
    }
    if (listenAfterServerReturns) {
        listenAfterServerReturns = false;
        // A capture that repaired itself on the new server is left running.
        if (!isListening.get() && !isChangingListening.get())
            co_await listeningReadinessNotice();
    }
}

}  // namespace parlaro
