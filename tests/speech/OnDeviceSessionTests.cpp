#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"
#include "speech/InterfaceLanguage.h"
#include "speech/OnDeviceSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>

using namespace parlaro;
using Event = sim::SimRecognitionEvent;

namespace {

struct Heard {
    double at;
    std::string text;
    bool isFinal;

    // The clock advances in steps whose sums are not exact in binary.
    bool operator==(const Heard& other) const
    {
        return std::abs(at - other.at) < 1e-9 && text == other.text && isFinal == other.isFinal;
    }
};

std::ostream& operator<<(std::ostream& out, const Heard& heard)
{
    return out << "{" << heard.at << ", \"" << heard.text << "\", " << (heard.isFinal ? "final" : "partial") << "}";
}

// A buffer as the microphone delivers it: 48 kHz stereo floats.
std::shared_ptr<PcmBuffer> microphone(double seconds, float level)
{
    auto frames = static_cast<std::size_t>(seconds * 48000);
    auto buffer = std::make_shared<PcmBuffer>(AudioFormat{48000, 2, SampleType::float32, false}, frames);
    buffer->setFrameLength(frames);
    for (std::size_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < 2; ++c)
            buffer->setFloatSample(f, c, f % 2 ? level : -level);
    return buffer;
}

struct OnDeviceSessionTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    std::shared_ptr<sim::SimSpeechRecognitionService> service = std::make_shared<sim::SimSpeechRecognitionService>();
    std::shared_ptr<OnDeviceSession> session;
    std::vector<Heard> heard;
    std::vector<std::string> failures;

    OnDeviceSessionTest() { service->addLocale("en-US"); }

    void make(RecognitionMode mode, std::string locale = "en-US")
    {
        session = std::make_shared<OnDeviceSession>(std::move(locale), mode, service);
    }

    double now() { return runtime.clock().uptime(); }

    rt::TaskHandle<void> start()
    {
        auto s = session;
        return rt::spawn([this, s]() -> rt::Async<void> {
            co_await s->start(
                [this](const std::string& text, bool isFinal) {
                    heard.push_back({now(), text, isFinal});
                },
                [this](const ModuleError& error) { failures.push_back(error.localizedDescription()); });
        });
    }

    // Starts and expects the start to succeed without time passing.
    void started(RecognitionMode mode)
    {
        make(mode);
        auto task = start();
        runtime.runUntilIdle();
        ASSERT_TRUE(task.isFinished());
        task.result();
    }

    // A waiting finish() that notes when it returned.
    rt::TaskHandle<void> finish(std::optional<double>& returnedAt)
    {
        auto s = session;
        return rt::spawn([this, s, &returnedAt]() -> rt::Async<void> {
            co_await s->finish();
            returnedAt = now();
        });
    }

    void cancel()
    {
        auto s = session;
        rt::spawn([s]() -> rt::Async<void> { co_await s->cancel(); });
        runtime.runUntilIdle();
    }

    // Appends `seconds` of audio in 0.05 s buffers while the clock runs.
    void speak(double seconds, float level = 0.5f)
    {
        for (int step = 0; step < static_cast<int>(seconds / 0.05 + 0.5); ++step) {
            session->append(microphone(0.05, level));
            runtime.advance(0.05);
        }
    }

    // `pieces` half seconds of speech with a pause of 0.7 s between each.
    void speakWithPauses(int pieces)
    {
        for (int piece = 0; piece < pieces; ++piece) {
            speak(0.5);
            if (piece + 1 < pieces)
                speak(0.7, 0.0f);
        }
    }

    std::shared_ptr<sim::SimRecognitionRequest> request(std::size_t index) { return service->requests().at(index); }
    std::shared_ptr<sim::SimSpeechRecognitionTask> task(std::size_t index) { return service->tasks().at(index); }
    std::vector<double> requestTimes()
    {
        std::vector<double> times;
        for (const auto& r : service->requests())
            times.push_back(r->createdAt());
        return times;
    }
};

std::string errorOf(const rt::TaskHandle<void>& task)
{
    try {
        task.result();
    } catch (const rt::CancellationError&) {
        return "cancelled";
    } catch (const std::exception& error) {
        return describe(error);
    }
    return "none";
}

}  // namespace

