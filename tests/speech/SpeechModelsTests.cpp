#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechServices.h"
#include "runtime/ManualRuntime.h"
#include "speech/AnalyzerSession.h"
#include "speech/SpeechModels.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace parlaro;

namespace {

struct SpeechModelsTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimSpeechServices stack;

    std::vector<double> reports;
    std::string failure;
    bool done = false;

    SpeechModelsTest()
    {
        stack.transcribers.supported[TranscriberKind::speech] = {"en-US", "pt-BR", "ja-JP"};
        stack.transcribers.supported[TranscriberKind::dictation] = {"en-US", "th-TH", "pt-BR"};
    }

    template <class T>
    T await(std::function<rt::Async<T>()> operation)
    {
        std::optional<T> value;
        rt::spawn([&value, operation]() -> rt::Async<void> { value = co_await operation(); });
        runtime.runUntilIdle();
        EXPECT_TRUE(value) << "the operation did not finish";
        return value.value_or(T{});
    }

    void install(std::string locale, SpeechEngine engine, std::vector<std::string> keeping = {})
    {
        rt::spawn([this, locale, engine, keeping]() -> rt::Async<void> {
            try {
                co_await AnalyzerSession::installAssets(locale, engine, keeping,
                                                        [this](double f) { reports.push_back(f); });
                done = true;
            } catch (...) {
                failure = describe(std::current_exception());
            }
        });
        runtime.runUntilIdle();
    }
};

}  // namespace

TEST_F(SpeechModelsTest, EngineAndInstalledStateFollowTheExactLocaleLists)
{
    using Engine = std::optional<SpeechEngine>;
    auto engineOf = [this](std::string locale) {
        return await<Engine>([locale] { return AnalyzerSession::engine(locale); });
    };
    EXPECT_EQ(engineOf("en-US"), SpeechEngine::speech);
    EXPECT_EQ(engineOf("th-TH"), SpeechEngine::dictation) << "only the dictation transcriber knows it";
    EXPECT_EQ(engineOf("pt"), std::nullopt) << "no fallback from pt to pt-BR";
    EXPECT_EQ(engineOf("xx-XX"), std::nullopt);
    stack.transcribers.speechTranscriberAvailable = false;
    EXPECT_EQ(engineOf("en-US"), SpeechEngine::dictation);
    EXPECT_EQ(engineOf("ja-JP"), std::nullopt) << "the unavailable transcriber is not asked";

    auto installed = [this](std::string locale, SpeechEngine engine) {
        return await<bool>([locale, engine] { return AnalyzerSession::isInstalled(locale, engine); });
    };
    stack.transcribers.installed[TranscriberKind::speech] = {"ja-JP"};
    EXPECT_TRUE(installed("ja-JP", SpeechEngine::speech));
    EXPECT_TRUE(stack.assets.calls.empty()) << "a listed model needs no status query";
    EXPECT_FALSE(installed("en-US", SpeechEngine::speech));
    EXPECT_EQ(stack.assets.calls, std::vector<std::string>{"status en-US"});
    stack.assets.setStatus(TranscriberKind::dictation, "th-TH", AssetStatus::installed);
    EXPECT_TRUE(installed("th-TH", SpeechEngine::dictation));
    EXPECT_FALSE(installed("th-TH", SpeechEngine::speech)) << "the speech transcriber does not support it";
    EXPECT_FALSE(installed("xx-XX", SpeechEngine::dictation));
}

