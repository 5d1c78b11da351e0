#pragma once

#include "platform/AssetInventory.h"
#include "platform/SpeechAnalyzer.h"
#include "platform/SpeechRecognizer.h"
#include "platform/SpeechTranscribers.h"

#include <memory>

namespace parlaro {

// The system's speech recognition, reached process-wide because the engine
// queries and the session factory have no owner to hand it in.
struct SpeechServices {
    // The recognizer of every system version; none leaves every locale
    // without an on-device recognizer.
    std::shared_ptr<SpeechRecognitionService> recognition;
    // The newer speech stack: transcribers, model store and analyzers. Only
    // present where PlatformCapabilities::current().newerSpeechAndTranslation
    // is set.
    SpeechTranscribers* transcribers = nullptr;
    AssetInventory* assets = nullptr;
    SpeechAnalyzers* analyzers = nullptr;
};

// The installed services; throws std::logic_error when none are installed.
const SpeechServices& speechServices();
// The newer stack's parts; each throws std::logic_error when it is missing.
SpeechTranscribers& speechTranscribers();
AssetInventory& assetInventory();
SpeechAnalyzers& speechAnalyzers();

// Installs services for the lifetime of the scope, restoring the previous set.
class SpeechServicesScope {
public:
    explicit SpeechServicesScope(SpeechServices services);
    ~SpeechServicesScope();
    SpeechServicesScope(const SpeechServicesScope&) = delete;
    SpeechServicesScope& operator=(const SpeechServicesScope&) = delete;

private:
    SpeechServices previous_;
    bool previouslyInstalled_;
};

}  // namespace parlaro