TEST_F(OnDeviceSessionTest, StartFailsWithCodedTextsForPermissionLocaleAndModel)
{
    service->setAuthorization(SpeechAuthorizationStatus::denied);
    make(RecognitionMode::continuous);
    auto denied = start();
    runtime.runUntilIdle();
    EXPECT_EQ(errorOf(denied),
              "没有「语音识别」权限。请在「系统设置 › 隐私与安全性 › 语音识别」里允许本软件。（SR-3）");

    service->setAuthorization(SpeechAuthorizationStatus::authorized);
    make(RecognitionMode::continuous, "xx-YY");
    auto unsupported = start();
    runtime.runUntilIdle();
    EXPECT_EQ(errorOf(unsupported), "本机不支持 xx-YY 语音识别（SR-1）");

    // The language is named in the interface language.
    service->addLocale("en-GB", false);
    make(RecognitionMode::continuous, "en-GB");
    auto noModel = start();
    runtime.runUntilIdle();
    EXPECT_EQ(errorOf(noModel),
              "这台 Mac 上英语（英国）的本机识别模型由系统管理。请打开「系统设置 › 键盘 › 听写」，"
              "在语言中添加英语（英国），等待下载完成后回到本软件。（SR-2）");
    InterfaceLanguage::set("en");
    make(RecognitionMode::continuous, "en-GB");
    auto noModelInEnglish = start();
    runtime.runUntilIdle();
    EXPECT_EQ(errorOf(noModelInEnglish),
              "这台 Mac 上English (United Kingdom)的本机识别模型由系统管理。请打开「系统设置 › "
              "键盘 › 听写」，在语言中添加English (United Kingdom)，等待下载完成后回到本软件。（SR-2）");
    EXPECT_TRUE(service->requests().empty());

    // A system without speech recognition knows no locale; nothing crashes.
    session = std::make_shared<OnDeviceSession>("en-US", RecognitionMode::continuous, nullptr);
    auto noService = start();
    runtime.runUntilIdle();
    EXPECT_EQ(errorOf(noService), "本机不支持 en-US 语音识别（SR-1）");
    session->append(microphone(0.1, 0.5f));
    std::optional<double> returned;
    finish(returned);
    runtime.runUntilIdle();
    EXPECT_TRUE(returned);
}

TEST_F(OnDeviceSessionTest, StartKeepsItsRecognizerAndOpensOneOnDeviceDictationRequest)
{
    started(RecognitionMode::continuous);
    auto recognizers = service->recognizers();
    ASSERT_EQ(recognizers.size(), 2u);
    EXPECT_FALSE(recognizers[0].expired()) << "the recognizer that serves the session";
    EXPECT_TRUE(recognizers[1].expired()) << "the recognizer made only for the on-device check";

    ASSERT_EQ(service->requests().size(), 1u);
    // Listening hears the far end; the recognizer may keep what it learnt
    // about it for the next request.
    EXPECT_EQ(request(0)->options,
              (SpeechAudioBufferRecognitionRequest::Options{true, true, true, SpeechTaskHint::dictation, "far-end"}));
    ASSERT_EQ(service->tasks().size(), 1u);
    EXPECT_EQ(task(0)->request(), request(0));

    // A press names its microphone, so what was learnt is kept per device.
    make(RecognitionMode::utterance);
    session->nameInput("alsa_input.usb-headset");
    auto press = start();
    runtime.runUntilIdle();
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_EQ(request(1)->options.audioSource, "microphone:alsa_input.usb-headset");
}

TEST_F(OnDeviceSessionTest, AppendConvertsToTheRequestFormatAndDropsWhatItCannotTake)
{
    make(RecognitionMode::utterance);
    session->append(microphone(0.1, 0.5f));  // before start
    auto starting = start();
    runtime.runUntilIdle();
    starting.result();

    session->append(nullptr);
    session->append(microphone(0.0, 0.5f));
    EXPECT_EQ(request(0)->appendedFrames(), 0u);

    for (int i = 0; i < 10; ++i)
        session->append(microphone(0.1, 0.5f));
    auto buffers = request(0)->appended();
    ASSERT_FALSE(buffers.empty());
    for (const auto& buffer : buffers)
        EXPECT_EQ(buffer.format(), sim::SimSpeechRecognitionService::defaultNativeFormat());
    // One second at 48 kHz comes out as (close to) one second at 16 kHz; the
    // resampler holds back a little at the start of the stream.
    EXPECT_GT(request(0)->appendedFrames(), 15000u);
    EXPECT_LE(request(0)->appendedFrames(), 16000u);

    // A buffer already in the request's format goes in unchanged.
    auto native = std::make_shared<PcmBuffer>(sim::SimSpeechRecognitionService::defaultNativeFormat(), 160);
    native->setFrameLength(160);
    native->setFloatSample(7, 0, 0.25f);
    auto before = request(0)->appended().size();
    session->append(native);
    ASSERT_EQ(request(0)->appended().size(), before + 1);
    EXPECT_FLOAT_EQ(request(0)->appended().back().floatSample(7, 0), 0.25f);
}