TEST_F(SpeechModelsTest, AtTheLimitEveryUnwantedReservationIsReleasedInOrderBeforeTheRequest)
{
    stack.assets.maximumReserved = 3;
    stack.assets.reserved = {"fr-FR", "ja-JP", "de-DE"};
    stack.assets.setStatus(TranscriberKind::speech, "en-US", AssetStatus::installed);
    install("en-US", SpeechEngine::speech, {"ja-JP"});
    EXPECT_TRUE(done);
    EXPECT_EQ(stack.assets.calls,
              (std::vector<std::string>{"reserved", "release fr-FR", "release de-DE", "request en-US"}));
    EXPECT_EQ(reports, std::vector<double>{1.0}) << "nothing to download: progress jumps to 1.0 once";
    EXPECT_TRUE(stack.assets.requests.empty());

    // One below the limit nothing is released, wanted or not.
    stack.assets.calls.clear();
    stack.assets.reserved = {"fr-FR", "de-DE"};
    done = false;
    install("en-US", SpeechEngine::speech);
    EXPECT_TRUE(done);
    EXPECT_EQ(stack.assets.calls, (std::vector<std::string>{"reserved", "request en-US"}));

    // A release the platform refuses is passed over; the rest and the
    // request still follow.
    stack.assets.calls.clear();
    stack.assets.reserved = {"fr-FR", "de-DE", "it-IT"};
    stack.assets.refusedReleases = {"fr-FR"};
    done = false;
    install("en-US", SpeechEngine::speech);
    EXPECT_TRUE(done);
    EXPECT_EQ(
        stack.assets.calls,
        (std::vector<std::string>{"reserved", "release fr-FR", "release de-DE", "release it-IT", "request en-US"}));
    EXPECT_EQ(stack.assets.reserved, std::vector<std::string>{"fr-FR"});

    // An unsupported locale touches no reservation; the text names it as
    // it was asked for.
    stack.assets.calls.clear();
    stack.assets.reserved = {"fr-FR", "de-DE", "it-IT"};
    install("pt", SpeechEngine::speech);
    EXPECT_EQ(failure, "本机不支持 pt 语音识别（SR-1）");
    EXPECT_TRUE(stack.assets.calls.empty());
    install("xx_YY", SpeechEngine::dictation);
    EXPECT_EQ(failure, "本机不支持 xx_YY 语音识别（SR-1）");
    EXPECT_TRUE(stack.assets.calls.empty());
}

TEST_F(SpeechModelsTest, DownloadProgressEndsWithOneFinalReportOnlyOnSuccess)
{
    install("pt-BR", SpeechEngine::dictation);
    ASSERT_EQ(stack.assets.requests.size(), 1u);
    auto& request = *stack.assets.requests[0];
    EXPECT_EQ(request.modules()[0],
              TranscriberModule::withPreset(TranscriberKind::dictation, "pt-BR",
                                            TranscriberPreset::progressiveLongDictation));
    EXPECT_EQ(reports, std::vector<double>{0.0}) << "the first report comes at once";
    request.setFractionCompleted(0.25);
    runtime.advance(0.2);
    request.setFractionCompleted(0.6);
    runtime.advance(0.2);
    EXPECT_EQ(reports, (std::vector<double>{0.0, 0.25, 0.6}));
    // The poller would report 0.6 again at 0.6 s; the download ends first.
    request.setFractionCompleted(0.6);
    runtime.advance(0.19);
    request.succeed();
    runtime.advance(1.0);
    EXPECT_TRUE(done);
    EXPECT_EQ(reports, (std::vector<double>{0.0, 0.25, 0.6, 1.0})) << "1.0 once, and nothing after it";

    // A download that fails halfway: the last fraction seen, then no 1.0.
    reports.clear();
    done = false;
    stack.assets.startingFraction = 0.1;
    install("ja-JP", SpeechEngine::speech);
    auto& failing = *stack.assets.requests[1];
    EXPECT_EQ(failing.modules()[0].preset, TranscriberPreset::progressiveTranscription);
    failing.setFractionCompleted(0.4);
    runtime.advance(0.2);
    runtime.advance(0.1);
    failing.fail(DomainError("AssetInventory", 7, "下载中断"));
    runtime.advance(1.0);
    EXPECT_FALSE(done);
    EXPECT_EQ(failure, "下载中断") << "the platform's error passes through unchanged";
    EXPECT_EQ(reports, (std::vector<double>{0.1, 0.4}));
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u) << "the poller stopped";

    // The request itself failing passes through too.
    failure.clear();
    stack.assets.requestError = std::make_exception_ptr(DomainError("AssetInventory", 2, "没有空间"));
    install("en-US", SpeechEngine::speech);
    EXPECT_EQ(failure, "没有空间");
}
