#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechServices.h"
#include "runtime/ManualRuntime.h"
#include "speech/AnalyzerSession.h"

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

const AudioFormat analyzer16k{16000, 1, SampleType::int16, true};

// A buffer whose first channel holds `value` in every frame: 0.01 reads
// -40 dB (speech to the pause detector), 0 reads -120 dB.
std::shared_ptr<const PcmBuffer> steady(const AudioFormat& format, std::size_t frames, float value)
{
    auto buffer = std::make_shared<PcmBuffer>(format, frames);
    buffer->setFrameLength(frames);
    for (std::size_t frame = 0; frame < frames; ++frame)
        for (std::uint32_t channel = 0; channel < format.channelCount; ++channel)
            buffer->setFloatSample(frame, channel, value);
    return buffer;
}

struct AnalyzerSessionTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimSpeechServices stack;

    std::shared_ptr<AnalyzerSession> session;
    std::vector<std::pair<std::string, bool>> results;
    std::vector<std::string> failures;
    std::string startOutcome;

    // Makes a session and starts it; the outcome of start is recorded.
    void start(std::string locale, SpeechEngine engine, RecognitionMode mode)
    {
        session = AnalyzerSession::make(std::move(locale), engine, mode);
        begin();
    }
    void begin()
    {
        startOutcome = "starting";
        auto target = session;
        rt::spawn([this, target]() -> rt::Async<void> {
            try {
                co_await target->start(
                    [this](const std::string& text, bool isFinal) { results.emplace_back(text, isFinal); },
                    [this](const ModuleError& error) { failures.push_back(error.localizedDescription()); });
                startOutcome = "started";
            } catch (const rt::CancellationError&) {
                startOutcome = "cancelled";
            } catch (...) {
                startOutcome = describe(std::current_exception());
            }
        });
        runtime.runUntilIdle();
    }
    void run(std::function<rt::Async<void>()> step)
    {
        rt::spawn([step]() -> rt::Async<void> { co_await step(); });
        runtime.runUntilIdle();
    }
    void finish()
    {
        auto target = session;
        run([target] { return target->finish(); });
    }
    void cancel()
    {
        auto target = session;
        run([target] { return target->cancel(); });
    }
    sim::SimSpeechAnalyzer& analyzer() { return *stack.analyzers.analyzers.back(); }
    sim::SimTranscriber& transcriber() { return *analyzer().transcriber(); }
    // Feeds buffers and lets the analyzer read them.
    void feed(const std::vector<std::shared_ptr<const PcmBuffer>>& buffers)
    {
        for (const auto& buffer : buffers)
            session->append(buffer);
        runtime.runUntilIdle();
    }
    void speak(double seconds, double rate = 16000)
    {
        for (int i = 0; i < static_cast<int>(seconds * 10 + 0.5); ++i)
            feed({steady(AudioFormat{rate, 1, SampleType::int16, true}, static_cast<std::size_t>(rate / 10), 0.01f)});
    }
};

}  // namespace

TEST_F(AnalyzerSessionTest, AnalyzerFormatAndModuleFollowTheBestFormatEngineAndMode)
{
    stack.analyzers.bestFormat = std::nullopt;
    start("en-US", SpeechEngine::speech, RecognitionMode::held);
    EXPECT_EQ(startOutcome, "started");
    EXPECT_EQ(session->analyzerFormat(), analyzer16k) << "no best format: 16 kHz mono int16 interleaved";
    EXPECT_EQ(transcriber().module(),
              TranscriberModule::withReporting(TranscriberKind::speech, "en-US", ReportingOptions{true, true}));

    stack.analyzers.bestFormat = AudioFormat{0, 2, SampleType::float32, false};
    start("en-US", SpeechEngine::speech, RecognitionMode::continuous);
    EXPECT_EQ(session->analyzerFormat(), (AudioFormat{16000, 2, SampleType::int16, true}))
        << "a rate of 0 takes 16 kHz and keeps the channels";
    EXPECT_EQ(transcriber().module().reporting, (ReportingOptions{true, false}));

    stack.analyzers.bestFormat = AudioFormat{48000, 1, SampleType::float32, false};
    start("th-TH", SpeechEngine::dictation, RecognitionMode::held);
    EXPECT_EQ(session->analyzerFormat(), (AudioFormat{48000, 1, SampleType::int16, true}));
    EXPECT_EQ(transcriber().module(),
              TranscriberModule::withReporting(TranscriberKind::dictation, "th-TH", ReportingOptions{true, false}));
}