TEST_F(OnDeviceSessionTest, CancelWhileWaitingForPermissionMakesStartThrowCancellation)
{
    service->setAuthorization(std::nullopt);
    make(RecognitionMode::held);
    auto starting = start();
    runtime.advance(1.0);
    EXPECT_FALSE(starting.isFinished());
    cancel();
    service->answerAuthorization(SpeechAuthorizationStatus::authorized);
    runtime.runUntilIdle();
    ASSERT_TRUE(starting.isFinished());
    EXPECT_EQ(errorOf(starting), "cancelled");
    EXPECT_TRUE(service->requests().empty());

    // Audio and finish after the cancel find nothing to do.
    session->append(microphone(0.1, 0.5f));
    std::optional<double> returned;
    finish(returned);
    runtime.runUntilIdle();
    EXPECT_EQ(returned, 1.0);
}

TEST_F(OnDeviceSessionTest, FinishWithoutAudioReturnsAtOnce)
{
    started(RecognitionMode::utterance);
    runtime.advance(2.0);
    std::optional<double> returned;
    finish(returned);
    runtime.runUntilIdle();
    EXPECT_EQ(returned, 2.0);
    EXPECT_TRUE(heard.empty());
    EXPECT_TRUE(request(0)->audioEnded());
    EXPECT_TRUE(task(0)->isCancelled());

    session->append(microphone(0.1, 0.5f));
    EXPECT_EQ(request(0)->appendedFrames(), 0u);
    EXPECT_EQ(service->requests().size(), 1u);
}

TEST_F(OnDeviceSessionTest, FinishWaitsForTheFinalResultOfWhatWasAppended)
{
    service->script(
        "en-US",
        {Event::partial(sim::spoken("turn left"), 0.5), Event::finalAtEndOfAudio(sim::spoken("Turn left. "), 0.4)});
    started(RecognitionMode::utterance);
    speak(1.0);
    std::optional<double> returned;
    finish(returned);
    runtime.advance(0.3);
    EXPECT_FALSE(returned);
    runtime.advance(0.2);
    ASSERT_TRUE(returned);
    EXPECT_NEAR(*returned, 1.4, 1e-9);
    EXPECT_EQ(heard, (std::vector<Heard>{{0.5, "turn left", false}, {1.4, "Turn left.", true}}));
    // No request follows the final result of a finishing session.
    EXPECT_EQ(service->requests().size(), 1u);
    runtime.advance(10.0);
    EXPECT_EQ(heard.size(), 2u);
}

TEST_F(OnDeviceSessionTest, FinishFallsBackToTheLastPartialForEveryWaiter)
{
    // The recognizer never gives a final result.
    service->script("en-US",
                    {Event::partial(sim::spoken("hello"), 0.2), Event::partial(sim::spoken("hello world"), 0.4)});
    started(RecognitionMode::utterance);
    speak(1.0);
    std::optional<double> first;
    std::optional<double> second;
    finish(first);
    runtime.advance(1.0);
    finish(second);
    runtime.advance(1.99);
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    runtime.advance(0.01);
    ASSERT_TRUE(first && second);
    EXPECT_NEAR(*first, 4.0, 1e-9);
    EXPECT_NEAR(*second, 4.0, 1e-9);
    EXPECT_EQ(heard.back(), (Heard{4.0, "hello world", true}));
    EXPECT_EQ(heard.size(), 3u);
    EXPECT_TRUE(task(0)->isCancelled());
}

