#include "audio/DirectVoice.h"

#include "platform/AudioSystem.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"
#include "runtime/UuidSource.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress aliveAddress{AudioSelectors::isAlive};
constexpr AudioPropertyAddress rateAddress{AudioSelectors::nominalSampleRate};
constexpr AudioPropertyAddress overloadAddress{AudioSelectors::processorOverload};
constexpr AudioPropertyAddress bufferSizeAddress{AudioSelectors::bufferFrameSize};
constexpr AudioPropertyAddress clockCorrectionAddress{AudioSelectors::driverClockCorrection};

// Keeps the instants less than `window` seconds before `now`.
void keepRecent(std::vector<rt::Instant>& instants, rt::Instant now, double window)
{
    std::erase_if(instants, [&](rt::Instant instant) { return now - instant >= window; });
}

}  // namespace

DirectVoice::DirectVoice(Steering steering, bool allowSameDevice)
    : steering_(steering), session_(rt::newUuid()), allowSameDevice_(allowSameDevice)
{
}

DirectVoice::~DirectVoice()
{
    tearDown();
}

void DirectVoice::start(AudioObjectId input, AudioObjectId output, StopHandler onStop)
{
    session_ = rt::newUuid();
    tearDown();
    restarts_.clear();
    overloads_.clear();
    begin(input, output, std::move(onStop));
}

void DirectVoice::stop()
{
    session_ = rt::newUuid();
    tearDown();
}

void DirectVoice::begin(AudioObjectId input, AudioObjectId output, StopHandler onStop)
{
    if (input == output && !allowSameDevice_) {
        throw DomainError("Parlaro", sameDeviceCode, localized("麦克风和语音输出不能是同一个设备"));
    }
    forwarder_ = std::make_shared<DeviceForwarder>(input, output, steering_ == Steering::resample);
    startControlLoop();
    auto route = std::make_shared<const Route>(Route{input, output, std::move(onStop)});
    watch(input, route);
    if (output != input) {
        watch(output, route);
    }
}

void DirectVoice::tearDown()
{
    if (controlTask_) {
        controlTask_.cancel();
        controlTask_ = {};
    }
    if (steeredDriver_) {
        setDriverClockCorrection(*steeredDriver_, 0.0);
        steeredDriver_.reset();
    }
    listeners_.clear();
    if (forwarder_) {
        forwarder_->tearDown();
        forwarder_.reset();
    }
}

void DirectVoice::setDriverClockCorrection(AudioObjectId device, double ppm)
{
    AudioSystem& system = audioSystem();
    if (!system.hasProperty(device, clockCorrectionAddress)) {
        return;
    }
    // The driver counts the other way round; zero stays a plain 0.0.
    const double value = ppm == 0 ? 0.0 : -ppm;
    system.setPropertyData(device, clockCorrectionAddress, AudioPropertyValue(value));
}

void DirectVoice::startControlLoop()
{
    controller_ = DriftController{};
    std::shared_ptr<DeviceForwarder> forwarder = forwarder_;
    std::function<void(double)> correction;
    if (forwarder->mode() == DeviceForwarder::Mode::resample) {
        correction = [forwarder](double ppm) { forwarder->setRatio(forwarder->baseRatio() / (ppm / 1'000'000 + 1)); };
    } else if (steering_ == Steering::driverClockOnInput) {
        steeredDriver_ = forwarder->input();
        correction = [device = forwarder->input()](double ppm) { setDriverClockCorrection(device, ppm); };
    } else {
        return;
    }
    std::weak_ptr<DirectVoice> weak = weak_from_this();
    controlTask_ = rt::spawn([forwarder, correction, weak]() -> rt::Async<void> {
        while (!rt::isCancelled()) {
            co_await rt::sleepUntil(rt::clock().now() + controlInterval);
            if (rt::isCancelled()) {
                break;
            }
            auto self = weak.lock();
            if (self && forwarder->errorValid()) {
                correction(self->controller_.update(forwarder->errorFrames()));
            }
        }
    });
}

