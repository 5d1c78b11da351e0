#include "ForwardingWorld.h"

#include "audio/DeviceForwarder.h"
#include "speech/ModuleError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numbers>

using namespace parlaro;
using namespace parlaro::test;

namespace {

std::string creationError(const std::function<void()>& create)
{
    try {
        create();
    } catch (const ModuleError& error) {
        EXPECT_EQ(error.code(), "VM-11");
        return error.localizedDescription();
    }
    return "no error";
}

AudioTimeStamp stamp(double sampleTime, std::uint64_t hostTime, bool hostValid = true)
{
    AudioTimeStamp time;
    time.sampleTime = sampleTime;
    time.hostTime = hostTime;
    time.flags = AudioTimeStamp::sampleTimeValid | (hostValid ? AudioTimeStamp::hostTimeValid : 0U);
    return time;
}

}  // namespace

TEST(DeviceForwarder, CreationMatchesBufferSizesAndSetsTheTargetLatency)
{
    ForwardingWorld world;
    {
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
        EXPECT_EQ(world.number(microphoneID, {"fsiz"_fcc}), 512U) << "the input follows the output's buffer size";
        EXPECT_EQ(forwarder.mode(), DeviceForwarder::Mode::direct);
        EXPECT_EQ(forwarder.inputTiming(), (DeviceForwarder::DeviceTiming{48000, 512, 0}));
        EXPECT_EQ(forwarder.outputTiming(), (DeviceForwarder::DeviceTiming{48000, 512, 0}));
        EXPECT_EQ(forwarder.distance(), 1024);
        EXPECT_EQ(forwarder.baseRatio(), 1.0);
        EXPECT_DOUBLE_EQ(forwarder.hostTicksPerInputFrame(), 1e9 / 48000);
        const auto procs = world.audio.ioProcs();
        ASSERT_EQ(procs.size(), 2U);
        EXPECT_TRUE(procs[0].started && procs[1].started);
        EXPECT_TRUE(world.audio.isRunning(microphoneID));
        EXPECT_TRUE(world.audio.isRunning(virtualDeviceID));
        // The output procedure does not take the virtual device's input.
        const AudioPropertyValue outputProc(procs[0].device == virtualDeviceID ? procs[0].id : procs[1].id);
        AudioStreamUsage usage;
        ASSERT_EQ(world.audio.get(virtualDeviceID, {"suse"_fcc, AudioScope::input}, usage, &outputProc),
                  AudioStatuses::ok);
        EXPECT_EQ(usage.streamIsOn, std::vector<std::uint32_t>{0});

        forwarder.tearDown();
        EXPECT_FALSE(world.anyProcs());
        EXPECT_FALSE(world.audio.isRunning(microphoneID));
        forwarder.tearDown();
    }

    world.audio.store(microphoneID, {"saft"_fcc, AudioScope::input}, std::uint32_t{24});
    world.audio.store(virtualDeviceID, {"saft"_fcc, AudioScope::output}, std::uint32_t{40});
    world.audio.store(virtualDeviceID, {"fsiz"_fcc}, std::uint32_t{256});
    {
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, true);
        EXPECT_EQ(forwarder.distance(), 24 + 40 + 256 + 256);
        EXPECT_EQ(forwarder.mode(), DeviceForwarder::Mode::resample) << "forced";
        EXPECT_EQ(forwarder.ratio(), 1.0);
    }
    EXPECT_FALSE(world.anyProcs()) << "released forwarders tear down";

    DeviceForwarder converting(slowMicrophoneID, virtualDeviceID, false);
    EXPECT_EQ(converting.mode(), DeviceForwarder::Mode::resample);
    EXPECT_DOUBLE_EQ(converting.baseRatio(), 48000.0 / 44100.0);
    EXPECT_DOUBLE_EQ(converting.ratio(), converting.baseRatio());
}