// A recognizer still at work on the final result when the deadline comes
// (it searches the audio again) is waited for, and the careful text is the
// one heard; one that keeps working for ever is given up on at last.
TEST_F(OnDeviceSessionTest, AFinalResultStillBeingWorkedOnOutlastsTheDeadline)
{
    for (const double searching : {4.2, 100.0}) {
        SCOPED_TRACE(searching);
        service->script("en-US",
                        {Event::partial(sim::spoken("the ah with you"), 0.5),
                         Event::finalAtEndOfAudio(sim::spoken("Hello there. "), searching)});
        heard.clear();
        started(RecognitionMode::utterance);
        const double released = now() + 1.0;
        speak(1.0);
        std::optional<double> returned;
        finish(returned);
        runtime.advance(OnDeviceSession::finalFallback + 0.5);
        EXPECT_FALSE(returned);
        runtime.advance(OnDeviceSession::longestFinalWait);
        ASSERT_TRUE(returned);
        const double waited = std::min(searching, OnDeviceSession::longestFinalWait);
        EXPECT_NEAR(*returned - released, waited, 0.11);
        EXPECT_EQ(heard.back().text,
                  searching < OnDeviceSession::longestFinalWait ? "Hello there." : "the ah with you");
        EXPECT_EQ(heard.size(), 2u);
    }
}

// The other party's sentence committed at a pause, on a decoder far behind:
// its caption waits for the words rather than keep the partial text.
TEST_F(OnDeviceSessionTest, ACaptionStillBeingWorkedOnKeepsItsEnd)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("go forward"), 0.5),
                     Event::finalAtEndOfAudio(sim::spoken("Go forward ten meters."), 20.0)});
    started(RecognitionMode::continuous);
    speak(0.5);
    runtime.advance(0.65);
    ASSERT_EQ(service->requests().size(), 2u);
    runtime.advance(OnDeviceSession::longestFinalWait + 1.0);
    EXPECT_EQ(heard, (std::vector<Heard>{{0.5, "go forward", false}}));
    runtime.advance(12.0);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].text, "Go forward ten meters.");
    EXPECT_TRUE(heard[1].isFinal);
}

TEST_F(OnDeviceSessionTest, ContinuousModeCommitsAfterAPauseOrAtTheLatest2Point5Seconds)
{
    // Every request: its partial 0.5 s after it opens, its final when its
    // audio ends.
    service->setStandingScript(
        "en-US", {Event::partial(sim::spoken("one two"), 0.5), Event::finalAtEndOfAudio(sim::spoken("One two."))});
    started(RecognitionMode::continuous);

    // The speaker stops when the partial text arrives: 0.3 s of silence is
    // reached before the first check, which comes 0.65 s after the partial.
    speak(0.5);
    runtime.advance(0.64);
    EXPECT_EQ(service->requests().size(), 1u);
    runtime.advance(0.01);
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_DOUBLE_EQ(request(1)->createdAt(), 1.15);
    EXPECT_EQ(request(0)->audioEndedAt(), request(1)->createdAt());
    EXPECT_EQ(heard, (std::vector<Heard>{{0.5, "one two", false}, {1.15, "One two.", true}}));

    // Steady voiced audio and no new partial text: committed 2.55 s after
    // the partial (0.65 s, then checks every 0.1 s until 2.5 s have passed).
    speak(0.5);
    double partialAt = 1.65;
    speak(2.5);
    EXPECT_EQ(service->requests().size(), 2u);
    speak(0.1);
    ASSERT_EQ(service->requests().size(), 3u);
    EXPECT_NEAR(request(2)->createdAt(), partialAt + 2.55, 1e-9);
}

TEST_F(OnDeviceSessionTest, ContinuousModeNeverCommitsWhileNewPartialsKeepComing)
{
    sim::SimRecognitionScript script;
    for (int i = 1; i <= 20; ++i)
        script.push_back(Event::partial(sim::spoken("and then " + std::to_string(i)), 0.5 * i));
    service->script("en-US", script);
    started(RecognitionMode::continuous);
    speak(10.0);
    EXPECT_EQ(service->requests().size(), 1u);
    EXPECT_EQ(heard.size(), 20u);
    // Once they stop, the pause check commits 2.55 s after the last.
    speak(2.5);
    EXPECT_EQ(service->requests().size(), 1u);
    speak(0.1);
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_NEAR(request(1)->createdAt(), 12.55, 1e-9);
}