// The listeners run on the notification thread. They touch nothing of the
// route there: they read the device if they must and hop to the main actor,
// where the session token, the forwarder and the overload record live.
void DirectVoice::watch(AudioObjectId device, const std::shared_ptr<const Route>& route)
{
    AudioSystem& system = audioSystem();
    const std::weak_ptr<DirectVoice> weak = weak_from_this();
    const rt::Uuid session = session_;

    auto keep = [this](AudioListenerToken token) {
        if (token) {
            listeners_.push_back(std::move(token));
        }
    };
    keep(system.addPropertyListener(
        device, aliveAddress, AudioCallbackQueue::notificationThread(),
        [weak, session, route, device](std::span<const AudioPropertyAddress>) {
            std::uint32_t alive = 0;
            if (audioSystem().get(device, aliveAddress, alive) == AudioStatuses::ok && alive != 0) {
                return;
            }
            rt::postToMain([weak, session, route] { requestRestart(weak, session, route); });
        }));
    keep(system.addPropertyListener(device, rateAddress, AudioCallbackQueue::notificationThread(),
                                    [weak, session, route](std::span<const AudioPropertyAddress>) {
                                        rt::postToMain(
                                            [weak, session, route] { requestRestart(weak, session, route); });
                                    }));
    keep(system.addPropertyListener(device, overloadAddress, AudioCallbackQueue::notificationThread(),
                                    [weak, session, route](std::span<const AudioPropertyAddress>) {
                                        const rt::Instant when = rt::clock().now();
                                        rt::postToMain(
                                            [weak, session, route, when] { overloaded(weak, session, route, when); });
                                    }));
}

void DirectVoice::requestRestart(const std::weak_ptr<DirectVoice>& weak, rt::Uuid session,
                                 std::shared_ptr<const Route> route)
{
    auto self = weak.lock();
    if (!self || self->session_ != session || !self->forwarder_) {
        return;
    }
    // Torn down at once, so a second notification of the same change finds
    // no forwarder and cannot start a second restart.
    self->tearDown();
    rt::spawn([weak, session, route]() { return restart(weak, session, route); });
}

void DirectVoice::overloaded(const std::weak_ptr<DirectVoice>& weak, rt::Uuid session,
                             std::shared_ptr<const Route> route, rt::Instant when)
{
    auto self = weak.lock();
    if (!self || self->session_ != session) {
        return;
    }
    keepRecent(self->overloads_, when, overloadWindow);
    self->overloads_.push_back(when);
    if (self->overloads_.size() < overloadLimit) {
        return;
    }
    self->overloads_.clear();
    AudioSystem& system = audioSystem();
    std::uint32_t frames = 0;
    if (system.get(route->output, bufferSizeAddress, frames) != AudioStatuses::ok || frames >= largestBufferFrames) {
        return;
    }
    // The new forwarder copies the output's size to the input as well.
    system.setPropertyData(route->output, bufferSizeAddress,
                           AudioPropertyValue(std::min(2 * frames, largestBufferFrames)));
    requestRestart(weak, session, std::move(route));
}

rt::Async<void> DirectVoice::restart(std::weak_ptr<DirectVoice> weak, rt::Uuid requested,
                                     std::shared_ptr<const Route> route)
{
    rt::Uuid remembered;
    {
        auto self = weak.lock();
        // A stop() or start() queued between the request and this first step
        // has already decided what runs; restarting the old pair would undo it.
        if (!self || self->session_ != requested) {
            co_return;
        }
        self->tearDown();
        remembered = self->session_;
        const rt::Instant now = rt::clock().now();
        keepRecent(self->restarts_, now, restartWindow);
        self->restarts_.push_back(now);
        if (self->restarts_.size() > restartLimit) {
            self->session_ = rt::newUuid();
            self->tearDown();
            if (route->onStop) {
                route->onStop(localized("麦克风或虚拟麦克风反复发生变化，原声转发已停止。"));
            }
            co_return;
        }
    }
    try {
        co_await rt::sleepFor(restartDelay);
    } catch (const rt::CancellationError&) {
        // The pause is a grace period, not a wait that cancelling may skip
        // the rest of the restart for.
    }
    auto self = weak.lock();
    if (!self || self->session_ != remembered) {
        co_return;
    }
    try {
        self->begin(route->input, route->output, route->onStop);
    } catch (...) {
        const std::string reason = describe(std::current_exception());
        self->session_ = rt::newUuid();
        self->tearDown();
        if (route->onStop) {
            route->onStop(localized("麦克风或虚拟麦克风已断开（%@），原声转发已停止。", reason));
        }
    }
}

}  // namespace parlaro
