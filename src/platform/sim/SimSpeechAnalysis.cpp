#include "platform/sim/SimSpeechAnalysis.h"

namespace parlaro::sim {

SimSpeechAnalysis::SimSpeechAnalysis(bool newerSpeechAndTranslation)
    : scope_(SpeechAnalysisServices{&transcribers, &assets, &analyzers}),
      capabilities_(PlatformCapabilities{newerSpeechAndTranslation})
{
}

} // namespace parlaro::sim
