#include "audio/Speaker.h"
#include "support/Outcome.h"

#include "audio/AudioDevices.h"
#include "audio/EchoGuard.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimQueueRecorder.h"
#include "platform/sim/SimSpeechSynthesizer.h"
#include "runtime/ManualRuntime.h"
#include "speech/Deadline.h"
#include "speech/ModuleError.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace parlaro {
namespace {

constexpr AudioObjectId headphones = 10;
constexpr AudioObjectId virtualMic = 11;

sim::SimDevice output(AudioObjectId id, std::string uid, std::uint32_t transport)
{
    return test::simDevice(id, std::move(uid)).named("Device").output({2}).transport(transport);
}

using test::Outcome;

class SpeakerTest : public ::testing::Test {
protected:
    SpeakerTest()
    {
        audio.addDevice(output(headphones, "headphones-uid", "usb "_fcc));
        audio.addDevice(output(virtualMic, virtualMicUID, "virt"_fcc));
        synthesizer.setVoices({
            {"voice.de", "Anna", "de-DE"},
            {"voice.gb", "Daniel", "en-GB"},
            {"voice.us", "Samantha", "en-US"},
        });
        // 20 characters at 0.05 s: one second of tone.
        synthesizer.setSecondsPerCharacter(0.05);
        speaker->setRate(0.46f);
    }

    std::shared_ptr<Outcome> speak(std::string text, std::vector<AudioObjectId> devices,
                                   std::optional<std::string> voice = std::nullopt)
    {
        auto [outcome, task] =
            test::track([speaker = speaker, text, devices, voice] { return speaker->speak(text, devices, voice); });
        handles.push_back(task);
        return outcome;
    }

    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    sim::SimQueueRecorder queues{audio};
    sim::SimSpeechSynthesizer synthesizer;
    std::shared_ptr<FarEndActivity> farEnd = std::make_shared<FarEndActivity>();
    std::shared_ptr<Speaker> speaker = std::make_shared<Speaker>(synthesizer, farEnd);
    std::vector<rt::TaskHandle<>> handles;
};

TEST_F(SpeakerTest, PlaysOnEveryDistinctDeviceAtOnceAndWaitsForAll)
{
    // The synthesizer hands out interleaved 16-bit audio, as some voices do.
    synthesizer.setFormat(
        {.sampleRate = 22050, .channelCount = 1, .sampleType = SampleType::int16, .interleaved = true});
    const std::string text = "twenty characters!!!";
    auto outcome = speak(text, {virtualMic, headphones, virtualMic}, "voice.gb");
    runtime.runUntilIdle();

    // Rendered once with the chosen voice, the speech rate and the pause.
    ASSERT_EQ(synthesizer.utterances().size(), 1u);
    const Utterance utterance = synthesizer.utterances().front();
    EXPECT_EQ(utterance.text, text);
    EXPECT_EQ(utterance.voice->identifier, "voice.gb");
    EXPECT_FLOAT_EQ(utterance.rate, 0.46f);
    EXPECT_DOUBLE_EQ(utterance.postUtteranceDelay, 0.1);

    // Both devices start together; the repeated one plays once.
    auto made = queues.made();
    ASSERT_EQ(made.size(), 2u);
    runtime.advance(0.5);
    EXPECT_TRUE(made[0]->isRunning());
    EXPECT_TRUE(made[1]->isRunning());
    EXPECT_EQ(made[0]->deviceUID(), virtualMicUID);
    EXPECT_EQ(made[1]->deviceUID(), "headphones-uid");

    runtime.advance(0.4);
    EXPECT_FALSE(outcome->finished);
    runtime.advance(0.2);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->error, "");
    EXPECT_TRUE(queues.allDisposed());
    // Rendered as deinterleaved float and played whole on both.
    const auto frames = static_cast<std::size_t>(std::llround(synthesizer.renderedSeconds(text) * 22050));
    EXPECT_EQ(made[0]->playedSamples().size(), frames);
    EXPECT_EQ(made[1]->playedSamples().size(), frames);
    EXPECT_EQ(made[0]->format().formatFlags, AudioStreamDescription::flagFloat | AudioStreamDescription::flagPacked);
    EXPECT_NEAR(made[0]->playedSamples()[100], 0.5f * std::sin(2 * std::numbers::pi * 440.0 * 100 / 22050), 1e-4);
    // Only the headphones feed the echo record.
    EXPECT_FALSE(farEnd->spans(-1.0).empty());

