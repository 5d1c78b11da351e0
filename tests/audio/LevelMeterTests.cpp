#include "audio/AudioMeters.h"
#include "audio/InputLevelTap.h"
#include "audio/VirtualMicProbe.h"

#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimQueueRecorder.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace parlaro {
namespace {

using sim::AudioOperation;

constexpr AudioObjectId micID = 20;
constexpr AudioObjectId virtualID = 21;
constexpr AudioStatus paramErr = -50;

sim::SimDevice input(AudioObjectId id, std::string uid, std::uint32_t channels)
{
    return test::simDevice(id, std::move(uid)).named("Input").input({channels});
}

AudioDevice deviceInfo(AudioObjectId id, std::string uid, std::int64_t inputChannels)
{
    return AudioDevice{id, "Input", std::move(uid), inputChannels, 0, 0, 0};
}

class LevelMeterTest : public ::testing::Test {
protected:
    LevelMeterTest()
    {
        audio.addDevice(input(micID, "mic-uid", 1));
        audio.addDevice(input(virtualID, "virtual-uid", 2));
        setLevel(micID, 0.0f);
        setLevel(virtualID, 0.0f);
    }

    void setLevel(AudioObjectId device, float level)
    {
        audio.setInputSignal(device, [level](std::uint32_t, double) { return level; });
    }

