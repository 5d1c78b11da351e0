#include "platform/sim/SimSpeechAnalysis.h"

namespace parlaro::sim {

SimSpeechAnalysis::SimSpeechAnalysis(bool newerPlatform)
    : scope_(SpeechAnalysisServices{&transcribers, &assets, &analyzers}),
      capabilities_(PlatformCapabilities{newerPlatform})
{
}

} // namespace parlaro::sim