TEST_F(AnalyzerSessionTest, BuffersAreCopiedOrConvertedAndTimedOnlyWhileRunning)
{
    session = AnalyzerSession::make("en-US", SpeechEngine::speech, RecognitionMode::held);
    session->append(steady(analyzer16k, 160, 0.01f));  // before start: dropped
    begin();
    auto own = steady(analyzer16k, 160, 0.25f);
    feed({own, steady(AudioFormat{48000, 1}, 480, 0.1f), steady(analyzer16k, 0, 0.0f), steady(analyzer16k, 320, 0.0f)});
    auto& inputs = analyzer().inputs;
    ASSERT_EQ(inputs.size(), 3u) << "the empty buffer and the one before start are dropped";
    EXPECT_NE(inputs[0].buffer, own) << "a buffer in the analyzer format is copied";
    EXPECT_EQ(inputs[0].buffer->frameLength(), 160u);
    EXPECT_FLOAT_EQ(inputs[0].buffer->floatSample(159, 0), 0.25f);
    EXPECT_EQ(inputs[0].bufferStartTime, MediaTime(0, 16000));
    EXPECT_EQ(inputs[1].buffer->format(), analyzer16k);
    EXPECT_EQ(inputs[1].buffer->frameCapacity(), 1184u) << "480 frames at 48 kHz: 160 plus 1024";
    EXPECT_EQ(inputs[1].bufferStartTime, MediaTime(160, 16000));
    const auto converted = static_cast<std::int64_t>(inputs[1].buffer->frameLength());
    EXPECT_EQ(inputs[2].bufferStartTime, MediaTime(160 + converted, 16000));

    finish();
    const auto afterFinish = inputs.size();
    EXPECT_TRUE(analyzer().inputEnded);
    session->append(steady(analyzer16k, 160, 0.01f));
    runtime.runUntilIdle();
    EXPECT_EQ(analyzer().inputs.size(), afterFinish) << "nothing is queued after finish";

    start("en-US", SpeechEngine::speech, RecognitionMode::continuous);
    feed({steady(analyzer16k, 160, 0.01f)});
    EXPECT_EQ(analyzer().inputs[0].bufferStartTime, std::nullopt) << "only held mode times its input";
}

TEST_F(AnalyzerSessionTest, HeldSpeechIsFinalizedAtPausesByLanguage)
{
    // English is left to the transcriber: pauses never finalize.
    start("en-US", SpeechEngine::speech, RecognitionMode::held);
    speak(1.0);
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_TRUE(analyzer().finalizeCalls.empty());

    // Japanese: a text ending in a continuation waits; an end mark finalizes.
    start("ja-JP", SpeechEngine::speech, RecognitionMode::held);
    transcriber().yield("今日は雨が", false);
    runtime.runUntilIdle();
    speak(1.0);
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_TRUE(analyzer().finalizeCalls.empty()) << "「が」 continues the sentence";
    transcriber().yield("今日は雨が。\n", false);
    runtime.runUntilIdle();
    speak(1.0);
    const auto fed = static_cast<std::int64_t>(analyzer().framesRead());
    feed({steady(analyzer16k, 16000, 0.0f)});
    ASSERT_EQ(analyzer().finalizeCalls.size(), 1u);
    // The pause ends 0.5 s into the quiet buffer: frames fed + 0.5 s × 16 kHz.
    EXPECT_EQ(analyzer().finalizeCalls[0], MediaTime(fed + 8000, 16000));

    // Elsewhere any pause finalizes, even with no open text, at the analyzer
    // rate whatever the input rate.
    stack.analyzers.bestFormat = AudioFormat{24000, 1, SampleType::int16, true};
    start("de-DE", SpeechEngine::dictation, RecognitionMode::held);
    transcriber().yield("Guten Tag", true);
    runtime.runUntilIdle();
    speak(1.0, 48000);
    const auto fed24 = static_cast<std::int64_t>(analyzer().framesRead());
    feed({steady(AudioFormat{48000, 1}, 48000, 0.0f)});
    ASSERT_EQ(analyzer().finalizeCalls.size(), 1u);
    EXPECT_EQ(analyzer().finalizeCalls[0], MediaTime(fed24 + 12000, 24000));

    // Continuous mode never looks for pauses.
    start("de-DE", SpeechEngine::speech, RecognitionMode::continuous);
    speak(1.0);
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_TRUE(analyzer().finalizeCalls.empty());
}

