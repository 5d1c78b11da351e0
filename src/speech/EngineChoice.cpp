#include "speech/EngineChoice.h"

#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "speech/AnalyzerSession.h"

namespace parlaro::SpeechEngines {

namespace {

bool newerPlatform()
{
    return PlatformCapabilities::current().newerSpeechAndTranslation;
}

// Asks for a recognizer and lets it go at once.
std::shared_ptr<SpeechRecognizer> onDeviceRecognizer(const std::string& locale)
{
    const auto& recognition = speechServices().recognition;
    return recognition ? recognition->makeRecognizer(locale) : nullptr;
}

}  // namespace

rt::Async<std::optional<SpeechEngine>> preferred(std::string locale)
{
    if (newerPlatform()) {
        if (speechTranscribers().isSpeechTranscriberAvailable())
            co_return co_await AnalyzerSession::engine(locale);
        auto dictationLocales = co_await speechTranscribers().supportedLocales(TranscriberKind::dictation);
        if (!dictationLocales.empty())
            co_return co_await AnalyzerSession::engine(locale);
    }
    if (onDeviceRecognizer(locale))
        co_return SpeechEngine::onDevice;
    co_return std::nullopt;
}

rt::Async<bool> isInstalled(SpeechEngine engine, std::string locale)
{
    if (engine == SpeechEngine::onDevice) {
        auto recognizer = onDeviceRecognizer(locale);
        co_return recognizer && recognizer->supportsOnDeviceRecognition();
    }
    if (newerPlatform())
        co_return co_await AnalyzerSession::isInstalled(locale, engine);
    co_return false;
}

}  // namespace parlaro::SpeechEngines