TEST_F(OnDeviceSessionTest, UtteranceModeReopensAfterAFinalResult)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("wait for it"), 0.5), Event::final(sim::spoken("Wait for it."), 1.0)});
    started(RecognitionMode::utterance);
    speak(0.5);
    runtime.advance(0.49);
    EXPECT_EQ(service->requests().size(), 1u);
    runtime.advance(0.01);
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_DOUBLE_EQ(request(1)->createdAt(), 1.0);
    runtime.advance(30.0);
    EXPECT_EQ(service->requests().size(), 2u);
    EXPECT_EQ(heard, (std::vector<Heard>{{0.5, "wait for it", false}, {1.0, "Wait for it.", true}}));
}

// A press's request ends where the speaker paused for a sentence's length:
// its final result is searched for while they go on, and the release waits
// only for the words after the last pause.
TEST_F(OnDeviceSessionTest, UtteranceModeSearchesEachSentenceWhileTheSpeakerGoesOn)
{
    service->script(
        "en-US",
        {Event::partial(sim::spoken("hello there"), 0.3), Event::finalAtEndOfAudio(sim::spoken("Hello there"), 0.4)});
    service->script(
        "en-US",
        {Event::partial(sim::spoken("i wanted"), 0.3), Event::finalAtEndOfAudio(sim::spoken("I wanted to ask"), 0.2)});
    started(RecognitionMode::utterance);
    speak(0.5);
    speak(0.5, 0.0f);  // a breath, 0.55 s from the last voice: no sentence's end
    speak(0.5);
    speak(0.6, 0.0f);  // 0.6 s from the last voice at 1.45
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_NEAR(request(0)->audioEndedAt().value_or(0), 2.1, 1e-9);
    speak(0.9);
    std::optional<double> returned;
    finish(returned);
    runtime.advance(0.2);
    ASSERT_TRUE(returned);
    EXPECT_NEAR(*returned, 3.2, 1e-9);
    EXPECT_EQ(heard,
              (std::vector<Heard>{{0.3, "hello there", false},
                                  {2.4, "hello there. i wanted", false},
                                  {2.5, "Hello there. i wanted", false},
                                  {3.2, "Hello there. I wanted to ask", true}}));

    // Released before the sentence's search is done: its words are waited
    // for, not taken from its partial text, and come once with the rest. A
    // word read into the quiet after it ends no sentence of its own.
    heard.clear();
    service->script("en-US",
                    {Event::partial(sim::spoken("go forward"), 0.2),
                     Event::finalAtEndOfAudio(sim::spoken("Go forward ten meters"), 0.5)});
    service->script("en-US", {Event::partial(sim::spoken("the"), 0.05), Event::finalAtEndOfAudio(sim::spoken("the"))});
    started(RecognitionMode::utterance);
    const double start = now();
    speak(0.5);
    speak(1.0, 0.0f);
    ASSERT_EQ(service->requests().size(), 4u);
    EXPECT_NEAR(request(2)->audioEndedAt().value_or(0) - start, 1.1, 1e-9);
    finish(returned);
    runtime.advance(1.0);
    EXPECT_NEAR(*returned - start, 1.6, 1e-9);
    EXPECT_EQ(heard,
              (std::vector<Heard>{{start + 0.2, "go forward", false},
                                  {start + 1.15, "go forward. the", false},
                                  {start + 1.6, "Go forward ten meters. the", true}}));

    // Where the recognizer tells a pause inside a sentence from one between
    // sentences, a piece whose sentence goes on joins the next without a
    // stop or a capital, the pronoun as it is, live and in the final text.
    heard.clear();
    std::vector<std::pair<std::string, std::string>> asked;
    service->setSentenceEnds("en-US", [&asked](const std::string& before, const std::string& after, double pause) {
        asked.emplace_back(before, after);
        // From the last voice before the cut to the first after it.
        EXPECT_NEAR(pause, 0.75, 1e-6);
        return !before.ends_with("think") && !before.ends_with("and");
    });
    for (const char* piece : {"Thank you very much", "I think", "The price is too high and", "I cannot pay it"}) {
        std::string said = piece;
        std::transform(said.begin(), said.end(), said.begin(), [](unsigned char c) { return std::tolower(c); });
        service->script("en-US",
                        {Event::partial(sim::spoken(said), 0.2), Event::finalAtEndOfAudio(sim::spoken(piece), 0.1)});
    }
    started(RecognitionMode::utterance);
    const double third = now();
    speakWithPauses(4);
    ASSERT_EQ(service->requests().size(), 8u);
    finish(returned);
    runtime.advance(1.0);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(),
              (Heard{third + 4.2, "Thank you very much. I think the price is too high and I cannot pay it", true}));
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const Heard& h) {
        return !h.isFinal && h.text == "Thank you very much. I think the price is too high and i cannot pay it";
    }));
    EXPECT_TRUE(
        std::find(asked.begin(), asked.end(),
                  std::pair<std::string, std::string>{"Thank you very much. I think", "The price is too high and"})
        != asked.end());

    // A recognizer that leaves the closing mark to its caller has every
    // sentence closed, a question with its question mark, the last too.
    heard.clear();
    service->setClosingMarks("en-US", [](const std::string& text) {
        const auto stop = text.find_last_of(".?");
        return text.compare(stop == std::string::npos ? 0 : stop + 2, 4, "Can ") == 0 ? "?" : ".";
    });
    for (const char* piece : {"Can you hear me", "Thank you", "Can we talk"})
        service->script("en-US",
                        {Event::partial(sim::spoken(piece), 0.2), Event::finalAtEndOfAudio(sim::spoken(piece), 0.1)});
    started(RecognitionMode::utterance);
    speakWithPauses(3);
    finish(returned);
    runtime.advance(1.0);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().text, "Can you hear me? Thank you. Can we talk?");
    EXPECT_TRUE(heard.back().isFinal);
}

