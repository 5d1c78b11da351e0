#include "platform/sim/SimSpeechServices.h"

namespace parlaro::sim {

SimSpeechServices::SimSpeechServices(bool newerSpeechAndTranslation)
    : scope_(SpeechServices{recognition, &transcribers, &assets, &analyzers}),
      capabilities_(PlatformCapabilities{newerSpeechAndTranslation})
{
}

}  // namespace parlaro::sim
