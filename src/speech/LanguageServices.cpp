#include "speech/LanguageServices.h"

#include "platform/EngineNames.h"
#include "platform/Platform.h"
#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "platform/TextServices.h"
#include "speech/AnalyzerSession.h"
#include "speech/EngineChoice.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "speech/OnDeviceSession.h"
#include "speech/RecognitionSessionFactory.h"

namespace parlaro {

namespace {

rt::Async<std::optional<SpeechEngine>> liveEngine(CallLanguage language)
{
    co_return co_await SpeechEngines::preferred(language.speechLocale);
}

rt::Async<bool> liveSpeechInstalled(CallLanguage language, SpeechEngine engine)
{
    co_return co_await SpeechEngines::isInstalled(engine, language.speechLocale);
}

rt::Async<TranslationStatus> liveTranslationStatus(std::string source, std::string target)
{
    co_return co_await TranslationStatuses::of(std::move(source), std::move(target));
}

rt::Async<void> liveDownloadSpeech(CallLanguage language, SpeechEngine engine, std::vector<std::string> keep,
                                   LanguageServices::Progress progress)
{
    const std::string locale = language.speechLocale;
    if (engine == SpeechEngine::onDevice) {
        OnDeviceSession::requireOnDeviceModel(speechServices().recognition.get(), locale);
        co_return;
    }
    if (!PlatformCapabilities::current().newerSpeechAndTranslation)
        throw unsupportedEngineError(engine);
    co_await AnalyzerSession::installAssets(locale, engine, std::move(keep), std::move(progress));
}

}  // namespace

LanguageServices LanguageServices::live()
{
    return LanguageServices{liveEngine, liveSpeechInstalled, liveTranslationStatus, liveDownloadSpeech};
}

std::string SpeechEngines::facilityLabel(SpeechEngine engine)
{
    return factoryLabel(engine).value_or(EngineNames::current().onDeviceRecognizer);
}

}  // namespace parlaro