TEST(DeviceForwarder, CreationFailuresAreVM11AndLeaveNothingRegistered)
{
    ForwardingWorld world;
    using sim::AudioOperation;
    const std::string status = std::to_string(AudioStatuses::badDevice);
    auto create = [] { DeviceForwarder forwarder(microphoneID, virtualDeviceID, false); };
    auto expectClean = [&](const char* what) {
        EXPECT_FALSE(world.anyProcs()) << what;
        EXPECT_FALSE(world.audio.isRunning(microphoneID)) << what;
        EXPECT_FALSE(world.audio.isRunning(virtualDeviceID)) << what;
        world.audio.clearFailures();
    };

    world.audio.fail(microphoneID, "nsrt"_fcc, AudioOperation::getPropertyData, AudioStatuses::badDevice);
    EXPECT_EQ(creationError(create), "无法读取设备（" + status + "）（VM-11）");
    expectClean("rate read");

    world.audio.store(virtualDeviceID, {"nsrt"_fcc}, 0.0);
    EXPECT_EQ(creationError(create), "无法读取设备（VM-11）") << "a rate that is not positive has no status";
    world.audio.store(virtualDeviceID, {"nsrt"_fcc}, 48000.0);
    expectClean("zero rate");

    world.audio.fail(microphoneID, sim::anySelector, AudioOperation::createIOProc, AudioStatuses::badDevice);
    EXPECT_EQ(creationError(create), "无法读取设备（" + status + "）（VM-11）");
    expectClean("input procedure");

    world.audio.fail(virtualDeviceID, sim::anySelector, AudioOperation::createIOProc, AudioStatuses::badDevice);
    EXPECT_EQ(creationError(create), "无法打开播放设备（" + status + "）（VM-11）");
    expectClean("output procedure");

    world.audio.fail(virtualDeviceID, sim::anySelector, AudioOperation::startDevice, AudioStatuses::badDevice);
    EXPECT_EQ(creationError(create), "无法打开播放设备（" + status + "）（VM-11）");
    expectClean("output start");

    world.audio.fail(microphoneID, sim::anySelector, AudioOperation::startDevice, AudioStatuses::badDevice);
    EXPECT_EQ(creationError(create), "无法读取设备（" + status + "）（VM-11）");
    expectClean("input start, after the output started");

    world.audio.fail(microphoneID, sim::anySelector, AudioOperation::createIOProc, AudioStatuses::ok);
    EXPECT_EQ(creationError(create), "无法读取设备（VM-11）") << "accepted without a procedure";
    expectClean("no procedure");

    // Reads of the buffer sizes and offsets are optional; writes may fail.
    world.audio.store(microphoneID, {"fsiz"_fcc}, std::uint32_t{256});
    world.audio.fail(virtualDeviceID, "fsiz"_fcc, AudioOperation::getPropertyData, AudioStatuses::badDevice);
    world.audio.fail(microphoneID, "saft"_fcc, AudioOperation::getPropertyData, AudioStatuses::badDevice);
    {
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
        EXPECT_EQ(world.number(microphoneID, {"fsiz"_fcc}), 256U) << "nothing copied";
        EXPECT_EQ(forwarder.outputTiming().bufferFrames, 0U);
        EXPECT_EQ(forwarder.distance(), 256);
    }
    world.audio.clearFailures();
    world.audio.fail(microphoneID, "fsiz"_fcc, AudioOperation::setPropertyData, AudioStatuses::badDevice);
    {
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
        EXPECT_EQ(forwarder.distance(), 256 + 512);
    }
    expectClean("optional reads");
}

TEST(DeviceForwarder, DirectRoutePlaysSilenceFirstThenSettlesAtItsDistance)
{
    ForwardingWorld world;
    world.audio.setInputSignal(microphoneID, [](std::uint32_t, double t) { return timeCode(t); });
    DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);

    // The output's first cycle comes before any input.
    ASSERT_EQ(world.audio.runIOCycle(virtualDeviceID), AudioStatuses::ok);
    EXPECT_EQ(world.audio.output(virtualDeviceID, 0), std::vector<float>(512, 0.0f));
    EXPECT_FALSE(forwarder.errorValid()) << "nothing measured before input";
    EXPECT_FALSE(forwarder.head().offset.has_value());

    world.audio.runIOUntil(2.0);
    const auto left = world.audio.output(virtualDeviceID, 0);
    const auto right = world.audio.output(virtualDeviceID, 1);
    ASSERT_GT(left.size(), 48000U);
    std::size_t first = 0;
    while (first < left.size() && left[first] == 0.0f) {
        ++first;
    }
    ASSERT_LT(first, left.size());
    int gaps = 0;
    for (std::size_t i = first + 1; i < left.size(); ++i) {
        gaps += decodeTime(left[i]) != decodeTime(left[i - 1]) + 1 ? 1 : 0;
    }
    EXPECT_EQ(gaps, 0) << "every captured frame plays once, in order";
    EXPECT_EQ(right, left) << "a mono microphone fills both channels";
    EXPECT_EQ(forwarder.head().resyncs, 0);

    // The newest captured frame is `distance` frames ahead of the start of
    // the last read, give or take the cycle that may be in between.
    const std::int64_t readStart = decodeTime(left.back()) - 511;
    const std::int64_t lag = forwarder.ring().end() - readStart;
    EXPECT_GE(lag, 1024 - 512);
    EXPECT_LE(lag, 1024 + 512);
    EXPECT_TRUE(forwarder.errorValid());
    const double settled = forwarder.errorFrames();
    world.audio.runIOUntil(3.0);
    EXPECT_NEAR(forwarder.errorFrames(), settled, 1.0) << "same clocks: the error stays put";
}

