#include "ForwardingWorld.h"

#include "audio/DirectVoice.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace parlaro;
using namespace parlaro::test;

namespace {

constexpr AudioPropertyAddress clockCorrection{"dcck"_fcc};
constexpr AudioPropertyAddress bufferSize{"fsiz"_fcc};

struct VoiceWorld : ForwardingWorld {
    std::vector<std::string> stops;

    DirectVoiceRouting::StopHandler onStop()
    {
        return [this](const std::string& message) { stops.push_back(message); };
    }

    // Runs every device cycle due in the next `seconds` and moves virtual
    // time along with them, in small steps so the control loop sees them.
    void run(double seconds, double step = 0.05)
    {
        const double until = runtime.clock().now().seconds() + seconds;
        while (runtime.clock().now().seconds() + 1e-9 < until) {
            const double next = std::min(step, until - runtime.clock().now().seconds());
            audio.runIOUntil(runtime.clock().hostTime() + next);
            runtime.advance(next);
            // What the devices played is not looked at here; keep it small.
            for (AudioObjectId device : {virtualDeviceID, headphonesID}) {
                audio.clearOutput(device);
            }
        }
    }

    std::vector<double> corrections(AudioObjectId device)
    {
        std::vector<double> values;
        for (const auto& event : audio.sets(device, clockCorrection)) {
            values.push_back(std::get<double>(*event.value));
        }
        return values;
    }

    std::size_t listenersOn(AudioObjectId device)
    {
        std::size_t count = 0;
        for (AudioSelector selector : {"livn"_fcc, "nsrt"_fcc, "over"_fcc}) {
            count += audio.listenerCount(device, {selector});
        }
        return count;
    }

    bool nothingLeft() { return audio.ioProcs().empty() && audio.listeners().empty(); }

    void unplug(AudioObjectId device)
    {
        audio.store(device, {"livn"_fcc}, std::uint32_t{0});
        audio.notify(device, {"livn"_fcc});
        runtime.runUntilIdle();
    }
    void replug(AudioObjectId device) { audio.store(device, {"livn"_fcc}, std::uint32_t{1}); }
};

std::string errorText(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        return describe(error);
    }
    return "no error";
}

}  // namespace

TEST(DirectVoice, StartAndStopOwnTheirRegistrations)
{
    VoiceWorld world;
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::resample, false);
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    ASSERT_NE(voice->forwarder(), nullptr);
    EXPECT_EQ(voice->forwarder()->mode(), DeviceForwarder::Mode::resample) << "resample steering always resamples";
    EXPECT_TRUE(voice->isControlling());
    EXPECT_EQ(world.listenersOn(microphoneID), 3U);
    EXPECT_EQ(world.listenersOn(virtualDeviceID), 3U);
    for (const auto& listener : world.audio.listeners()) {
        EXPECT_EQ(listener.queue, "") << "device listeners run on the notification thread";
    }
    const rt::Uuid firstSession = voice->session();

    // The same pair again: the old route goes first, nothing doubles.
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    EXPECT_NE(voice->session(), firstSession);
    EXPECT_EQ(world.listenersOn(microphoneID), 3U);
    EXPECT_EQ(world.listenersOn(virtualDeviceID), 3U);
    EXPECT_EQ(world.audio.ioProcs().size(), 2U);

    voice->stop();
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_FALSE(voice->isControlling());
    EXPECT_TRUE(world.nothingLeft());
    world.run(1.0);
    EXPECT_TRUE(world.stops.empty());

    voice->start(microphoneID, virtualDeviceID, world.onStop());
    voice.reset();
    EXPECT_TRUE(world.nothingLeft()) << "a released route tears itself down";
    world.run(1.0);
}

