#include "platform/EngineNames.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechServices.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/LanguageServices.h"

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

struct LanguageServicesTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimTranslationPlatform translation;
    LanguageServices services = LanguageServices::live();

    CallLanguage english = *CallLanguage::find("en");
    CallLanguage thai = *CallLanguage::find("th");

    std::vector<double> reports;

    template <class T>
    T await(std::function<rt::Async<T>()> operation)
    {
        std::optional<T> value;
        rt::spawn([&value, operation]() -> rt::Async<void> { value = co_await operation(); });
        runtime.runUntilIdle();
        EXPECT_TRUE(value) << "the operation did not finish";
        return value.value_or(T{});
    }
    // "" when the download returned, else the error's text.
    std::string download(const CallLanguage& language, SpeechEngine engine, std::vector<std::string> keep = {})
    {
        return await<std::string>([this, language, engine, keep]() -> rt::Async<std::string> {
            return attempt(services, language, engine, keep, &reports);
        });
    }
    static rt::Async<std::string> attempt(LanguageServices services, CallLanguage language, SpeechEngine engine,
                                          std::vector<std::string> keep, std::vector<double>* reports)
    {
        try {
            co_await services.downloadSpeech(language, engine, keep, [reports](double f) { reports->push_back(f); });
        } catch (...) {
            co_return describe(std::current_exception());
        }
        co_return "";
    }
};

}  // namespace

TEST_F(LanguageServicesTest, OlderSystemsCheckTheOnDeviceModelAndRefuseAnalyzerDownloads)
{
    sim::SimSpeechServices speech(false);
    speech.recognition->addLocale("en-US");
    speech.recognition->addLocale("th-TH", false);
    EXPECT_EQ(await<std::optional<SpeechEngine>>([&] { return services.engine(english); }), SpeechEngine::onDevice);
    EXPECT_TRUE(await<bool>([&] { return services.speechInstalled(english, SpeechEngine::onDevice); }));
    EXPECT_FALSE(await<bool>([&] { return services.speechInstalled(thai, SpeechEngine::onDevice); }));

    EXPECT_EQ(download(english, SpeechEngine::onDevice), "") << "the model is there: nothing to do";
    EXPECT_TRUE(reports.empty()) << "and no progress";
    EXPECT_EQ(
        download(thai, SpeechEngine::onDevice),
        "这台 Mac 上泰语（泰国）的本机识别模型由系统管理。请打开「系统设置 › 键盘 › 听写」，在语言中添加泰语（泰国），"
        "等待下载完成后回到本软件。（SR-2）");
    EXPECT_EQ(download(english, SpeechEngine::speech), "本机不支持Simulated speech transcriber（SR-1）");
    EXPECT_EQ(download(english, SpeechEngine::dictation), "本机不支持Simulated dictation transcriber（SR-1）");
    {
        // The refusal names the engine of the platform installed.
        EngineNamesScope names(EngineNames{.speechTranscriber = "general", .dictationTranscriber = "dictation"});
        EXPECT_EQ(download(english, SpeechEngine::speech), "本机不支持general（SR-1）");
        EXPECT_EQ(download(english, SpeechEngine::dictation), "本机不支持dictation（SR-1）");
    }
    EXPECT_TRUE(speech.assets.calls.empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(LanguageServicesTest, NewerSystemsDownloadAnalyzerModelsAndAskTranslationAfresh)
{
    sim::SimSpeechServices speech;
    speech.transcribers.supported[TranscriberKind::speech] = {"en-US"};
    speech.transcribers.supported[TranscriberKind::dictation] = {"th-TH"};
    speech.assets.maximumReserved = 1;
    speech.assets.reserved = {"de-DE"};
    EXPECT_EQ(await<std::optional<SpeechEngine>>([&] { return services.engine(thai); }), SpeechEngine::dictation);
    EXPECT_FALSE(await<bool>([&] { return services.speechInstalled(thai, SpeechEngine::dictation); }));

    std::optional<std::string> outcome;
    rt::spawn([&]() -> rt::Async<void> {
        std::vector<std::string> keep{"en-US"};
        outcome = co_await attempt(services, thai, SpeechEngine::dictation, keep, &reports);
    });
    runtime.runUntilIdle();
    EXPECT_FALSE(outcome) << "still downloading";
    EXPECT_EQ(speech.assets.calls.back(), "request th-TH");
    EXPECT_EQ(speech.assets.reserved, std::vector<std::string>{}) << "the unwanted reservation made room";
    speech.assets.requests[0]->setFractionCompleted(0.5);
    runtime.advance(0.2);
    speech.assets.requests[0]->succeed();
    runtime.advance(1.0);
    EXPECT_EQ(outcome, "");
    EXPECT_EQ(reports, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_TRUE(await<bool>([&] { return services.speechInstalled(thai, SpeechEngine::dictation); }));
    EXPECT_EQ(download(CallLanguage::chinese(), SpeechEngine::speech), "本机不支持 zh-CN 语音识别（SR-1）");

    translation.setStatus("en", "zh-Hans", LanguageAvailability::Status::installed);
    translation.setStatus("th", "zh-Hans", LanguageAvailability::Status::other);
    using Status = TranslationStatus;
    EXPECT_EQ(await<Status>([&] { return services.translationStatus("en", "zh-Hans"); }), Status::installed);
    EXPECT_EQ(await<Status>([&] { return services.translationStatus("th", "zh-Hans"); }), Status::unsupported);
    translation.setStatus("th", "zh-Hans", LanguageAvailability::Status::supported);
    EXPECT_EQ(await<Status>([&] { return services.translationStatus("th", "zh-Hans"); }), Status::supported);

    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::speech), "Simulated speech transcriber");
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::dictation), "Simulated dictation transcriber");
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::onDevice), "Simulated on-device recognizer");
    EngineNamesScope names(
        EngineNames{.speechTranscriber = "a", .dictationTranscriber = "b", .onDeviceRecognizer = "c"});
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::speech), "a");
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::dictation), "b");
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::onDevice), "c");
    EXPECT_EQ(SpeechEngines::factoryLabel(SpeechEngine::onDevice), std::nullopt) << "runs everywhere, as before";
}