TEST(DeviceForwarder, DirectRouteReplaysTheLastHeldFramesAfterInputStops)
{
    ForwardingWorld world;
    world.audio.setInputSignal(microphoneID, [](std::uint32_t, double t) { return timeCode(t); });
    DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
    world.audio.runIOUntil(1.0);
    const std::int64_t end = forwarder.ring().end();
    world.audio.clearOutput(virtualDeviceID);

    // The microphone stops delivering; the output keeps running.
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(world.audio.runIOCycle(virtualDeviceID), AudioStatuses::ok);
    }
    const auto left = world.audio.output(virtualDeviceID, 0);
    int outsideHeldTail = 0;
    for (float sample : left) {
        const std::int64_t t = decodeTime(sample);
        outsideHeldTail += (t < end - 1024 || t >= end) ? 1 : 0;
    }
    EXPECT_EQ(outsideHeldTail, 0) << "only the last 1024 held frames play, never silence";
    EXPECT_GE(forwarder.head().resyncs, 9);
    EXPECT_LE(forwarder.head().resyncs, 11);
    for (std::size_t cycle = 0; cycle < left.size(); cycle += 512) {
        const std::int64_t start = decodeTime(left[cycle]);
        EXPECT_TRUE(start == end - 1024 || start == end - 512) << "cycle " << cycle / 512 << " starts at " << start;
    }
}

TEST(DeviceForwarder, ChannelsAreSpreadOverTheDevicesBuffers)
{
    ForwardingWorld world;
    auto lastFrame = [&](AudioObjectId output, std::uint32_t channels) {
        std::vector<float> values;
        for (std::uint32_t c = 0; c < channels; ++c) {
            values.push_back(world.audio.output(output, c).back());
        }
        return values;
    };
    // Two mono input buffers: left from the first, right from the second.
    world.audio.store(microphoneID, {"slay"_fcc, AudioScope::input}, AudioBufferLayout{{1, 1}});
    world.audio.setInputSignal(microphoneID, [](std::uint32_t channel, double) { return channel == 0 ? 0.5f : 0.25f; });
    {
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
        world.audio.runIOUntil(0.2);
        EXPECT_EQ(lastFrame(virtualDeviceID, 2), (std::vector<float>{0.5f, 0.25f}));
    }
    // One mono output buffer takes the average.
    world.audio.store(headphonesID, {"slay"_fcc, AudioScope::output}, AudioBufferLayout{{1}});
    {
        DeviceForwarder forwarder(microphoneID, headphonesID, false);
        world.audio.runIOUntil(0.4);
        EXPECT_EQ(lastFrame(headphonesID, 1), (std::vector<float>{0.375f}));
    }
    // Separate buffers take left, right and silence; one wide buffer takes
    // left and right in its first two channels.
    world.audio.store(headphonesID, {"slay"_fcc, AudioScope::output}, AudioBufferLayout{{1, 1, 1}});
    world.audio.clearOutput(headphonesID);
    {
        DeviceForwarder forwarder(microphoneID, headphonesID, false);
        world.audio.runIOUntil(0.6);
        EXPECT_EQ(lastFrame(headphonesID, 3), (std::vector<float>{0.5f, 0.25f, 0.0f}));
    }
    world.audio.store(headphonesID, {"slay"_fcc, AudioScope::output}, AudioBufferLayout{{4}});
    world.audio.clearOutput(headphonesID);
    {
        DeviceForwarder forwarder(microphoneID, headphonesID, false);
        world.audio.runIOUntil(0.8);
        EXPECT_EQ(lastFrame(headphonesID, 4), (std::vector<float>{0.5f, 0.25f, 0.0f, 0.0f}));
    }
}

TEST(DeviceForwarder, OutputCyclesRenderAtMost4096Frames)
{
    ForwardingWorld world;
    DeviceForwarder forwarder(microphoneID, virtualDeviceID, false);
    std::vector<float> captured(8192, 0.5f);
    const AudioIOBuffer in{1, static_cast<std::uint32_t>(captured.size() * 4), captured.data()};
    DeviceForwarder::inputProc(microphoneID, {}, {&in, 1}, stamp(0, 0), {}, {}, &forwarder);

    std::vector<float> played(2 * 5000, 9.0f);
    AudioIOBuffer out{2, static_cast<std::uint32_t>(played.size() * 4), played.data()};
    DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(20000, 0), &forwarder);
    // The read starts 1024 behind the newest frame: 1024 held frames, then silence.
    EXPECT_EQ(played[2 * 1023], 0.5f);
    EXPECT_EQ(played[2 * 1024], 0.0f);
    EXPECT_EQ(played[2 * 4095], 0.0f);
    EXPECT_EQ(played[2 * 4096], 9.0f) << "frames past 4096 are left alone";
    EXPECT_EQ(played.back(), 9.0f);
}