TEST(DirectVoice, RefusesOneDeviceForBothEndsAndLeavesNothingAfterFailures)
{
    VoiceWorld world;
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
    try {
        voice->start(virtualDeviceID, virtualDeviceID, world.onStop());
        ADD_FAILURE() << "no error";
    } catch (const DomainError& error) {
        EXPECT_EQ(error.domain(), "Parlaro");
        EXPECT_EQ(error.code(), 10);
        EXPECT_EQ(error.localizedDescription(), "麦克风和语音输出不能是同一个设备");
    }
    EXPECT_TRUE(world.nothingLeft());

    world.audio.fail(microphoneID, sim::anySelector, sim::AudioOperation::startDevice, AudioStatuses::badDevice);
    EXPECT_EQ(errorText([&] { voice->start(virtualDeviceID, microphoneID, world.onStop()); }),
              "无法打开播放设备（" + std::to_string(AudioStatuses::badDevice) + "）（VM-11）");
    EXPECT_TRUE(world.nothingLeft());
    EXPECT_FALSE(voice->steeredDriver().has_value());
    EXPECT_FALSE(voice->isControlling());
    world.audio.clearFailures();
    world.run(1.0);
    EXPECT_TRUE(world.corrections(virtualDeviceID).empty());

    // Allowed: one device, one set of listeners.
    auto loop = std::make_shared<DirectVoice>(DirectVoice::Steering::none, true);
    loop->start(virtualDeviceID, virtualDeviceID, world.onStop());
    EXPECT_EQ(world.listenersOn(virtualDeviceID), 3U);
    EXPECT_EQ(world.audio.ioProcs().size(), 2U);
    loop->stop();
    EXPECT_TRUE(world.nothingLeft());
}

TEST(DirectVoice, SteeringDecidesWhereTheCorrectionGoes)
{
    VoiceWorld world;
    world.audio.setInputSignal(virtualDeviceID, [](std::uint32_t, double t) { return timeCode(t); });
    {
        // Equal rates, no steering: a direct copy and no control loop.
        auto plain = std::make_shared<DirectVoice>(DirectVoice::Steering::none, false);
        plain->start(virtualDeviceID, headphonesID, world.onStop());
        EXPECT_EQ(plain->forwarder()->mode(), DeviceForwarder::Mode::direct);
        EXPECT_FALSE(plain->isControlling());
        world.run(4.0);
        plain->stop();
        EXPECT_TRUE(world.corrections(virtualDeviceID).empty());
    }
    {
        // Equal rates, driver clock: the negated correction goes to the input's 'dcck'.
        auto steered = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
        steered->start(virtualDeviceID, headphonesID, world.onStop());
        EXPECT_EQ(steered->forwarder()->mode(), DeviceForwarder::Mode::direct);
        EXPECT_EQ(steered->steeredDriver(), virtualDeviceID);
        world.run(4.0);
        const auto written = world.corrections(virtualDeviceID);
        EXPECT_GE(written.size(), 38U) << "one write per control step once errors are measured";
        EXPECT_LE(written.size(), 40U);
        const double ppm = steered->controller().ppm();
        EXPECT_EQ(written.back(), ppm == 0 ? 0.0 : -ppm);
        steered->stop();
        const auto afterStop = world.corrections(virtualDeviceID);
        ASSERT_EQ(afterStop.size(), written.size() + 1);
        EXPECT_EQ(afterStop.back(), 0.0);
        EXPECT_FALSE(std::signbit(afterStop.back())) << "a plain 0.0";
        EXPECT_EQ(world.real(virtualDeviceID, clockCorrection), 0.0);
        world.run(2.0);
        EXPECT_EQ(world.corrections(virtualDeviceID).size(), afterStop.size()) << "nothing written after stop";
    }
    world.audio.clearEvents();
    {
        // Driver clock but different rates: resampled, corrected through the ratio.
        world.audio.store(headphonesID, {"nsrt"_fcc}, 44100.0);
        auto steered = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
        steered->start(virtualDeviceID, headphonesID, world.onStop());
        EXPECT_EQ(steered->forwarder()->mode(), DeviceForwarder::Mode::resample);
        EXPECT_FALSE(steered->steeredDriver().has_value());
        EXPECT_TRUE(steered->isControlling());
        world.run(3.0);
        steered->stop();
        EXPECT_TRUE(world.corrections(virtualDeviceID).empty()) << "no write, not even a reset";
        world.audio.store(headphonesID, {"nsrt"_fcc}, 48000.0);
    }
    {
        // A device without the property is never written.
        auto steered = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
        steered->start(microphoneID, headphonesID, world.onStop());
        world.run(3.0);
        steered->stop();
        EXPECT_TRUE(world.audio.sets(microphoneID, clockCorrection).empty());
    }
}

