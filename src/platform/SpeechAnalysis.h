#pragma once

#include "platform/AssetInventory.h"
#include "platform/SpeechAnalyzer.h"
#include "platform/SpeechTranscribers.h"

namespace parlaro {

// The newer speech stack, reached process-wide because the model queries and
// the session factory have no owner to hand it in. Only present where
// PlatformCapabilities::current().newerSpeechAndTranslation is set.
struct SpeechAnalysisServices {
    SpeechTranscribers* transcribers = nullptr;
    AssetInventory* assets = nullptr;
    SpeechAnalyzers* analyzers = nullptr;
};

// The installed services; throws std::logic_error when none are installed.
const SpeechAnalysisServices& speechAnalysis();

// Installs services for the lifetime of the scope, restoring the previous set.
class SpeechAnalysisScope {
public:
    explicit SpeechAnalysisScope(SpeechAnalysisServices services);
    ~SpeechAnalysisScope();
    SpeechAnalysisScope(const SpeechAnalysisScope&) = delete;
    SpeechAnalysisScope& operator=(const SpeechAnalysisScope&) = delete;

private:
    SpeechAnalysisServices previous_;
};

} // namespace parlaro
