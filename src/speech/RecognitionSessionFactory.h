#pragma once

#include "speech/RecognitionMode.h"
#include "speech/RecognitionSession.h"
#include "speech/SpeechEngine.h"

#include <memory>
#include <string>

namespace parlaro {

// A recognition session for a locale (BCP-47) on an engine: the on-device
// session for `onDevice` on every system, the analyzer session for `speech`
// and `dictation` on the newer platform. Does no I/O and asks for no
// permission; start() does. Throws ModuleError SR-1 naming the facility an
// analyzer engine would need on an older system.
std::shared_ptr<RecognitionSession> makeRecognitionSession(const std::string& locale, SpeechEngine engine,
                                                           RecognitionMode mode);

// The SR-1 error for an analyzer engine this system cannot run.
ModuleError unsupportedEngineError(SpeechEngine engine);

}  // namespace parlaro
