#include "platform/sim/SimSpeechServices.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace parlaro;

namespace {

std::shared_ptr<const PcmBuffer> silence(std::size_t frames)
{
    auto buffer = std::make_shared<PcmBuffer>(AudioFormat{16000, 1, SampleType::int16, true}, frames);
    buffer->setFrameLength(frames);
    return buffer;
}

}  // namespace

TEST(SpeechServicesSim, CapabilityIsOffUnlessInstalledAndServicesNeedInstalling)
{
    EXPECT_FALSE(PlatformCapabilities::current().newerSpeechAndTranslation);
    EXPECT_THROW(speechServices(), std::logic_error);
    {
        sim::SimSpeechServices older(false);
        EXPECT_FALSE(PlatformCapabilities::current().newerSpeechAndTranslation);
        EXPECT_EQ(&assetInventory(), &older.assets);
        {
            sim::SimSpeechServices newer;
            EXPECT_TRUE(PlatformCapabilities::current().newerSpeechAndTranslation);
            EXPECT_EQ(&assetInventory(), &newer.assets);
        }
        EXPECT_FALSE(PlatformCapabilities::current().newerSpeechAndTranslation);
        EXPECT_EQ(&assetInventory(), &older.assets);
    }
    EXPECT_THROW(speechServices(), std::logic_error);
}

TEST(SpeechServicesSim, InstallationRequestsSucceedFailOrHangAsTheTestDecides)
{
    rt::ManualRuntime runtime;
    sim::SimSpeechServices stack;
    auto module =
        TranscriberModule::withPreset(TranscriberKind::speech, "fr-FR", TranscriberPreset::progressiveTranscription);
    std::shared_ptr<AssetInstallationRequest> request;
    std::string outcome = "waiting";
    rt::spawn([&]() -> rt::Async<void> {
        std::vector<TranscriberModule> modules{module};
        request = co_await stack.assets.assetInstallationRequest(modules);
        try {
            co_await request->downloadAndInstall();
            outcome = "installed";
        } catch (const std::runtime_error& error) {
            outcome = error.what();
        }
    });
    runtime.advance(5.0);
    ASSERT_TRUE(request);
    ASSERT_EQ(stack.assets.requests.size(), 1u);
    auto& sim = *stack.assets.requests[0];
    EXPECT_EQ(outcome, "waiting") << "a download hangs until the test decides";
    sim.setFractionCompleted(0.4);
    EXPECT_DOUBLE_EQ(request->fractionCompleted(), 0.4);
    sim.succeed();
    runtime.runUntilIdle();
    EXPECT_EQ(outcome, "installed");
    EXPECT_EQ(stack.assets.statusOf(module), AssetStatus::installed);

    std::shared_ptr<AssetInstallationRequest> again = request;
    auto failing =
        TranscriberModule::withPreset(TranscriberKind::dictation, "th-TH", TranscriberPreset::progressiveLongDictation);
    rt::spawn([&]() -> rt::Async<void> {
        std::vector<TranscriberModule> installed{module};
        std::vector<TranscriberModule> missing{failing};
        again = co_await stack.assets.assetInstallationRequest(installed);
        auto other = co_await stack.assets.assetInstallationRequest(missing);
        try {
            co_await other->downloadAndInstall();
        } catch (const std::runtime_error& error) {
            outcome = error.what();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(again, nullptr) << "nothing to download once installed";
    stack.assets.requests.back()->fail(std::runtime_error("network"));
    runtime.runUntilIdle();
    EXPECT_EQ(outcome, "network");
    EXPECT_EQ(stack.assets.calls, (std::vector<std::string>{"request fr-FR", "request fr-FR", "request th-TH"}));
}

TEST(SpeechServicesSim, AnalyzerReadsItsInputAndEndsResultsWhenFinishing)
{
    rt::ManualRuntime runtime;
    sim::SimSpeechServices stack;
    auto module = stack.analyzers.makeTranscriber(
        TranscriberModule::withReporting(TranscriberKind::speech, "en-US", ReportingOptions{true, false}));
    auto analyzer = stack.analyzers.makeAnalyzer({module});
    auto& sim = *stack.analyzers.analyzers[0];
    sim.startDelay = 1.0;
    auto [input, feed] = rt::AsyncStream<AnalyzerInput>::make();
    std::vector<TranscriberResult> seen;
    bool started = false;
    bool ended = false;
    rt::spawn([&, stream = std::move(input)]() mutable -> rt::Async<void> {
        co_await analyzer->start(std::move(stream));
        started = true;
    });
    rt::spawn([&]() -> rt::Async<void> {
        auto results = module->results();
        while (auto result = co_await results.next())
            seen.push_back(*result);
        ended = true;
    });
    feed.yield(AnalyzerInput(silence(160)));
    feed.yield(AnalyzerInput(silence(320), MediaTime(160, 16000)));
    runtime.advance(0.5);
    EXPECT_FALSE(started);
    runtime.advance(0.5);
    EXPECT_TRUE(started);
    EXPECT_EQ(sim.framesRead(), 480u);
    ASSERT_EQ(sim.inputs.size(), 2u);
    EXPECT_EQ(sim.inputs[1].bufferStartTime, MediaTime(160, 16000));

    sim.transcriber()->yield("hel", false);
    sim.transcriber()->finalsAtFinish = {{"hello.", true}};
    feed.finish();
    rt::spawn([&]() -> rt::Async<void> { co_await analyzer->finalizeAndFinishThroughEndOfInput(); });
    runtime.runUntilIdle();
    EXPECT_TRUE(sim.inputEnded);
    EXPECT_EQ(seen, (std::vector<TranscriberResult>{{"hel", false}, {"hello.", true}}));
    EXPECT_TRUE(ended);
    EXPECT_EQ(sim.finishCalls, 1);
}
