#include "support/FakeRecognitionSession.h"

#include "audio/OwnSpeechRecorder.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"
#include "support/SimDevices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::FakeRecognitionSession;

constexpr AudioObjectId builtInMic = 60;

// The call session model as far as the recorder sees it: whether the key is
// held and which press it is.
struct Model {
    bool isHoldingToTalk = false;
    rt::Uuid holdID;
};

// The model's press check: the model still exists, holds the key, and it is
// still this press.
bool pressCheck(const std::weak_ptr<Model>& model, const rt::Uuid& press)
{
    auto current = model.lock();
    return current && current->isHoldingToTalk && current->holdID == press;
}

struct Pressing {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem system;
    std::shared_ptr<FarEndActivity> farEnd = std::make_shared<FarEndActivity>();
    std::shared_ptr<EchoGuard> echo = std::make_shared<EchoGuard>(farEnd);
    std::vector<std::shared_ptr<FakeRecognitionSession>> sessions;
    std::vector<RecognitionMode> modes;
    std::optional<ModuleError> factoryError;
    std::function<void(FakeRecognitionSession&)> prepareSession;
    std::shared_ptr<OwnSpeechRecorder> recorder;
    std::shared_ptr<Model> model = std::make_shared<Model>();
    std::vector<std::string> live;
    std::vector<std::string> sentences;
    std::vector<std::string> errors;

    Pressing()
    {
        system.addDevice(test::simDevice(builtInMic, "BuiltInMic").named("MacBook Microphone").input({1}));
        system.setDefaultDevice(true, builtInMic);
        system.setInputSignal(builtInMic, [](std::uint32_t, double) { return 0.1f; });
        recorder = std::make_shared<OwnSpeechRecorder>(
            echo, [this](const std::string& locale, SpeechEngine engine, RecognitionMode mode) {
                EXPECT_EQ(locale, "zh-CN");
                EXPECT_EQ(engine, SpeechEngine::onDevice);
                if (factoryError)
                    throw *factoryError;
                auto session = std::make_shared<FakeRecognitionSession>();
                if (prepareSession)
                    prepareSession(*session);
                sessions.push_back(session);
                modes.push_back(mode);
                return session;
            });
    }

    // The model's hold start: a new press, the recorder started under the
    // 12 s deadline of the step "录音启动" (SR-4), callbacks holding the model
    // weakly.
    rt::TaskHandle<> press(bool held)
    {
        model->isHoldingToTalk = true;
        model->holdID = rt::Uuid::random();
        std::weak_ptr<Model> weak = model;
        const rt::Uuid press = model->holdID;
        OwnSpeechRecording::Request request(
            "zh-CN", SpeechEngine::onDevice, held, std::nullopt,
            [this, weak](const std::string& text) {
                if (weak.lock())
                    live.push_back(text);
            },
            [this, weak](const std::string& text) {
                if (weak.lock())
                    sentences.push_back(text);
            },
            [this, weak](const std::string& text) {
                if (weak.lock())
                    errors.push_back(text);
            },
            [weak, press] { return pressCheck(weak, press); });
        auto recording = recorder;
        return test::runTask(runtime, [recording, request]() -> rt::Async<void> {
            co_await withDeadline<void>(12.0, localized("录音启动"), "SR-4", std::nullopt,
                                        [recording, request] { return recording->start(request); });
        });
    }
    rt::TaskHandle<std::string> finish()
    {
        auto recording = recorder;
        return test::runTask(runtime,
                             [recording]() -> rt::Async<std::string> { co_return co_await recording->finish(); });
    }
    void cancel()
    {
        auto recording = recorder;
        test::runTask(runtime, [recording]() -> rt::Async<void> { co_await recording->cancel(); }).result();
    }
    std::shared_ptr<sim::SimInputEngine> engine() const
    {
        auto engines = system.inputEngines();
        return engines.empty() ? nullptr : engines.back();
    }
    PcmBuffer quiet() const
    {
        PcmBuffer buffer({48000, 1, SampleType::float32, false}, 480);
        buffer.setFrameLength(480);
        return buffer;
    }
};

template <class T>
std::string failureOf(const rt::TaskHandle<T>& task)
{
    if (!task.isFinished())
        return "still running";
    try {
        task.result();
    } catch (const rt::CancellationError&) {
        return "cancelled";
    } catch (const Error& error) {
        return error.localizedDescription();
    }
    return "no failure";
}

