#include "audio/DevicePlayer.h"
#include "support/Outcome.h"

#include "audio/AudioDevices.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimQueueRecorder.h"
#include "runtime/ManualRuntime.h"
#include "speech/ModuleError.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace parlaro {
namespace {

using sim::AudioOperation;

constexpr AudioObjectId speakers = 10;
constexpr AudioObjectId virtualMic = 11;
constexpr AudioObjectId injection = 12;
constexpr AudioObjectId loopback = 13;
constexpr AudioStatus paramErr = -50;

std::vector<PcmBuffer> tone(double seconds, double rate = 22050, std::uint32_t channels = 1,
                            double bufferSeconds = 0.25)
{
    std::vector<PcmBuffer> buffers;
    const auto total = static_cast<std::size_t>(std::llround(seconds * rate));
    const auto step = static_cast<std::size_t>(std::llround(bufferSeconds * rate));
    for (std::size_t start = 0; start < total; start += step) {
        const std::size_t frames = std::min(step, total - start);
        PcmBuffer buffer({.sampleRate = rate, .channelCount = channels}, frames);
        buffer.setFrameLength(frames);
        for (std::size_t f = 0; f < frames; ++f) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                buffer.floatChannelData(c)[f] =
                    float((c + 1) * 0.25 * std::sin(2 * std::numbers::pi * 440 * double(start + f) / rate));
            }
        }
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

constexpr std::uint32_t builtIn = "bltn"_fcc;

sim::SimDevice output(AudioObjectId id, std::string uid, std::uint32_t transport = builtIn)
{
    return test::simDevice(id, std::move(uid)).named("Device").output({2}).transport(transport);
}

// What a play ended with, and when.
using test::Outcome;

class DevicePlayerTest : public ::testing::Test {
protected:
    DevicePlayerTest()
    {
        audio.addDevice(output(speakers, "speakers-uid"));
        audio.addDevice(output(virtualMic, virtualMicUID, "virt"_fcc));
        audio.addDevice(output(injection, injectionUID));
        audio.addDevice(output(loopback, "loopback-uid", "virt"_fcc));
    }

    std::shared_ptr<Outcome> play(
        AudioObjectId device, std::vector<PcmBuffer> buffers, DevicePlayer::CurrentCheck check = [] { return true; })
    {
        auto player = players[device];
        if (!player) {
            player = players[device] = std::make_shared<DevicePlayer>(device, farEnd);
        }
        auto [outcome, task] =
            test::track([player, buffers = std::move(buffers), check] { return player->play(buffers, check); });
        handle = task;
        return outcome;
    }

    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    sim::SimQueueRecorder queues{audio};
    std::shared_ptr<FarEndActivity> farEnd = std::make_shared<FarEndActivity>();
    std::map<AudioObjectId, std::shared_ptr<DevicePlayer>> players;
    rt::TaskHandle<> handle;
};

TEST_F(DevicePlayerTest, PlaysOnTheChosenDeviceAndRecordsSpansOnlyForRealDevices)
{
    auto buffers = tone(1.0, 22050, 2);
    auto outcome = play(speakers, buffers);
    runtime.runUntilIdle();
    auto made = queues.made();
    ASSERT_EQ(made.size(), 1u);
    auto queue = made.front();
    EXPECT_EQ(queue->deviceUID(), "speakers-uid");
    EXPECT_EQ(queue->format().sampleRate, 22050);
    EXPECT_EQ(queue->format().channelsPerFrame, 2u);
    EXPECT_EQ(queue->format().bytesPerFrame, 8u);
    EXPECT_EQ(queue->format().formatFlags, AudioStreamDescription::flagFloat | AudioStreamDescription::flagPacked);

    runtime.advance(0.99);
    EXPECT_FALSE(outcome->finished);
    runtime.advance(0.03);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->error, "");
    EXPECT_GE(outcome->at, 1.0);
    EXPECT_TRUE(queue->isDisposed());

    // One queue buffer per rendered buffer, interleaved.
    const auto played = queue->playedSamples();
    ASSERT_EQ(played.size(), 22050u * 2);
    EXPECT_EQ(played[2 * 1000], buffers[0].floatChannelData(0)[1000]);
    EXPECT_EQ(played[2 * 1000 + 1], buffers[0].floatChannelData(1)[1000]);

    // 1 s in 0.01 s windows, placed where the queue started on the host clock.
    const auto spans = farEnd->spans(-1.0);
    ASSERT_EQ(spans.size(), 100u);
    EXPECT_NEAR(spans.front().start, 0.0, 1e-9);
    EXPECT_NEAR(spans.back().end, 1.0, 1e-6);
    EXPECT_GT(spans.front().levelDB, -20.0);

