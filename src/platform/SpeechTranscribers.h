#pragma once

#include "platform/TranscriberModule.h"
#include "runtime/Task.h"

#include <string>
#include <vector>

namespace parlaro {

// What the system says about its transcribers: whether the general one can
// run here at all, and the locales each supports and has installed, as BCP-47
// identifiers in the platform's own order.
class SpeechTranscribers {
public:
    virtual ~SpeechTranscribers() = default;

    // Whether the general speech transcriber can run on this machine.
    virtual bool isSpeechTranscriberAvailable() const = 0;
    virtual rt::Async<std::vector<std::string>> supportedLocales(TranscriberKind kind) = 0;
    virtual rt::Async<std::vector<std::string>> installedLocales(TranscriberKind kind) = 0;
};

}  // namespace parlaro