TEST(RecordingTranscript, SentencesLoseLeadingSeparatorsAndTextIsTrimmed)
{
    EXPECT_EQ(RecordingTranscript::sentence("，我们走吧。"), "我们走吧。");
    EXPECT_EQ(RecordingTranscript::sentence(" …；：、好的"), "好的");
    EXPECT_EQ(RecordingTranscript::sentence(" , . ; : Let's go. "), "Let's go.");
    EXPECT_EQ(RecordingTranscript::sentence("\u3000。，"), "");
    EXPECT_EQ(RecordingTranscript::sentence("我们，走吧"), "我们，走吧");
    EXPECT_EQ(RecordingTranscript::trimmed("\n\t 你好 \u3000\r\n"), "你好");
    EXPECT_EQ(RecordingTranscript::trimmed("  "), "");

    RecordingTranscript transcript;
    transcript.finalText = " 你好。";
    transcript.partial = "我们 ";
    EXPECT_EQ(transcript.text(), "你好。我们");
}

TEST(OwnSpeechRecorder, OnePressFromMicrophoneToFinalText)
{
    Pressing t;
    // Nothing recorded yet: an empty text.
    EXPECT_EQ(t.finish().result(), "");

    // Stale buffers in the echo guard go when a recording starts.
    t.echo->push(t.quiet(), 1.0, 1.0);
    t.farEnd->tapStarted();
    t.echo->push(t.quiet(), 5.0, 5.0);
    ASSERT_EQ(t.echo->waitingCount(), 1u);

    auto press = t.press(false);
    EXPECT_EQ(failureOf(press), "no failure");
    ASSERT_EQ(t.sessions.size(), 1u);
    auto session = t.sessions[0];
    EXPECT_EQ(t.modes, (std::vector<RecognitionMode>{RecognitionMode::utterance}));
    EXPECT_EQ(session->input, "BuiltInMic");
    EXPECT_EQ(t.recorder->transcriber(), session);
    EXPECT_FALSE(t.recorder->gated());
    EXPECT_EQ(t.echo->waitingCount(), 0u);

    // The default microphone, straight into the session.
    auto engine = t.engine();
    ASSERT_TRUE(engine && engine->isRunning());
    EXPECT_EQ(engine->inputDevice(), std::nullopt);
    ASSERT_TRUE(engine->deliver());
    ASSERT_TRUE(engine->deliver());
    EXPECT_EQ(session->appended().size(), 2u);
    EXPECT_EQ(t.echo->waitingCount(), 0u);

    session->deliver("我们", false);
    session->deliver("我们走吧", false);
    EXPECT_EQ(t.live, (std::vector<std::string>{"我们", "我们走吧"}));

    // Release: the microphone stops at once, then recognition finishes and
    // its last final result makes the text.
    session->hangFinish = true;
    t.recorder->stopCapture();
    EXPECT_FALSE(engine->isRunning());
    auto finishing = t.finish();
    EXPECT_EQ(failureOf(finishing), "still running");
    session->deliver("我们走吧。", true);
    EXPECT_EQ(t.live.back(), "我们走吧。");
    EXPECT_TRUE(t.sentences.empty());
    session->releaseFinish();
    t.runtime.runUntilIdle();
    EXPECT_EQ(finishing.result(), "我们走吧。");
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(t.recorder->transcriber(), nullptr);
    EXPECT_EQ(session->appended().size(), 2u);
}

TEST(OwnSpeechRecorder, SentencesWhileHeldGoThroughTheEchoGate)
{
    Pressing t;
    // The far-end capture runs but has not reported: the gate holds the
    // microphone back.
    t.farEnd->tapStarted();
    ASSERT_EQ(failureOf(t.press(true)), "no failure");
    auto session = t.sessions[0];
    EXPECT_EQ(t.modes, (std::vector<RecognitionMode>{RecognitionMode::held}));
    EXPECT_TRUE(t.recorder->gated());

    auto engine = t.engine();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(engine->deliver());
        t.runtime.advance(0.05);
    }
    EXPECT_TRUE(session->appended().empty());
    EXPECT_EQ(t.echo->waitingCount(), 3u);

    // A sentence finished while held is sent without its leading comma, and
    // the live text does not show it twice.
    session->deliver("，我们走", false);
    session->deliver("，我们走吧。", true);
    EXPECT_EQ(t.sentences, (std::vector<std::string>{"我们走吧。"}));
    EXPECT_EQ(t.live, (std::vector<std::string>{"，我们走", ""}));

    // Release: the held buffers are still recognized, in order.
    t.recorder->stopCapture();
    ASSERT_EQ(session->appended().size(), 3u);
    EXPECT_EQ(t.echo->waitingCount(), 0u);
    EXPECT_EQ(session->appended()[0]->frameLength(), 4096u);
    EXPECT_FLOAT_EQ(session->appended()[0]->floatSample(0, 0), 0.1f);

    // After release a final result is the text as it is.
    session->hangFinish = true;
    auto finishing = t.finish();
    session->deliver("，我们走吧。", true);
    session->releaseFinish();
    t.runtime.runUntilIdle();
    EXPECT_EQ(finishing.result(), "，我们走吧。");
    EXPECT_EQ(t.sentences.size(), 1u);

    // A gated press that is cancelled drops what the gate holds.
    ASSERT_EQ(failureOf(t.press(true)), "no failure");
    auto second = t.sessions[1];
    t.engine()->deliver();
    t.engine()->deliver();
    EXPECT_EQ(t.echo->waitingCount(), 2u);
    t.cancel();
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.echo->waitingCount(), 0u);
    EXPECT_TRUE(second->appended().empty());
    EXPECT_EQ(second->calls, (std::vector<std::string>{"start", "cancel"}));
    EXPECT_FALSE(t.recorder->mic()->isRunning());
    t.recorder->stopCapture();
    EXPECT_TRUE(second->appended().empty());
}