    // No device: render, then return without a queue.
    auto silent = speak("render only", {});
    runtime.advance(0.1);
    EXPECT_TRUE(silent->finished);
    EXPECT_EQ(silent->error, "");
    EXPECT_EQ(queues.made().size(), 2u);
}

TEST_F(SpeakerTest, HangingRenderTimesOutAtTwentySecondsWithoutCuttingALaterSpeakShort)
{
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::hang);
    auto hung = speak("never rendered", {headphones});
    runtime.advance(10.0);
    // A second speak starts while the first still waits; its render is slow.
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::speak);
    synthesizer.setRenderDelay(12.0);
    auto later = speak("twenty characters!!!", {headphones});

    runtime.advance(9.999);
    EXPECT_FALSE(hung->finished);
    runtime.advance(0.001);
    ASSERT_TRUE(hung->finished);
    EXPECT_EQ(hung->error, "生成翻译语音超时，请重试（TTS-3）");
    EXPECT_DOUBLE_EQ(hung->at, 20.0);
    // Only the timed-out render was stopped.
    EXPECT_EQ(synthesizer.stoppedRenders(), (std::vector<SpeechSynthesizer::RenderID>{1}));
    EXPECT_EQ(synthesizer.stopSpeakingCount(), 0u);
    EXPECT_TRUE(queues.made().empty());

    runtime.advance(2.0);  // rendered at 22 s
    EXPECT_FALSE(later->finished);
    runtime.advance(1.1);
    ASSERT_TRUE(later->finished);
    EXPECT_EQ(later->error, "");
    EXPECT_EQ(queues.made().size(), 1u);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(SpeakerTest, VoicesThatYieldNothingUnknownVoicesAndSynthesizerFailures)
{
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::silent);
    auto silent = speak("hello", {headphones});
    runtime.advance(0.1);
    EXPECT_EQ(silent->error, "所选音色未能生成声音，请换一个音色或在系统设置中下载完整声音。（TTS-3）");
    EXPECT_TRUE(queues.made().empty());

    // An unknown identifier falls back to the best English voice.
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::speak);
    auto unknown = speak("hello", {}, "voice.gone");
    runtime.advance(0.1);
    EXPECT_EQ(unknown->error, "");
    EXPECT_EQ(synthesizer.utterances().back().voice->identifier, "voice.us");

    synthesizer.setFailure(std::make_exception_ptr(DomainError("SpeechSynthesizer", 1, "no engine")));
    auto failed = speak("hello", {headphones});
    runtime.advance(0.1);
    EXPECT_EQ(failed->error, "no engine");
    EXPECT_TRUE(queues.made().empty());

    // An engine that dies part way: nothing of the reply is played, the
    // error says so, and the next reply is spoken whole.
    synthesizer.setFailure(nullptr);
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::failPartWay);
    auto lost = speak("twenty characters!!!", {headphones});
    runtime.advance(0.1);
    EXPECT_EQ(lost->error, "语音引擎出错，这条回复未能朗读；下一条会照常朗读。（TTS-5）");
    EXPECT_TRUE(queues.made().empty());
    synthesizer.setBehavior(sim::SimSpeechSynthesizer::Behavior::speak);
    auto next = speak("twenty characters!!!", {headphones});
    runtime.advance(2.0);
    EXPECT_TRUE(next->finished);
    EXPECT_EQ(next->error, "");
    EXPECT_EQ(queues.made().size(), 1u);
}