TEST_F(OnDeviceSessionTest, CountedErrorsRestartWithGrowingDelaysUntilTheNinthIsReported)
{
    service->setStandingScript("en-US", {Event::failure("SomeDomain", 7, "The service stopped")});
    started(RecognitionMode::continuous);
    runtime.advance(60.0);
    EXPECT_EQ(requestTimes(), (std::vector<double>{0.0, 0.0, 0.5, 2.0, 5.0, 10.0, 15.0, 20.0, 25.0}));
    EXPECT_EQ(failures, (std::vector<std::string>{"语音识别反复停止：The service stopped（SR-5）"}));

    // Failed: audio is not fed into the dead request any more.
    session->append(microphone(0.1, 0.5f));
    EXPECT_EQ(request(8)->appendedFrames(), 0u);
    std::optional<double> returned;
    finish(returned);
    runtime.runUntilIdle();
    EXPECT_EQ(returned, 60.0);
}

TEST_F(OnDeviceSessionTest, AResultResetsTheErrorCountAndQuietErrorsDoNotCount)
{
    auto failure = Event::failure("SomeDomain", 7, "The service stopped");
    service->script("en-US", {failure});                                     // 1st: restart at once
    service->script("en-US", {failure});                                     // 2nd: after 0.5 s
    service->script("en-US", {Event::partial(sim::spoken("hi")), failure});  // reset, then 1st again: at once
    service->script("en-US", {Event::failure("kAFAssistantErrorDomain", 1110, "No speech detected")});  // 0.3 s
    service->script("en-US", {failure});  // 2nd: after 0.5 s
    started(RecognitionMode::utterance);
    runtime.advance(10.0);
    EXPECT_EQ(requestTimes(), (std::vector<double>{0.0, 0.0, 0.5, 0.5, 0.8, 1.3}));
    // The failed request's partial text is delivered as final.
    EXPECT_EQ(heard, (std::vector<Heard>{{0.5, "hi", false}, {0.5, "hi", true}}));
    EXPECT_TRUE(failures.empty());
}

TEST_F(OnDeviceSessionTest, DictationSwitchedOffIsReportedWithoutRestart)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("good morning"), 0.3),
                     Event::failure("kLSRErrorDomain", 201, "Siri and Dictation are disabled", 0.6)});
    started(RecognitionMode::continuous);
    speak(1.0);
    runtime.advance(30.0);
    EXPECT_EQ(failures,
              (std::vector<std::string>{
                  "语音识别需要打开「听写」：请打开「系统设置 › 键盘 › 听写」，打开听写后点「重试」。（SR-6）"}));
    EXPECT_EQ(service->requests().size(), 1u);
    EXPECT_EQ(heard, (std::vector<Heard>{{0.3, "good morning", false}, {0.6, "good morning", true}}));
    auto frames = request(0)->appendedFrames();
    session->append(microphone(0.1, 0.5f));
    EXPECT_EQ(request(0)->appendedFrames(), frames);
}