TEST(DirectVoice, DriftOfTensOfPpmIsMeasuredAndCancelled)
{
    // The virtual device's clock runs 40 ppm fast; the control loop steers it
    // back through 'dcck', which the driver adds to its clock.
    auto fastVirtualDevice = [](VoiceWorld& world) {
        world.audio.removeObject(virtualDeviceID);
        world.audio.addDevice(
            test::simDevice(virtualDeviceID, "").input({2}).ppm(40).with(AudioSelectors::driverClockCorrection, 0.0));
    };
    {
        VoiceWorld world;
        fastVirtualDevice(world);
        auto steered = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
        steered->start(virtualDeviceID, headphonesID, world.onStop());
        world.run(60.0);
        EXPECT_NEAR(steered->controller().ppm(), 40.0, 4.0) << "the measured drift";
        EXPECT_EQ(world.real(virtualDeviceID, clockCorrection), -steered->controller().ppm());
        const double latency = steered->forwarder()->errorFrames();
        world.run(10.0);
        EXPECT_NEAR(steered->forwarder()->errorFrames(), latency, 2.0) << "the latency no longer moves";
        EXPECT_EQ(steered->forwarder()->head().resyncs, 0);
    }
    {
        // The same drift left alone: the latency grows by 1.92 frames a second.
        VoiceWorld world;
        fastVirtualDevice(world);
        auto plain = std::make_shared<DirectVoice>(DirectVoice::Steering::none, false);
        plain->start(virtualDeviceID, headphonesID, world.onStop());
        world.run(2.0);
        const double before = plain->forwarder()->errorFrames();
        world.run(10.0);
        EXPECT_NEAR(plain->forwarder()->errorFrames() - before, 10 * 48000 * 40e-6, 2.0);
        EXPECT_TRUE(world.corrections(virtualDeviceID).empty());
    }
}

TEST(DirectVoice, ResampledRouteCancelsDriftThroughTheRatio)
{
    // A 44.1 kHz microphone 30 ppm fast into the 48 kHz virtual device.
    VoiceWorld world;
    world.audio.removeObject(microphoneID);
    world.audio.addDevice(test::simDevice(microphoneID, "").input({1}).rate(44100).ppm(30));
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::resample, false);
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    const double base = voice->forwarder()->baseRatio();
    EXPECT_DOUBLE_EQ(base, 48000.0 / 44100.0);
    world.run(10.0);
    // Each correction is noisy (the resampler's pulls move in steps of 256
    // frames), but on average the input is consumed 30 ppm faster, and the
    // latency stays around its setpoint instead of growing.
    double sum = 0;
    int steps = 0;
    double furthest = 0;
    for (int i = 0; i < 300; ++i) {
        world.run(0.1);
        sum += voice->controller().ppm();
        ++steps;
        furthest = std::max(furthest, std::abs(voice->forwarder()->errorFrames() - *voice->controller().setpoint()));
    }
    EXPECT_NEAR(sum / steps, 30.0, 10.0);
    EXPECT_LT(furthest, 300.0);
    EXPECT_EQ(voice->forwarder()->ratio(), base / (voice->controller().ppm() / 1e6 + 1));
    EXPECT_TRUE(world.stops.empty());
}

TEST(DirectVoice, FullCorrectionIsWrittenNegatedAndSetsTheRatio)
{
    // A clock 3000 ppm fast drives the correction to its 500 ppm limit.
    VoiceWorld world;
    world.audio.removeObject(virtualDeviceID);
    world.audio.addDevice(
        test::simDevice(virtualDeviceID, "").input({2}).ppm(3000).with(AudioSelectors::driverClockCorrection, 0.0));
    auto steered = std::make_shared<DirectVoice>(DirectVoice::Steering::driverClockOnInput, false);
    steered->start(virtualDeviceID, headphonesID, world.onStop());
    world.run(6.0);
    EXPECT_EQ(steered->controller().ppm(), 500.0);
    EXPECT_EQ(world.corrections(virtualDeviceID).back(), -500.0);
    steered->stop();
    EXPECT_EQ(world.corrections(virtualDeviceID).back(), 0.0);

    auto resampling = std::make_shared<DirectVoice>(DirectVoice::Steering::resample, false);
    resampling->start(virtualDeviceID, headphonesID, world.onStop());
    world.run(6.0);
    EXPECT_EQ(resampling->controller().ppm(), 500.0);
    EXPECT_EQ(resampling->forwarder()->ratio(), 1.0 / 1.0005);
}