    // Neither the virtual microphone, its companion nor any virtual device
    // feeds the echo record.
    for (AudioObjectId device : {virtualMic, injection, loopback}) {
        auto other = play(device, tone(0.5));
        runtime.advance(1.0);
        EXPECT_TRUE(other->finished);
        EXPECT_EQ(other->error, "");
    }
    EXPECT_EQ(farEnd->spans(-1.0).size(), 100u);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, EachFailingQueueStepReportsItsStatusAndDisposesTheQueue)
{
    struct Case {
        AudioSelector selector;
        AudioOperation operation;
        AudioStatus status;
        std::string text;
    };
    const std::vector<Case> cases{
        {sim::anySelector, AudioOperation::newQueue, paramErr, "创建播放通道失败（-50）（TTS-4）"},
        {sim::anySelector, AudioOperation::newQueue, 0, "无法创建播放通道（TTS-4）"},
        {"aqcd"_fcc, AudioOperation::queueSetProperty, paramErr, "选择播放设备失败（-50）（TTS-4）"},
        {"aqcd"_fcc, AudioOperation::queueGetProperty, paramErr, "确认播放设备失败（-50）（TTS-4）"},
        {"aqcd"_fcc, AudioOperation::queueGetProperty, 0, "播放设备与所选设备不一致（TTS-4）"},
        {sim::anySelector, AudioOperation::queueAllocateBuffer, paramErr, "准备语音缓冲失败（-50）（TTS-4）"},
        {sim::anySelector, AudioOperation::queueAllocateBuffer, 0, "无法准备语音缓冲（TTS-4）"},
        {sim::anySelector, AudioOperation::queueEnqueueBuffer, paramErr, "加入播放队列失败（-50）（TTS-4）"},
        {sim::anySelector, AudioOperation::queueStart, paramErr, "启动播放失败（-50）（TTS-4）"},
        {sim::anySelector, AudioOperation::queueStop, "what"_fcc, "完成播放队列失败（2003329396）（TTS-4）"},
        {"aqrn"_fcc, AudioOperation::queueGetProperty, paramErr, "检查播放状态失败（-50）（TTS-4）"},
    };
    for (const auto& c : cases) {
        audio.fail(sim::anyObject, c.selector, c.operation, c.status, 1);
        auto outcome = play(speakers, tone(0.5));
        runtime.advance(2.0);
        ASSERT_TRUE(outcome->finished) << c.text;
        EXPECT_EQ(outcome->error, c.text);
        EXPECT_TRUE(queues.allDisposed()) << c.text;
        audio.clearFailures();
    }
    // Every failure after the queue existed still clipped the echo record
    // and nothing is left running.
    for (const auto& queue : queues.made()) {
        EXPECT_FALSE(queue->isRunning());
    }
}