    // One meter tick: the devices deliver, then 0.05 s pass.
    void tick()
    {
        audio.runInputQueues();
        runtime.advance(AudioMeters::pollInterval);
    }

    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    sim::SimQueueRecorder queues{audio};
};

TEST_F(LevelMeterTest, TapStartFailuresNameTheStepAndLeaveNothingOpen)
{
    struct Case {
        AudioSelector selector;
        AudioOperation operation;
        AudioStatus status;
        std::string text;
    };
    const std::vector<Case> cases{
        {sim::anySelector, AudioOperation::newQueue, paramErr, "打开声音输入失败（-50）"},
        {sim::anySelector, AudioOperation::newQueue, 0, "无法打开声音输入"},
        {"aqcd"_fcc, AudioOperation::queueSetProperty, paramErr, "选择声音输入失败（-50）"},
        {sim::anySelector, AudioOperation::queueAllocateBuffer, paramErr, "准备输入缓冲失败（-50）"},
        {sim::anySelector, AudioOperation::queueEnqueueBuffer, paramErr, "准备输入缓冲失败（-50）"},
        {sim::anySelector, AudioOperation::queueStart, paramErr, "启动声音输入失败（-50）"},
    };
    InputLevelTap tap;
    for (const auto& c : cases) {
        audio.fail(sim::anyObject, c.selector, c.operation, c.status, 1);
        try {
            tap.start("mic-uid", 1);
            ADD_FAILURE() << "no failure for " << c.text;
        } catch (const DomainError& error) {
            EXPECT_EQ(error.domain(), "LevelMeter");
            EXPECT_EQ(error.code(), 1);
            EXPECT_EQ(error.localizedDescription(), c.text);
        }
        EXPECT_FALSE(tap.deviceUID().has_value());
        EXPECT_FALSE(tap.hasQueue());
        EXPECT_TRUE(queues.allDisposed()) << c.text;
        audio.clearFailures();
    }

    tap.start("mic-uid", 1);
    ASSERT_EQ(queues.made().size(), 5u);
    const auto queue = queues.made().back();
    EXPECT_EQ(queue->deviceUID(), "mic-uid");
    EXPECT_EQ(queue->format().sampleRate, 48000);
    EXPECT_EQ(queue->format().channelsPerFrame, 1u);
    EXPECT_EQ(queue->format().bytesPerFrame, 4u);
    EXPECT_EQ(queue->allocatedBuffers(), 3u);
    EXPECT_EQ(tap.deviceKey(), "mic-uid");
    tap.stop();
    tap.stop();
    EXPECT_TRUE(queues.allDisposed());
    EXPECT_FALSE(tap.deviceUID().has_value());
}

TEST_F(LevelMeterTest, TapKeepsItsPeakAndRecordsALimitedStretch)
{
    InputLevelTap tap;
    tap.start("virtual-uid", 6, "virtual-uid#21");
    EXPECT_EQ(tap.channels(), 2u);
    EXPECT_EQ(tap.deviceKey(), "virtual-uid#21");

    setLevel(virtualID, -0.5f);
    EXPECT_EQ(audio.runInputQueues(), 3u);
    EXPECT_FLOAT_EQ(tap.takePeak(), 0.5f);
    EXPECT_EQ(tap.takePeak(), 0.0f);

    // Not recording: nothing kept, and finishing gives an empty list.
    EXPECT_TRUE(tap.finishRecording().samples.empty());

    // 8 s on two channels keeps at most 8 x 48000 x 2 samples.
    tap.beginRecording(8.0);
    for (int i = 0; i < 130; ++i) {
        audio.runInputQueues();
    }
    auto recording = tap.takeRecording();
    EXPECT_EQ(recording.samples.size(), 8u * 48000 * 2);
    EXPECT_EQ(recording.channels, 2u);
    EXPECT_EQ(recording.sampleRate, 48000);
    EXPECT_TRUE(tap.takeRecording().samples.empty());

    // On one channel the same length keeps half as many.
    InputLevelTap mono;
    mono.start("mic-uid", 1);
    mono.beginRecording(8.0);
    for (int i = 0; i < 130; ++i) {
        audio.runInputQueues();
    }
    auto monoRecording = mono.finishRecording();
    EXPECT_EQ(monoRecording.samples.size(), 8u * 48000);
    EXPECT_EQ(monoRecording.channels, 1u);
    mono.stop();

    // Lengths that make no sense record nothing or at most a minute.
    for (double seconds : {-3.0, std::nan(""), 0.0}) {
        tap.beginRecording(seconds);
        audio.runInputQueues();
        EXPECT_TRUE(tap.finishRecording().samples.empty()) << seconds;
    }
    for (double seconds : {1e300, std::numeric_limits<double>::infinity()}) {
        EXPECT_NO_THROW(tap.beginRecording(seconds));
        audio.runInputQueues();
        EXPECT_EQ(tap.finishRecording().samples.size(), 3u * 1024 * 2);
    }

    // Stopping drops a recording under way.
    tap.beginRecording(1.0);
    audio.runInputQueues();
    tap.stop();
    EXPECT_TRUE(tap.finishRecording().samples.empty());
}

TEST_F(LevelMeterTest, RecordingsBecomeDeinterleavedBuffers)
{
    const std::vector<float> samples{0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    auto stereo = InputLevelTap::makeBuffers(samples, 48000, 2);
    ASSERT_EQ(stereo.size(), 1u);
    EXPECT_EQ(stereo[0].frameLength(), 2u);
    EXPECT_EQ(
        stereo[0].format(),
        (AudioFormat{.sampleRate = 48000, .channelCount = 2, .sampleType = SampleType::float32, .interleaved = false}));
    EXPECT_FLOAT_EQ(stereo[0].floatChannelData(0)[1], 0.3f);
    EXPECT_FLOAT_EQ(stereo[0].floatChannelData(1)[1], 0.4f);

    // Zero channels count as one.
    auto mono = InputLevelTap::recordingBuffer(samples, 0, 48000);
    ASSERT_TRUE(mono.has_value());
    EXPECT_EQ(mono->format().channelCount, 1u);
    EXPECT_EQ(mono->frameLength(), 5u);

    EXPECT_FALSE(InputLevelTap::recordingBuffer({0.1f}, 2, 48000).has_value());
    EXPECT_FALSE(InputLevelTap::recordingBuffer(samples, 1, 0).has_value());
    EXPECT_TRUE(InputLevelTap::makeBuffers({}, 48000, 1).empty());

    VirtualMicProbe probe;
    EXPECT_FALSE(probe.tap->deviceUID().has_value());
}

TEST_F(LevelMeterTest, MetersRiseAtOnceAndFallInSteps)
{
    EXPECT_EQ(AudioMeters::nextLevel(0.0f, 0.0f), 0.0f);
    EXPECT_EQ(AudioMeters::nextLevel(0.0f, 1.0f), 1.0f);
    EXPECT_EQ(AudioMeters::nextLevel(0.0f, 0.001f), 0.0f);
    EXPECT_NEAR(AudioMeters::nextLevel(0.0f, 0.01f), 1.0f / 3.0f, 1e-6);
    EXPECT_FLOAT_EQ(AudioMeters::nextLevel(1.0f, 0.0f), 0.925f);
    // A move under 0.004 is not shown, but the fall to silence is.
    EXPECT_EQ(AudioMeters::nextLevel(0.5f, std::pow(10.0f, (0.503f * 60 - 60) / 20)), 0.5f);
    EXPECT_EQ(AudioMeters::nextLevel(0.002f, 0.0f), 0.0f);

    auto meters = std::make_shared<AudioMeters>();
    int micChanges = 0;
    auto subscription = meters->micLevel.subscribe([&] { ++micChanges; });
    setLevel(micID, 1.0f);
    meters->update(deviceInfo(micID, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_TRUE(meters->isPolling());
    runtime.runUntilIdle();  // the first poll, before any input
    tick();
    EXPECT_EQ(meters->micLevel(), 1.0f);
    EXPECT_EQ(meters->virtualLevel(), 0.0f);

    setLevel(micID, 0.0f);
    std::vector<float> levels;
    for (int i = 0; i < 3; ++i) {
        tick();
        levels.push_back(meters->micLevel());
    }
    EXPECT_NEAR(levels[0], 0.925f, 1e-5);
    EXPECT_NEAR(levels[1], 0.85f, 1e-5);
    EXPECT_NEAR(levels[2], 0.775f, 1e-5);
    EXPECT_EQ(micChanges, 4);

    meters->stop();
    EXPECT_FALSE(meters->isPolling());
    EXPECT_EQ(meters->micLevel(), 0.0f);
    EXPECT_FALSE(meters->micDevice().has_value());
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(LevelMeterTest, MetersKeepTheirTapsAndRestartThemWhenNeeded)
{
    auto meters = std::make_shared<AudioMeters>();
    meters->update(deviceInfo(micID, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    ASSERT_EQ(queues.made().size(), 2u);

    // The same devices again: nothing restarts.
    meters->update(deviceInfo(micID, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_EQ(queues.made().size(), 2u);

    // The same UID under a new id is another configuration.
    meters->update(deviceInfo(micID + 100, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    ASSERT_EQ(queues.made().size(), 3u);
    EXPECT_TRUE(queues.made()[0]->isDisposed());
    EXPECT_EQ(meters->micTap->deviceKey(), "mic-uid#120");

    // A queue that stops under the tap is restarted at the next
    // once-a-second check (the 20th poll since the tap started).
    runtime.runUntilIdle();
    queues.made()[2]->simulateStop();
    for (int i = 0; i < 18; ++i) {
        tick();
    }
    EXPECT_EQ(queues.made().size(), 3u);
    tick();
    ASSERT_EQ(queues.made().size(), 4u);
    EXPECT_TRUE(queues.made()[2]->isDisposed());
    EXPECT_TRUE(queues.made()[3]->isRunning());

    // Without an input channel or a UID a tap just stops.
    meters->update(deviceInfo(micID, "mic-uid", 0), deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_FALSE(meters->micTap->deviceUID().has_value());
    EXPECT_TRUE(meters->isPolling());
    EXPECT_EQ(meters->micError(), std::nullopt);
}

TEST_F(LevelMeterTest, AMicrophoneThatFailsIsReportedRetriedAndStopsTheMetersWhenAlone)
{
    auto meters = std::make_shared<AudioMeters>();
    audio.fail(sim::anyObject, sim::anySelector, AudioOperation::queueStart, paramErr, 1);
    meters->update(deviceInfo(micID, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_EQ(meters->micError(), "启动声音输入失败（-50）");
    EXPECT_FALSE(meters->micTap->deviceUID().has_value());
    EXPECT_TRUE(meters->isPolling());
    runtime.runUntilIdle();

    // The virtual tap keeps the meters polling; the health check retries
    // the microphone, and the error goes once it starts.
    for (int i = 0; i < 18; ++i) {
        tick();
    }
    EXPECT_EQ(meters->micError(), "启动声音输入失败（-50）");
    tick();
    EXPECT_EQ(meters->micError(), std::nullopt);
    EXPECT_EQ(meters->micTap->deviceUID(), "mic-uid");

    // Neither tap can start: the meters stop altogether but keep the text.
    meters->stop();
    audio.fail(sim::anyObject, sim::anySelector, AudioOperation::newQueue, paramErr);
    setLevel(micID, 1.0f);
    meters->update(deviceInfo(micID, "mic-uid", 1), deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_EQ(meters->micError(), "打开声音输入失败（-50）");
    EXPECT_FALSE(meters->isPolling());
    EXPECT_FALSE(meters->micDevice().has_value());
    EXPECT_FALSE(meters->virtualDevice().has_value());
    EXPECT_EQ(meters->micLevel(), 0.0f);
    EXPECT_TRUE(queues.allDisposed());

    // A virtual device failure is never shown.
    audio.clearFailures();
    audio.fail(sim::anyObject, "aqcd"_fcc, AudioOperation::queueSetProperty, paramErr, 1);
    meters->update(std::nullopt, deviceInfo(virtualID, "virtual-uid", 2));
    EXPECT_EQ(meters->micError(), std::nullopt);
    EXPECT_FALSE(meters->isPolling());
}

}  // namespace
}  // namespace parlaro