TEST(DeviceForwarder, TimingErrorIsMeasuredOnlyAgainstValidHostTimes)
{
    ForwardingWorld world;
    const double ticksPerFrame = 1e9 / 48000;
    std::vector<float> captured(512, 0.5f);
    const AudioIOBuffer in{1, 512 * 4, captured.data()};
    std::vector<float> played(2 * 512);
    AudioIOBuffer out{2, 512 * 8, played.data()};
    const std::uint64_t base = 1'000'000'000;

    for (bool resample : {false, true}) {
        SCOPED_TRACE(resample ? "resample" : "direct");
        DeviceForwarder forwarder(microphoneID, virtualDeviceID, resample);
        // Before any input: silence, nothing measured, nothing placed.
        std::fill(played.begin(), played.end(), 9.0f);
        DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(4000, base), &forwarder);
        EXPECT_EQ(played, std::vector<float>(2 * 512, 0.0f));
        EXPECT_FALSE(forwarder.errorValid());
        EXPECT_FALSE(forwarder.cursor().has_value());
        EXPECT_FALSE(forwarder.head().offset.has_value());
        // Input without a host time publishes no anchor: nothing to measure against.
        DeviceForwarder::inputProc(microphoneID, {}, {&in, 1}, stamp(0, base, false), {}, {}, &forwarder);
        DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(5000, base), &forwarder);
        EXPECT_FALSE(forwarder.errorValid());

        // Input 512...1023 captured at host `base`; the output asks 1536 input frames later.
        DeviceForwarder::inputProc(microphoneID, {}, {&in, 1}, stamp(512, base), {}, {}, &forwarder);
        const auto later = base + static_cast<std::uint64_t>(1536 * ticksPerFrame);
        DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(5512, later, false), &forwarder);
        EXPECT_FALSE(forwarder.errorValid()) << "an output time without a host time measures nothing";
        // The resampler measures from where its next pull starts.
        const auto cursor = forwarder.cursor();
        DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(6024, later), &forwarder);
        ASSERT_TRUE(forwarder.errorValid());
        const double measured = forwarder.errorFrames();
        const std::int64_t readPosition = resample ? *cursor : 6024 + *forwarder.head().offset;
        if (!resample) {
            // Placed 1024 behind the end (1024) on the first read, then moved with the output by 512.
            EXPECT_EQ(readPosition, 512);
        }
        EXPECT_NEAR(measured, 512 + 1536 - static_cast<double>(readPosition) - 1024, 1e-3);
        DeviceForwarder::outputProc(virtualDeviceID, {}, {}, {}, {&out, 1}, stamp(6536, later + 1000000, false),
                                    &forwarder);
        EXPECT_EQ(forwarder.errorFrames(), measured) << "left unchanged without a host time";
    }
}

TEST(DeviceForwarder, Resamples44100To48000WithoutDrift)
{
    ForwardingWorld world;
    world.audio.setInputSignal(slowMicrophoneID, [](std::uint32_t, double t) {
        return static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * t / 44100.0));
    });
    DeviceForwarder forwarder(slowMicrophoneID, virtualDeviceID, false);
    world.audio.runIOUntil(1.0);
    const std::int64_t lagAt1 = forwarder.ring().end() - *forwarder.cursor();
    world.audio.runIOUntil(2.0);
    const std::int64_t lagAt2 = forwarder.ring().end() - *forwarder.cursor();

    const auto left = world.audio.output(virtualDeviceID, 0);
    EXPECT_NEAR(pitch(left, 48000, 48000.0), 1000.0, 2.0) << "the tone keeps its pitch at the new rate";
    float peak = 0;
    for (std::size_t i = 48000; i < left.size(); ++i) {
        peak = std::max(peak, std::abs(left[i]));
    }
    EXPECT_NEAR(peak, 0.5f, 0.02f);
    EXPECT_NEAR(static_cast<double>(lagAt2), static_cast<double>(lagAt1), 512.0) << "the reader keeps its place";
    EXPECT_GE(lagAt2, 0);
    EXPECT_LE(lagAt2, 2 * forwarder.distance());
}