TEST_F(DevicePlayerTest, RefusesGoneDevicesMixedFormatsAndSilenceWithoutLeavingQueues)
{
    auto gone = play(99, tone(0.5));
    runtime.runUntilIdle();
    EXPECT_EQ(gone->error, "播放设备已断开（TTS-2）");

    audio.addDevice(output(20, ""));
    auto noUID = play(20, tone(0.5));
    runtime.runUntilIdle();
    EXPECT_EQ(noUID->error, "播放设备已断开（TTS-2）");

    // Nothing to play at all returns at once without a queue.
    auto empty = play(speakers, {});
    runtime.runUntilIdle();
    EXPECT_TRUE(empty->finished);
    EXPECT_EQ(empty->error, "");
    EXPECT_TRUE(queues.made().empty());

    std::vector<PcmBuffer> zeros;
    zeros.emplace_back(AudioFormat{.sampleRate = 22050, .channelCount = 1}, 16);
    zeros.emplace_back(AudioFormat{.sampleRate = 22050, .channelCount = 1}, 0);
    auto silent = play(speakers, zeros);
    runtime.runUntilIdle();
    EXPECT_EQ(silent->error, "没有可播放的语音（TTS-4）");

    auto mixed = tone(0.5);
    auto other = tone(0.25, 44100);
    mixed.push_back(std::move(other.front()));
    auto mixedRate = play(speakers, mixed);
    runtime.runUntilIdle();
    EXPECT_EQ(mixedRate->error, "语音音频格式不一致（TTS-4）");

    auto interleaved = tone(0.5);
    PcmBuffer packed({.sampleRate = 22050, .channelCount = 1, .interleaved = true}, 10);
    packed.setFrameLength(10);
    interleaved.push_back(std::move(packed));
    auto packedFormat = play(speakers, interleaved);
    runtime.runUntilIdle();
    EXPECT_EQ(packedFormat->error, "语音音频格式不一致（TTS-4）");

    // A check that says no stops the play before anything happens.
    auto stale = play(speakers, tone(0.5), [] { return false; });
    runtime.runUntilIdle();
    EXPECT_TRUE(stale->cancelled);

    EXPECT_EQ(queues.made().size(), 3u);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, PlaybackThatNeverFinishesFailsAtItsLengthPlusEightSeconds)
{
    audio.setQueuesStalled(true);
    runtime.advance(5.0);
    auto outcome = play(speakers, tone(3.0));
    runtime.advance(10.999);
    EXPECT_FALSE(outcome->finished);
    runtime.advance(0.01);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->error, "语音播放超时，请重试（TTS-4）");
    EXPECT_DOUBLE_EQ(outcome->at, 5.0 + 3.0 + 8.0);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, StopOrCancelDuringTheWaitEndsWithCancellationAndClipsTheEchoRecord)
{
    auto outcome = play(speakers, tone(3.0));
    runtime.advance(1.0);
    players[speakers]->stop();
    EXPECT_TRUE(players[speakers]->isStopped());
    runtime.advance(0.05);
    ASSERT_TRUE(outcome->finished);
    EXPECT_TRUE(outcome->cancelled);
    EXPECT_TRUE(queues.allDisposed());
    for (const auto& span : farEnd->spans(-1.0)) {
        EXPECT_LE(span.end, 1.0 + 1e-9);
    }

    // The next play clears the stop; cancelling its task ends it the same way.
    auto next = play(speakers, tone(3.0));
    runtime.advance(0.5);
    EXPECT_FALSE(players[speakers]->isStopped());
    handle.cancel();
    runtime.advance(0.05);
    ASSERT_TRUE(next->finished);
    EXPECT_TRUE(next->cancelled);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, OverlappingPlaysOnOnePlayerEachDisposeOnlyTheirOwnQueue)
{
    auto first = play(speakers, tone(1.0));
    runtime.advance(0.5);
    auto second = play(speakers, tone(2.0));
    runtime.runUntilIdle();
    auto made = queues.made();
    ASSERT_EQ(made.size(), 2u);

    // The first ends on its own and leaves the later queue playing.
    runtime.advance(0.55);
    ASSERT_TRUE(first->finished);
    EXPECT_EQ(first->error, "");
    EXPECT_TRUE(made[0]->isDisposed());
    EXPECT_FALSE(made[1]->isDisposed());
    EXPECT_TRUE(made[1]->isRunning());

    // A stop still reaches the queue that plays now.
    players[speakers]->stop();
    EXPECT_FALSE(made[1]->isRunning());
    runtime.advance(0.05);
    ASSERT_TRUE(second->finished);
    EXPECT_TRUE(second->cancelled);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, AStopEndsThePlaysItWasMeantForEvenWhenAnotherBeginsAtOnce)
{
    // The next play (a new sentence, or the hear test's recording) starts
    // on the same player before the stopped one looks again.
    auto stopped = play(speakers, tone(3.0));
    runtime.advance(1.0);
    players[speakers]->stop();
    auto next = play(speakers, tone(1.0));
    runtime.advance(0.05);
    ASSERT_TRUE(stopped->finished);
    EXPECT_TRUE(stopped->cancelled);
    EXPECT_EQ(stopped->error, "");
    EXPECT_FALSE(players[speakers]->isStopped());

    // The play that began after the stop is not touched by it.
    runtime.advance(1.0);
    ASSERT_TRUE(next->finished);
    EXPECT_EQ(next->error, "");
    EXPECT_FALSE(next->cancelled);
    EXPECT_TRUE(queues.allDisposed());

    // One stop ends every play under way on the player, not only the newest.
    auto first = play(speakers, tone(2.0));
    runtime.advance(0.5);
    auto second = play(speakers, tone(2.0));
    runtime.advance(0.5);
    players[speakers]->stop();
    runtime.advance(0.05);
    ASSERT_TRUE(first->finished);
    ASSERT_TRUE(second->finished);
    EXPECT_TRUE(first->cancelled);
    EXPECT_TRUE(second->cancelled);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(DevicePlayerTest, QueueWithoutValidTimesStillCompletesWithoutAnEchoRecord)
{
    audio.setQueueTimeValid(false);
    auto outcome = play(speakers, tone(1.0));
    runtime.advance(1.1);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->error, "");
    EXPECT_TRUE(farEnd->spans(-1.0).empty());
    ASSERT_EQ(queues.made().size(), 1u);
    EXPECT_EQ(queues.made().front()->openTimelines(), 0u);
}

}  // namespace
}  // namespace parlaro