TEST_F(OnDeviceSessionTest, FinishDuringAnErrorRestartWaitOpensNoRequest)
{
    // The first request never answers after its partial; the pause commit at
    // 0.75 s leaves it to its fallback. The next two fail, the second at
    // 0.95 s, whose restart would come at 1.45 s.
    auto failure = Event::failure("SomeDomain", 7, "The service stopped", 0.1);
    service->script("en-US", {Event::partial(sim::spoken("hi"), 0.1)});
    service->script("en-US", {failure});
    service->script("en-US", {failure});
    started(RecognitionMode::continuous);
    speak(0.2);
    runtime.advance(0.8);
    EXPECT_EQ(requestTimes().size(), 3u);
    std::optional<double> returned;
    finish(returned);
    // A request opened now would never see its audio end, and finish()
    // would wait for it forever.
    runtime.advance(2.74);
    EXPECT_EQ(requestTimes().size(), 3u);
    EXPECT_FALSE(returned);
    runtime.advance(0.01);
    ASSERT_TRUE(returned);
    EXPECT_NEAR(*returned, 3.75, 1e-9);
    EXPECT_EQ(heard.back(), (Heard{3.75, "hi", true}));
}

TEST_F(OnDeviceSessionTest, LateResultsOfCompletedGenerationsAreDropped)
{
    // The first request never answers; the pause commit moves on and its
    // fallback completes it 3 s later with its last partial text.
    service->script("en-US", {Event::partial(sim::spoken("first words"), 0.2)});
    service->script("en-US", {Event::partial(sim::spoken("second"), 0.1)});
    started(RecognitionMode::continuous);
    speak(0.2);
    runtime.advance(0.65);
    ASSERT_EQ(service->requests().size(), 2u);
    EXPECT_DOUBLE_EQ(request(1)->createdAt(), 0.85);
    runtime.advance(2.99);
    EXPECT_EQ(heard.size(), 2u);
    runtime.advance(0.01);
    EXPECT_EQ(heard.back(), (Heard{3.85, "first words", true}));
    EXPECT_TRUE(task(0)->isCancelled());

    auto heardBefore = heard;
    auto requestsBefore = service->requests().size();
    task(0)->deliverLate(SpeechRecognitionResult{sim::spoken("First words."), true}, std::nullopt);
    task(0)->deliverLate(std::nullopt, DomainError("SomeDomain", 7, "The service stopped"));
    runtime.advance(0.0);
    EXPECT_EQ(heard, heardBefore);
    EXPECT_EQ(service->requests().size(), requestsBefore);
    EXPECT_TRUE(failures.empty());
}

TEST_F(OnDeviceSessionTest, OlderGenerationsFinishQuietlyWhileTheNewestSpeaks)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("one"), 0.1),
                     Event::partial(sim::spoken("one more"), 0.2, Event::When::afterEndOfAudio),
                     Event::finalAtEndOfAudio(sim::spoken("One more."), 0.5)});
    service->script("en-US",
                    {Event::partial(sim::spoken("two"), 0.1),
                     Event::failure("SomeDomain", 7, "The service stopped", 0.1, Event::When::afterEndOfAudio)});
    started(RecognitionMode::continuous);
    speak(0.1);
    runtime.advance(0.65);  // pause commit at 0.75
    runtime.advance(0.55);
    // The old request's partial is not shown; its final is, and opens nothing.
    EXPECT_EQ(heard, (std::vector<Heard>{{0.1, "one", false}, {0.85, "two", false}, {1.25, "One more.", true}}));
    EXPECT_EQ(service->requests().size(), 2u);

    // An error of an older request only completes it with its last partial.
    runtime.advance(0.5);  // pause commit at 1.5, the error at 1.6
    EXPECT_EQ(heard.back(), (Heard{1.6, "two", true}));
    EXPECT_EQ(requestTimes().size(), 3u);
    EXPECT_TRUE(failures.empty());
    runtime.advance(10.0);
    EXPECT_EQ(requestTimes().size(), 3u);
}