TEST_F(SpeakerTest, StopEndsRenderingAndPlaybackAndTheNextSpeakPlaysNormally)
{
    synthesizer.setRenderDelay(5.0);
    auto rendering = speak("twenty characters!!!", {headphones});
    runtime.advance(1.0);
    speaker->stop();
    runtime.advance(0.01);
    ASSERT_TRUE(rendering->finished);
    EXPECT_TRUE(rendering->cancelled);
    EXPECT_EQ(synthesizer.stopSpeakingCount(), 1u);
    runtime.advance(10.0);
    EXPECT_TRUE(queues.made().empty());

    synthesizer.setRenderDelay(0);
    auto playing = speak("twenty characters!!!", {headphones, virtualMic});
    runtime.advance(0.5);
    ASSERT_EQ(queues.made().size(), 2u);
    speaker->stop();
    runtime.advance(0.05);
    ASSERT_TRUE(playing->finished);
    EXPECT_TRUE(playing->cancelled);
    EXPECT_TRUE(queues.allDisposed());

    auto again = speak("twenty characters!!!", {headphones});
    runtime.advance(1.2);
    ASSERT_TRUE(again->finished);
    EXPECT_EQ(again->error, "");
    EXPECT_EQ(speaker->generation(), 2);

    // The hear test plays its recording on the same device right after a
    // stop: the stopped speak still ends at once, and the recording plays.
    auto interrupted = speak("twenty characters!!!", {headphones});
    runtime.advance(0.5);
    speaker->stop();
    std::vector<PcmBuffer> recording;
    recording.emplace_back(AudioFormat{.sampleRate = 48000, .channelCount = 1}, 24000);
    recording.back().setFrameLength(24000);
    auto [heard, heardTask] =
        test::track([speaker = speaker, recording] { return speaker->play(recording, headphones); });
    runtime.advance(0.05);
    ASSERT_TRUE(interrupted->finished);
    EXPECT_TRUE(interrupted->cancelled);
    EXPECT_EQ(interrupted->error, "");
    runtime.advance(0.5);
    ASSERT_TRUE(heard->finished);
    EXPECT_EQ(heard->error, "");
    EXPECT_FALSE(heard->cancelled);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(SpeakerTest, AFailingDeviceLetsTheOthersFinishBeforeItsErrorIsReported)
{
    auto outcome = speak("twenty characters!!!", {99, headphones});
    runtime.advance(0.5);
    EXPECT_FALSE(outcome->finished);
    runtime.advance(0.6);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->error, "播放设备已断开（TTS-2）");
    EXPECT_GE(outcome->at, 1.0);
    ASSERT_EQ(queues.made().size(), 1u);
    EXPECT_EQ(queues.made()[0]->completedBuffers(), 10u);  // the whole second of speech

    // Cancelling the speaking task ends every player.
    auto cancelled = speak("twenty characters!!!", {headphones, virtualMic});
    runtime.advance(0.3);
    handles.back().cancel();
    runtime.advance(0.05);
    ASSERT_TRUE(cancelled->finished);
    EXPECT_TRUE(cancelled->cancelled);
    EXPECT_TRUE(queues.allDisposed());
}

TEST_F(SpeakerTest, PlaysRecordedBuffersOnOnePlayerPerDevice)
{
    std::vector<PcmBuffer> recording;
    recording.emplace_back(AudioFormat{.sampleRate = 48000, .channelCount = 2}, 4800);
    recording.back().setFrameLength(4800);
    bool done = false;
    auto task = rt::spawn([&]() -> rt::Async<void> {
        co_await speaker->play(recording, virtualMic);
        done = true;
    });
    runtime.advance(0.2);
    EXPECT_TRUE(done);
    EXPECT_EQ(speaker->player(virtualMic), speaker->player(virtualMic));
    EXPECT_EQ(speaker->player(virtualMic)->farEnd(), farEnd);
    // A speaker whose players would feed no record is refused: the echo
    // gate would take the program's own voice for the other party's.
    EXPECT_THROW(Speaker(synthesizer, nullptr), std::invalid_argument);

    // A check bound to a generation goes stale with a stop, and with the
    // speaker itself.
    auto check = speaker->isCurrentPlayback(speaker->generation());
    EXPECT_TRUE(check());
    speaker->stop();
    EXPECT_FALSE(check());
    auto fresh = speaker->isCurrentPlayback(speaker->generation());
    speaker.reset();
    EXPECT_FALSE(fresh());
}

}  // namespace
}  // namespace parlaro
