#include "speech/SpeechEngine.h"

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
        return "SpeechTranscriber · macOS 26";
    case SpeechEngine::dictation:
        return "DictationTranscriber · macOS 26";
    case SpeechEngine::onDevice:
        break;
    }
    return std::nullopt;
}

}  // namespace parlaro::SpeechEngines