TEST(OwnSpeechRecorder, OnlyTheCurrentPressIsHeard)
{
    Pressing t;
    ASSERT_EQ(failureOf(t.press(false)), "no failure");
    auto old = t.sessions[0];
    t.cancel();
    ASSERT_EQ(failureOf(t.press(true)), "no failure");
    auto current = t.sessions[1];

    // The previous press answers late: nothing of it reaches the owner.
    old->deliver("旧的一句。", true);
    old->deliver("旧的", false);
    old->onFailure(ModuleError(ModuleID::recognition, 2, "识别中断"));
    EXPECT_TRUE(t.live.empty());
    EXPECT_TRUE(t.sentences.empty());
    EXPECT_TRUE(t.errors.empty());

    // The current one does, with codes; so do microphone failures.
    current->deliver("新的", false);
    current->onFailure(ModuleError(ModuleID::recognition, 2, "识别中断"));
    EXPECT_EQ(t.live, (std::vector<std::string>{"新的"}));
    EXPECT_EQ(t.errors, (std::vector<std::string>{"识别中断（SR-2）"}));
    for (int i = 0; i < 4; ++i) {
        t.engine()->changeConfiguration(true);
        t.runtime.runUntilIdle();
    }
    EXPECT_EQ(t.errors.back(), "麦克风在录音时反复发生变化");

    // A cancel while finish waits for the session: finish is cancelled and
    // so is the session.
    current->hangFinish = true;
    auto finishing = t.finish();
    EXPECT_EQ(failureOf(finishing), "still running");
    t.cancel();
    t.runtime.runUntilIdle();
    EXPECT_EQ(failureOf(finishing), "cancelled");
    EXPECT_EQ(current->calls, (std::vector<std::string>{"start", "finish", "cancel"}));
    // Its late result is dropped too.
    current->deliver("太晚了", true);
    EXPECT_EQ(t.live, (std::vector<std::string>{"新的"}));
}

TEST(OwnSpeechRecorder, StartFailsWhenThePressEndsHangsOrBreaks)
{
    Pressing t;
    // The key is let go while recognition starts: the microphone never starts.
    t.prepareSession = [](FakeRecognitionSession& session) { session.hangStart = true; };
    auto press = t.press(false);
    t.model->isHoldingToTalk = false;
    t.sessions[0]->releaseStart();
    t.runtime.runUntilIdle();
    EXPECT_EQ(failureOf(press), "cancelled");
    EXPECT_EQ(t.engine(), nullptr);

    // A start that hangs ends after 12 s as a timeout of the step; the model
    // then cancels the recorder, which cancels the session.
    press = t.press(false);
    t.runtime.advance(11.9);
    EXPECT_EQ(failureOf(press), "still running");
    t.runtime.advance(0.1);
    EXPECT_EQ(failureOf(press), "录音启动超时，请重试（SR-4）");
    t.cancel();
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.sessions[1]->calls, (std::vector<std::string>{"start", "cancel"}));
    EXPECT_EQ(t.engine(), nullptr);
    EXPECT_EQ(t.recorder->transcriber(), nullptr);

    // Failures of the factory, the session and the microphone come through
    // unchanged.
    t.prepareSession = nullptr;
    t.factoryError = ModuleError(ModuleID::recognition, 1, "本机不支持Simulated speech transcriber");
    EXPECT_EQ(failureOf(t.press(false)), "本机不支持Simulated speech transcriber（SR-1）");
    t.factoryError.reset();
    t.prepareSession = [](FakeRecognitionSession& session) {
        session.startError = ModuleError(ModuleID::recognition, 3, "没有「语音识别」权限");
    };
    EXPECT_EQ(failureOf(t.press(false)), "没有「语音识别」权限（SR-3）");
    t.prepareSession = nullptr;
    t.system.fail(sim::anyObject, sim::anySelector, sim::AudioOperation::engineStart, -10868, 1);
    EXPECT_EQ(failureOf(t.press(false)), "audio engine error -10868");
    EXPECT_FALSE(t.recorder->mic()->isRunning());
    t.system.fail(sim::anyObject, sim::anySelector, sim::AudioOperation::engineInputFormat, -1, 1);
    EXPECT_EQ(failureOf(t.press(false)), "麦克风当前不可用");
}

}  // namespace
}  // namespace parlaro
