#include "speech/RecognitionSessionFactory.h"

#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "speech/AnalyzerSession.h"
#include "speech/Localization.h"
#include "speech/OnDeviceSession.h"

namespace parlaro {

ModuleError unsupportedEngineError(SpeechEngine engine)
{
    return ModuleError(ModuleID::recognition, 1,
                       localized("本机不支持%@", SpeechEngines::factoryLabel(engine).value_or("")));
}

std::shared_ptr<RecognitionSession> makeRecognitionSession(const std::string& locale, SpeechEngine engine,
                                                           RecognitionMode mode)
{
    if (engine == SpeechEngine::onDevice)
        return std::make_shared<OnDeviceSession>(locale, mode, speechServices().recognition);
    if (PlatformCapabilities::current().newerSpeechAndTranslation)
        return AnalyzerSession::make(locale, engine, mode);
    throw unsupportedEngineError(engine);
}

}  // namespace parlaro
