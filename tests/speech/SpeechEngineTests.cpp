#include "speech/SpeechEngine.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

TEST(SpeechEngine, ModulesForModelManagement)
{
    using Module = SpeechModule;
    EXPECT_EQ(SpeechEngines::speechModule(SpeechEngine::dictation, "ja-JP"),
              (Module{Module::Kind::dictationTranscriber, "ja-JP", Module::Preset::progressiveLongDictation}));
    EXPECT_EQ(SpeechEngines::speechModule(SpeechEngine::speech, "en-US"),
              (Module{Module::Kind::speechTranscriber, "en-US", Module::Preset::progressiveTranscription}));
    EXPECT_EQ(SpeechEngines::speechModule(SpeechEngine::onDevice, "de-DE"),
              (Module{Module::Kind::speechTranscriber, "de-DE", Module::Preset::progressiveTranscription}));

    EXPECT_EQ(SpeechEngines::factoryLabel(SpeechEngine::speech), "Simulated speech transcriber");
    EXPECT_EQ(SpeechEngines::factoryLabel(SpeechEngine::dictation), "Simulated dictation transcriber");
    EXPECT_EQ(SpeechEngines::factoryLabel(SpeechEngine::onDevice), std::nullopt);
}

}  // namespace
}  // namespace parlaro
