#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechServices.h"
#include "runtime/ManualRuntime.h"
#include "speech/AnalyzerSession.h"
#include "speech/EngineChoice.h"
#include "speech/OnDeviceSession.h"
#include "speech/RecognitionSessionFactory.h"

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

struct EngineChoiceTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;

    template <class T>
    T await(std::function<rt::Async<T>()> operation)
    {
        std::optional<T> value;
        rt::spawn([&value, operation]() -> rt::Async<void> { value = co_await operation(); });
        runtime.runUntilIdle();
        EXPECT_TRUE(value) << "the query did not finish";
        return value.value_or(T{});
    }
    std::optional<SpeechEngine> preferred(std::string locale)
    {
        return await<std::optional<SpeechEngine>>([locale] { return SpeechEngines::preferred(locale); });
    }
    bool installed(SpeechEngine engine, std::string locale)
    {
        return await<bool>([engine, locale] { return SpeechEngines::isInstalled(engine, locale); });
    }
    std::string factoryFailure(SpeechEngine engine)
    {
        try {
            makeRecognitionSession("en-US", engine, RecognitionMode::held);
        } catch (const ModuleError& error) {
            return error.localizedDescription();
        }
        return "";
    }
};

}  // namespace

TEST_F(EngineChoiceTest, FactoryMakesTheEngineSessionOrNamesWhatAnOlderSystemLacks)
{
    {
        sim::SimSpeechServices older(false);
        EXPECT_EQ(factoryFailure(SpeechEngine::speech), "本机不支持Simulated speech transcriber（SR-1）");
        EXPECT_EQ(factoryFailure(SpeechEngine::dictation), "本机不支持Simulated dictation transcriber（SR-1）");
        auto session = makeRecognitionSession("en-US", SpeechEngine::onDevice, RecognitionMode::continuous);
        auto onDevice = std::dynamic_pointer_cast<OnDeviceSession>(session);
        ASSERT_TRUE(onDevice);
        EXPECT_EQ(onDevice->locale(), "en-US");
        EXPECT_EQ(onDevice->mode(), RecognitionMode::continuous);
        EXPECT_TRUE(older.recognition->recognizers().empty()) << "making a session does no I/O";
    }
    sim::SimSpeechServices newer;
    auto session = makeRecognitionSession("ja-JP", SpeechEngine::dictation, RecognitionMode::utterance);
    auto analyzer = std::dynamic_pointer_cast<AnalyzerSession>(session);
    ASSERT_TRUE(analyzer);
    EXPECT_EQ(analyzer->locale(), "ja-JP");
    EXPECT_EQ(analyzer->engine(), SpeechEngine::dictation);
    EXPECT_EQ(analyzer->mode(), RecognitionMode::utterance);
    EXPECT_TRUE(newer.analyzers.transcribers.empty());
    EXPECT_TRUE(std::dynamic_pointer_cast<OnDeviceSession>(
        makeRecognitionSession("ja-JP", SpeechEngine::onDevice, RecognitionMode::held)));
}

TEST_F(EngineChoiceTest, OlderSystemsUseTheOnDeviceRecognizerAlone)
{
    sim::SimSpeechServices services(false);
    services.recognition->addLocale("en-US");
    services.recognition->addLocale("fr-FR", false);
    services.transcribers.supported[TranscriberKind::speech] = {"en-US", "de-DE"};
    services.transcribers.installed[TranscriberKind::speech] = {"en-US", "de-DE"};

    EXPECT_EQ(preferred("en-US"), SpeechEngine::onDevice);
    EXPECT_EQ(preferred("fr-FR"), SpeechEngine::onDevice);
    EXPECT_EQ(preferred("de-DE"), std::nullopt) << "the transcribers are not asked";
    EXPECT_TRUE(installed(SpeechEngine::onDevice, "en-US"));
    EXPECT_FALSE(installed(SpeechEngine::onDevice, "fr-FR")) << "no on-device model";
    EXPECT_FALSE(installed(SpeechEngine::onDevice, "xx-XX"));
    EXPECT_FALSE(installed(SpeechEngine::speech, "en-US"));
    EXPECT_FALSE(installed(SpeechEngine::dictation, "de-DE"));
    for (const auto& recognizer : services.recognition->recognizers())
        EXPECT_TRUE(recognizer.expired()) << "each recognizer is let go at once";
}

TEST_F(EngineChoiceTest, NewerSystemsLetTheTranscribersDecideWheneverEitherIsUsable)
{
    sim::SimSpeechServices services;
    services.recognition->addLocale("fr-FR");
    services.recognition->addLocale("en-US");
    services.transcribers.supported[TranscriberKind::speech] = {"en-US"};
    services.transcribers.supported[TranscriberKind::dictation] = {"en-US", "th-TH"};
    services.transcribers.installed[TranscriberKind::dictation] = {"th-TH"};

    EXPECT_EQ(preferred("en-US"), SpeechEngine::speech);
    EXPECT_EQ(preferred("th-TH"), SpeechEngine::dictation);
    EXPECT_EQ(preferred("fr-FR"), std::nullopt) << "the on-device recognizer is not a fallback here";
    EXPECT_TRUE(installed(SpeechEngine::dictation, "th-TH"));
    EXPECT_FALSE(installed(SpeechEngine::speech, "en-US"));
    EXPECT_TRUE(installed(SpeechEngine::onDevice, "fr-FR"));

    services.transcribers.speechTranscriberAvailable = false;
    EXPECT_EQ(preferred("en-US"), SpeechEngine::dictation);
    EXPECT_EQ(preferred("fr-FR"), std::nullopt);

    services.transcribers.supported[TranscriberKind::dictation].clear();
    EXPECT_EQ(preferred("fr-FR"), SpeechEngine::onDevice) << "neither transcriber is usable";
    EXPECT_EQ(preferred("xx-XX"), std::nullopt);
}