TEST_F(OnDeviceSessionTest, HeldModeReleasesEachFinishedSentenceOnce)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("Hello there. How are you"), 0.2),
                     Event::partial(sim::spoken("Hello there. How are you? I'm"), 0.4),
                     Event::partial(sim::spoken("hello there, how are you? I'm fine"), 0.6),
                     Event::finalAtEndOfAudio(sim::spoken("Hello there. How are you? I'm fine."))});
    started(RecognitionMode::held);
    speak(1.0);
    runtime.advance(5.0);
    // The press's request ends at the pause, and a piece that ends its
    // sentence goes at once.
    EXPECT_EQ(service->requests().size(), 2u);
    std::optional<double> returned;
    finish(returned);
    runtime.advance(0.0);
    ASSERT_TRUE(returned);
    EXPECT_NEAR(*returned, 6.0, 1e-9);
    EXPECT_EQ(heard,
              (std::vector<Heard>{{0.2, "Hello there.", true},
                                  {0.2, "How are you", false},
                                  {0.4, "How are you?", true},
                                  {0.4, "I'm", false},
                                  {0.6, "I'm fine", false},
                                  {1.6, "I'm fine.", true},
                                  {1.6, "", false}}));

    // Scripts without spaces are cut by the recognizer's words.
    heard.clear();
    service->script("en-US",
                    {Event::partial(sim::spoken("你好。我们走吧", {"你好", "我们", "走", "吧"}), 0.2),
                     Event::finalAtEndOfAudio(sim::spoken("你好。我们走吧。", {"你好", "我们", "走", "吧"}))});
    started(RecognitionMode::held);
    speak(0.5);
    finish(returned);
    runtime.advance(0.0);
    EXPECT_EQ(heard, (std::vector<Heard>{{6.2, "你好。", true}, {6.2, "我们走吧", false}, {6.5, "我们走吧。", true}}));

    // A revision that reads the words after a sentence sent as going on
    // still begins a sentence of its own.
    heard.clear();
    service->script("en-US",
                    {Event::partial(sim::spoken("I think. The price is"), 0.2),
                     Event::finalAtEndOfAudio(sim::spoken("I think the price is too high"))});
    started(RecognitionMode::held);
    speak(0.5);
    finish(returned);
    runtime.advance(0.0);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), (Heard{6.7, "I think.", true}));
    EXPECT_EQ(heard.back(), (Heard{7.0, "The price is too high", true}));

    // A piece cut at a pause inside a sentence waits for the words after
    // it and goes with them; one whose sentence ended goes once the first
    // two words after the pause tell so in two revisions, with a full stop.
    heard.clear();
    service->setSentenceEnds("en-US", [](const std::string& before, const std::string& after, double) {
        return !before.ends_with("think") && !after.starts_with("can we");
    });
    service->script(
        "en-US", {Event::partial(sim::spoken("i think"), 0.3), Event::finalAtEndOfAudio(sim::spoken("I think"), 0.1)});
    service->script("en-US",
                    {Event::partial(sim::spoken("the price"), 0.2),
                     Event::partial(sim::spoken("the price is too high"), 0.3),
                     Event::finalAtEndOfAudio(sim::spoken("The price is too high"), 0.1)});
    // Heard first as going on, then as a new sentence: only the second
    // revision that reads so sends it.
    service->script("en-US",
                    {Event::partial(sim::spoken("can we"), 0.1), Event::partial(sim::spoken("could we"), 0.2),
                     Event::partial(sim::spoken("could we talk"), 0.3),
                     Event::finalAtEndOfAudio(sim::spoken("Could we talk"), 0.1)});
    started(RecognitionMode::held);
    const double start = now();
    speakWithPauses(3);
    finish(returned);
    runtime.advance(1.0);
    std::vector<Heard> sent;
    std::copy_if(heard.begin(), heard.end(), std::back_inserter(sent), [](const Heard& h) { return h.isFinal; });
    EXPECT_EQ(sent,
              (std::vector<Heard>{{start + 2.6, "I think the price is too high.", true},
                                  {start + 3.0, "Could we talk", true}}));
}

TEST_F(OnDeviceSessionTest, CancelStopsAtOnce)
{
    service->script("en-US",
                    {Event::partial(sim::spoken("stop"), 0.2), Event::partial(sim::spoken("stop here"), 0.6),
                     Event::finalAtEndOfAudio(sim::spoken("Stop here."))});
    started(RecognitionMode::continuous);
    speak(0.4);
    cancel();
    EXPECT_TRUE(request(0)->audioEnded());
    EXPECT_TRUE(task(0)->isCancelled());
    speak(1.0);
    runtime.advance(10.0);
    EXPECT_EQ(heard, (std::vector<Heard>{{0.2, "stop", false}}));
    EXPECT_EQ(service->requests().size(), 1u);
    std::optional<double> returned;
    finish(returned);
    runtime.runUntilIdle();
    EXPECT_EQ(returned, now());
}
