#include "speech/SpeechEngine.h"

#include "platform/EngineNames.h"

namespace parlaro::SpeechEngines {

SpeechModule speechModule(SpeechEngine engine, const std::string& locale)
{
    if (engine == SpeechEngine::dictation)
        return {SpeechModule::Kind::dictationTranscriber, locale, SpeechModule::Preset::progressiveLongDictation};
    return {SpeechModule::Kind::speechTranscriber, locale, SpeechModule::Preset::progressiveTranscription};
}

std::optional<std::string> factoryLabel(SpeechEngine engine)
{
    switch (engine) {
    case SpeechEngine::speech:
        return EngineNames::current().speechTranscriber;
    case SpeechEngine::dictation:
        return EngineNames::current().dictationTranscriber;
    case SpeechEngine::onDevice:
        break;
    }
    return std::nullopt;
}

}  // namespace parlaro::SpeechEngines