TEST_F(AnalyzerSessionTest, APauseFinalizesWhatTheOpenTextAllows)
{
    // Outside Japanese a pause finalizes an open text without an end mark.
    start("de-DE", SpeechEngine::speech, RecognitionMode::held);
    transcriber().yield("Guten", false);
    runtime.runUntilIdle();
    speak(1.0);
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_EQ(analyzer().finalizeCalls.size(), 1u);

    // A final result empties the open text, so even after a continuation
    // the next pause finalizes.
    start("ja-JP", SpeechEngine::speech, RecognitionMode::held);
    transcriber().yield("雨が", false);
    transcriber().yield("雨が", true);
    runtime.runUntilIdle();
    speak(1.0);
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_EQ(analyzer().finalizeCalls.size(), 1u);

    // After cancel a buffer changes nothing: no input, no pause.
    start("ja-JP", SpeechEngine::speech, RecognitionMode::held);
    speak(1.0);
    const auto inputs = analyzer().inputs.size();
    cancel();
    feed({steady(analyzer16k, 16000, 0.0f)});
    EXPECT_EQ(analyzer().inputs.size(), inputs);
    EXPECT_TRUE(analyzer().finalizeCalls.empty());
}

TEST_F(AnalyzerSessionTest, ResultsArriveOneAtATimeInOrderAndAnUnexpectedEndIsSR5)
{
    bool inCallback = false;
    bool overlapped = false;
    std::vector<std::pair<std::string, bool>> seen;
    session = AnalyzerSession::make("zh-CN", SpeechEngine::speech, RecognitionMode::continuous);
    rt::spawn([&, target = session]() -> rt::Async<void> {
        co_await target->start(
            [&](const std::string& text, bool isFinal) {
                overlapped = overlapped || inCallback;
                inCallback = true;
                seen.emplace_back(text, isFinal);
                runtime.runUntilIdle();  // other work may run; the next result may not
                inCallback = false;
            },
            [&](const ModuleError& error) { failures.push_back(error.localizedDescription()); });
    });
    runtime.runUntilIdle();
    for (auto [text, isFinal] : std::vector<std::pair<std::string, bool>>{
             {"你", false}, {"你好", false}, {" 你好。", true}, {"", false}, {"", true}})
        transcriber().yield(text, isFinal);
    runtime.runUntilIdle();
    EXPECT_EQ(seen,
              (std::vector<std::pair<std::string, bool>>{
                  {"你", false}, {"你好", false}, {" 你好。", true}, {"", false}, {"", true}}))
        << "every pair, untrimmed and unfiltered";
    EXPECT_FALSE(overlapped);

    transcriber().finishResults();
    runtime.runUntilIdle();
    EXPECT_EQ(failures, std::vector<std::string>{"语音识别意外停止：结果已结束（SR-5）"});

    failures.clear();
    start("zh-CN", SpeechEngine::speech, RecognitionMode::continuous);
    transcriber().failResults(DomainError("Speech", 3, "模型已损坏"));
    runtime.runUntilIdle();
    EXPECT_EQ(failures, std::vector<std::string>{"语音识别意外停止：模型已损坏（SR-5）"});

    failures.clear();
    start("zh-CN", SpeechEngine::speech, RecognitionMode::continuous);
    transcriber().failResults(rt::CancellationError());
    runtime.runUntilIdle();
    EXPECT_TRUE(failures.empty()) << "a cancelled transcription is no failure";

    // A released session delivers what is queued but reports no end.
    start("zh-CN", SpeechEngine::speech, RecognitionMode::continuous);
    auto& last = transcriber();
    results.clear();
    session.reset();
    last.yield("晚安", true);
    last.finishResults();
    runtime.runUntilIdle();
    EXPECT_EQ(results, (std::vector<std::pair<std::string, bool>>{{"晚安", true}}));
    EXPECT_TRUE(failures.empty());
}

