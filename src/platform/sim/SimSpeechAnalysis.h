#pragma once

#include "platform/PlatformCapabilities.h"
#include "platform/SpeechAnalysis.h"
#include "platform/sim/SimAssetInventory.h"
#include "platform/sim/SimSpeechAnalyzers.h"
#include "platform/sim/SimSpeechTranscribers.h"

namespace parlaro::sim {

// The simulated newer speech stack, installed for the object's lifetime
// together with the "newer platform" capability as given.
class SimSpeechAnalysis {
public:
    explicit SimSpeechAnalysis(bool newerSpeechAndTranslation = true);
    SimSpeechAnalysis(const SimSpeechAnalysis&) = delete;
    SimSpeechAnalysis& operator=(const SimSpeechAnalysis&) = delete;

    SimSpeechTranscribers transcribers;
    SimAssetInventory assets;
    SimSpeechAnalyzers analyzers;

private:
    SpeechAnalysisScope scope_;
    PlatformCapabilitiesScope capabilities_;
};

} // namespace parlaro::sim