TEST(DirectVoice, RestartsAfterDeviceChangesAndGivesUpWhenTheyRepeat)
{
    VoiceWorld world;
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::none, false);
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    const rt::Uuid session = voice->session();

    // Alive again: nothing to do.
    world.audio.notify(microphoneID, {"livn"_fcc});
    world.runtime.runUntilIdle();
    EXPECT_TRUE(voice->restarts().empty());

    // Unplugged: torn down at once, rebuilt 0.3 s later with the same token.
    world.unplug(microphoneID);
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_TRUE(world.nothingLeft());
    world.replug(microphoneID);
    world.runtime.advance(0.29);
    EXPECT_EQ(voice->forwarder(), nullptr);
    world.runtime.advance(0.01);
    ASSERT_NE(voice->forwarder(), nullptr);
    EXPECT_EQ(voice->session(), session);
    EXPECT_EQ(world.listenersOn(microphoneID), 3U);
    EXPECT_EQ(world.listenersOn(virtualDeviceID), 3U);
    EXPECT_EQ(world.audio.ioProcs().size(), 2U);

    // A rate change on either device restarts as well; three within 10 s are fine.
    world.audio.notify(virtualDeviceID, {"nsrt"_fcc});
    EXPECT_NE(voice->forwarder(), nullptr) << "the rate listener hops to the main actor first";
    world.runtime.advance(1.0);
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    world.audio.notify(virtualDeviceID, {"nsrt"_fcc});
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->restarts().size(), 3U) << "two notifications of one change make one restart";
    EXPECT_NE(voice->forwarder(), nullptr);
    EXPECT_EQ(world.listenersOn(microphoneID), 3U);
    EXPECT_TRUE(world.stops.empty());

    // The fourth within 10 s stops the route.
    world.unplug(virtualDeviceID);
    EXPECT_EQ(world.stops, std::vector<std::string>{"麦克风或虚拟麦克风反复发生变化，原声转发已停止。"});
    EXPECT_NE(voice->session(), session);
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_TRUE(world.nothingLeft());

    // Restarts older than 10 s are forgotten.
    world.replug(virtualDeviceID);
    world.stops.clear();
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    EXPECT_TRUE(voice->restarts().empty()) << "start forgets earlier restarts";
    for (int i = 0; i < 3; ++i) {
        world.audio.notify(microphoneID, {"nsrt"_fcc});
        world.runtime.advance(4.0);
    }
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->restarts().size(), 3U);
    EXPECT_NE(voice->forwarder(), nullptr);
    EXPECT_TRUE(world.stops.empty());
}

TEST(DirectVoice, StaleNotificationsAndFailedRestarts)
{
    VoiceWorld world;
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::none, false);
    voice->start(microphoneID, virtualDeviceID, world.onStop());

    // A rate change that reaches the main actor after stop() does nothing.
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    voice->stop();
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_TRUE(voice->restarts().empty());
    EXPECT_TRUE(world.nothingLeft());

    // A stop() in the 0.3 s pause cancels the pending restart.
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    world.runtime.advance(0.1);
    voice->stop();
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_TRUE(world.nothingLeft());
    EXPECT_TRUE(world.stops.empty());

    // A stop() that reaches the main actor after the restart was requested
    // but before the restart began also keeps the route down.
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    rt::postToMain([&] { voice->stop(); });
    world.runtime.advance(1.0);
    EXPECT_EQ(voice->forwarder(), nullptr) << "not brought back after stop()";
    EXPECT_TRUE(voice->restarts().empty());
    EXPECT_TRUE(world.nothingLeft());

    // Nor does a start() with other devices in that gap bring the old pair back.
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    world.audio.notify(microphoneID, {"nsrt"_fcc});
    rt::postToMain([&] { voice->start(microphoneID, headphonesID, world.onStop()); });
    world.runtime.advance(1.0);
    ASSERT_NE(voice->forwarder(), nullptr);
    EXPECT_EQ(voice->forwarder()->output(), headphonesID);
    EXPECT_EQ(world.listenersOn(virtualDeviceID), 0U);
    EXPECT_EQ(world.audio.ioProcs().size(), 2U);
    voice->stop();
    EXPECT_TRUE(world.stops.empty());

    // A live flag that cannot be read counts as gone; the device then
    // disappears, so the restart fails, stops the route and says why.
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    world.audio.fail(microphoneID, "livn"_fcc, sim::AudioOperation::getPropertyData, AudioStatuses::badObject, 1);
    world.audio.notify(microphoneID, {"livn"_fcc});
    world.runtime.runUntilIdle();
    EXPECT_EQ(voice->forwarder(), nullptr);
    world.audio.removeObject(microphoneID);
    world.runtime.advance(1.0);
    EXPECT_EQ(world.stops,
              std::vector<std::string>{"麦克风或虚拟麦克风已断开（无法读取设备（"
                                       + std::to_string(AudioStatuses::badObject) + "）（VM-11）），原声转发已停止。"});
    EXPECT_EQ(voice->forwarder(), nullptr);
    EXPECT_TRUE(world.nothingLeft());
}