TEST_F(AnalyzerSessionTest, FinishDeliversTheLastResultsAndCancelStopsQuietly)
{
    // No audio: the analyzer is cancelled and nothing is delivered.
    start("fr-FR", SpeechEngine::speech, RecognitionMode::utterance);
    transcriber().finalsAtFinish = {{"jamais", true}};
    finish();
    EXPECT_EQ(analyzer().cancelCalls, 1);
    EXPECT_EQ(analyzer().finishCalls, 0);
    EXPECT_TRUE(results.empty());

    // After audio every final result is in before finish returns; no SR-5.
    start("fr-FR", SpeechEngine::speech, RecognitionMode::utterance);
    speak(0.2);
    transcriber().finalsAtFinish = {{"Bonjour.", true}, {"Au revoir.", true}};
    bool finished = false;
    auto target = session;
    rt::spawn([&finished, target]() -> rt::Async<void> {
        co_await target->finish();
        finished = true;
    });
    while (!finished && runtime.executor().runOne()) {}
    ASSERT_TRUE(finished);
    EXPECT_EQ(results, (std::vector<std::pair<std::string, bool>>{{"Bonjour.", true}, {"Au revoir.", true}}));
    runtime.runUntilIdle();
    EXPECT_TRUE(failures.empty());

    // A failing final flush: finish still returns, quietly.
    results.clear();
    stack.analyzers.finishError = std::make_exception_ptr(DomainError("Speech", 9, "失败"));
    start("fr-FR", SpeechEngine::speech, RecognitionMode::utterance);
    speak(0.2);
    finish();
    EXPECT_TRUE(transcriber().resultsDropped()) << "the results task was cancelled";
    EXPECT_TRUE(failures.empty());
    stack.analyzers.finishError = nullptr;

    // Cancel: no more results, no failure.
    start("fr-FR", SpeechEngine::speech, RecognitionMode::utterance);
    speak(0.2);
    cancel();
    EXPECT_EQ(analyzer().cancelCalls, 1);
    EXPECT_FALSE(transcriber().yield("trop tard", true));
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(failures.empty());
}

TEST_F(AnalyzerSessionTest, CancelRacingStartMakesStartThrowCancellation)
{
    // Before start stored its fields: the analyzer is never started.
    stack.analyzers.bestFormatDelay = 1.0;
    start("ko-KR", SpeechEngine::speech, RecognitionMode::held);
    cancel();
    runtime.advance(1.0);
    EXPECT_EQ(startOutcome, "cancelled");
    EXPECT_EQ(analyzer().startCalls, 0);
    stack.analyzers.bestFormatDelay = 0;

    // While the analyzer starts: it is cancelled again once start returns.
    stack.analyzers.startDelay = 1.0;
    start("ko-KR", SpeechEngine::speech, RecognitionMode::held);
    EXPECT_EQ(analyzer().startCalls, 1);
    cancel();
    EXPECT_EQ(startOutcome, "starting");
    runtime.advance(1.0);
    EXPECT_EQ(startOutcome, "cancelled");
    EXPECT_EQ(analyzer().cancelCalls, 2);
    EXPECT_TRUE(failures.empty());
    stack.analyzers.startDelay = 0;

    // An analyzer that cannot start: its error reaches the caller.
    stack.analyzers.startError = std::make_exception_ptr(DomainError("Speech", 4, "无法启动分析器"));
    start("ko-KR", SpeechEngine::speech, RecognitionMode::held);
    EXPECT_EQ(startOutcome, "无法启动分析器");
}
