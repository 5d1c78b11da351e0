// Whether a call is on, inferred from who reads the virtual microphone; a
// call ends only after the microphone stayed unread for the grace period.

#include "model/AppModel.h"
#include "model/ModelTask.h"

#include "runtime/Runtime.h"
#include "runtime/Sleep.h"

namespace parlaro {

void AppModel::callStateChanged()
{
    spawnOnModel(weak_from_this(), [](AppModel& model) { return model.refreshCallStateAndRecheck(); });
}

rt::Async<void> AppModel::refreshCallStateAndRecheck()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_await refreshCallState();
    if (!weak.expired())
        scheduleCallRecheck(callChangeRecheck);
}

rt::Async<void> AppModel::refreshCallState()
{
    if (!callDetector && !callRouteInspector)
        co_return;
    std::optional<AudioObjectId> device;
    if (const auto virtualMic = virtualMicDevice())
        device = virtualMic->id;

    // Only a certain "nobody reads it" counts as unread.
    bool read = true;
    if (callRouteInspector) {
        const CallMicrophoneRoute route = callRouteInspector(device);
        callMicrophoneRoute.set(route);
        read = route != CallMicrophoneRoute::idle;
    } else {
        read = callDetector(device).value_or(true);
    }
    const rt::Instant now = rt::clock().now();

    bool active = false;
    if (read) {
        active = true;
        callEndedAt.set(std::nullopt);
    } else if (callActive.get()) {
        const rt::Instant unreadSince = callEndedAt.get().value_or(now);
        callEndedAt.set(unreadSince);
        const double unread = now - unreadSince;
        if (unread < callGracePeriod) {
            active = true;
            scheduleCallRecheck(callGracePeriod - unread + callGraceMargin);
        } else {
            callEndedAt.set(std::nullopt);
        }
    }

    if (active != callActive.get()) {
        // Stored before the await, so a refresh running meanwhile records no
        // second transition.
        callActive.set(active);
        if (!active)
            closeConversationSession();
        updateMeters();
        const std::weak_ptr<AppModel> weak = weak_from_this();
        co_await startOriginalVoice();
        if (weak.expired())
            co_return;
    }
    routeCallSpeaker();
    refreshCallSpeakerRoute();
}

void AppModel::scheduleCallRecheck(double delay)
{
    // The poll reads again soon enough.
    if (callPoll && !callPoll.isFinished())
        return;
    callRecheck.cancel();
    callRecheck =
        spawnOnModel(weak_from_this(), [delay](AppModel& model) { return model.recheckCallStateAfter(delay); });
}

rt::Async<void> AppModel::recheckCallStateAfter(double delay)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    try {
        co_await rt::sleepFor(delay);
    } catch (const rt::CancellationError&) {
        // Replaced by a newer re-check; the check below ends this one.
    }
    if (rt::isCancelled() || weak.expired())
        co_return;
    co_await refreshCallState();
}

void AppModel::startCallPoll()
{
    callPoll = spawnOnModel(weak_from_this(), [](AppModel& model) { return model.pollCallState(); });
}

rt::Async<void> AppModel::pollCallState()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    // A model released without shutdown has nobody left to cancel this.
    while (!rt::isCancelled() && !weak.expired()) {
        co_await refreshCallState();
        if (weak.expired())
            co_return;
        try {
            co_await rt::sleepUntil(rt::clock().now() + callPollInterval);
        } catch (const rt::CancellationError&) {
            // The loop's own test ends the task.
        }
    }
}

}  // namespace parlaro