TEST(DirectVoice, RepeatedOverloadsDoubleTheOutputBufferAndRestart)
{
    VoiceWorld world;
    auto voice = std::make_shared<DirectVoice>(DirectVoice::Steering::none, false);
    voice->start(microphoneID, virtualDeviceID, world.onStop());
    EXPECT_EQ(world.number(microphoneID, bufferSize), 512U);

    // Bookkeeping happens on the main actor, never on the notification thread.
    world.audio.notify(microphoneID, {"over"_fcc});
    EXPECT_TRUE(voice->overloads().empty());
    world.runtime.runUntilIdle();
    EXPECT_EQ(voice->overloads().size(), 1U);

    // Two within 10 s, then the third 10 s after the first: no step.
    world.runtime.advance(5.0);
    world.audio.notify(virtualDeviceID, {"over"_fcc});
    world.runtime.advance(5.0);
    world.audio.notify(virtualDeviceID, {"over"_fcc});
    world.runtime.runUntilIdle();
    EXPECT_EQ(voice->overloads().size(), 2U);
    EXPECT_EQ(world.number(virtualDeviceID, bufferSize), 512U);

    // The third within 10 s, on either device: 512 becomes 1024 and the route restarts.
    world.audio.notify(microphoneID, {"over"_fcc});
    world.runtime.runUntilIdle();
    EXPECT_TRUE(voice->overloads().empty());
    EXPECT_EQ(world.number(virtualDeviceID, bufferSize), 1024U);
    EXPECT_EQ(voice->forwarder(), nullptr);
    world.runtime.advance(0.3);
    ASSERT_NE(voice->forwarder(), nullptr);
    EXPECT_EQ(world.number(microphoneID, bufferSize), 1024U) << "the new forwarder copies the size to the input";
    EXPECT_EQ(voice->forwarder()->distance(), 2048);

    // 1500 becomes 2048, the largest step.
    world.audio.store(virtualDeviceID, bufferSize, std::uint32_t{1500});
    for (int i = 0; i < 3; ++i) {
        world.audio.notify(virtualDeviceID, {"over"_fcc});
    }
    world.runtime.advance(0.3);
    EXPECT_EQ(world.number(virtualDeviceID, bufferSize), 2048U);
    EXPECT_EQ(voice->restarts().size(), 2U);

    // At 2048 the count is only cleared.
    world.audio.clearEvents();
    for (int i = 0; i < 3; ++i) {
        world.audio.notify(virtualDeviceID, {"over"_fcc});
    }
    world.runtime.advance(0.3);
    EXPECT_TRUE(voice->overloads().empty());
    EXPECT_TRUE(world.audio.sets(virtualDeviceID, bufferSize).empty());
    EXPECT_EQ(voice->restarts().size(), 2U);
    EXPECT_NE(voice->forwarder(), nullptr);

    // An overload that reaches the main actor after stop() is ignored.
    world.audio.notify(virtualDeviceID, {"over"_fcc});
    voice->stop();
    world.runtime.runUntilIdle();
    EXPECT_TRUE(voice->overloads().empty());
}
