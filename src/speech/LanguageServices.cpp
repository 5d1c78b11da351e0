#include "speech/LanguageServices.h"

#include "platform/Platform.h"
#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "platform/TextServices.h"
#include "speech/AnalyzerSession.h"
#include "speech/EngineChoice.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "speech/RecognitionSessionFactory.h"

namespace parlaro {

namespace {

// The on-device model is the system's to install; say where the user gets it.
void requireOnDeviceModel(const std::string& locale)
{
    const auto& recognition = speechServices().recognition;
    auto probe = recognition ? recognition->makeRecognizer(locale) : nullptr;
    if (probe && probe->supportsOnDeviceRecognition())
        return;
    std::string name = platform().text->displayName(locale, InterfaceLanguage::current());
    if (name.empty())
        name = locale;
    throw ModuleError(ModuleID::recognition, 2,
                      localized("这台 Mac 上%@的本机识别模型由系统管理。请打开「系统设置 › 键盘 › 听写」，在语言中添加%@，等待下载完成后回到本软件。",
                                name, name));
}

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
        requireOnDeviceModel(locale);
        co_return;
    }
    if (!PlatformCapabilities::current().newerSpeechAndTranslation)
        throw unsupportedEngineError(engine);
    co_await AnalyzerSession::installAssets(locale, engine, std::move(keep), std::move(progress));
}

} // namespace

LanguageServices LanguageServices::live()
{
    return LanguageServices{liveEngine, liveSpeechInstalled, liveTranslationStatus, liveDownloadSpeech};
}

std::string SpeechEngines::facilityLabel(SpeechEngine engine)
{
    switch (engine) {
    case SpeechEngine::speech:
        return "SpeechTranscriber · macOS 26";
    case SpeechEngine::dictation:
        return "DictationTranscriber · macOS 26";
    case SpeechEngine::onDevice:
        break;
    }
    return "SFSpeechRecognizer · macOS 15";
}

} // namespace parlaro
