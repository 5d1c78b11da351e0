#pragma once

#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "platform/sim/SimAssetInventory.h"
#include "platform/sim/SimSpeechAnalyzers.h"
#include "platform/sim/SimSpeechRecognizer.h"
#include "platform/sim/SimSpeechTranscribers.h"

#include <memory>

namespace parlaro::sim {

// The simulated speech services, installed for the object's lifetime
// together with the "newer speech and translation" capability as given. The
// newer stack is installed either way, so a test can show it goes unused on
// an older system.
class SimSpeechServices {
public:
    explicit SimSpeechServices(bool newerSpeechAndTranslation = true);
    SimSpeechServices(const SimSpeechServices&) = delete;
    SimSpeechServices& operator=(const SimSpeechServices&) = delete;

    std::shared_ptr<SimSpeechRecognitionService> recognition = std::make_shared<SimSpeechRecognitionService>();
    SimSpeechTranscribers transcribers;
    SimAssetInventory assets;
    SimSpeechAnalyzers analyzers;

private:
    SpeechServicesScope scope_;
    PlatformCapabilitiesScope capabilities_;
};

}  // namespace parlaro::sim
