#pragma once

#include "platform/SpeechTranscribers.h"

#include <map>
#include <string>
#include <vector>

namespace parlaro::sim {

// Transcribers whose availability and locale lists a test sets. Main actor
// only.
class SimSpeechTranscribers final : public SpeechTranscribers {
public:
    bool isSpeechTranscriberAvailable() const override { return speechTranscriberAvailable; }
    rt::Async<std::vector<std::string>> supportedLocales(TranscriberKind kind) override;
    rt::Async<std::vector<std::string>> installedLocales(TranscriberKind kind) override;

    bool speechTranscriberAvailable = true;
    // BCP-47 identifiers in the order the platform lists them.
    std::map<TranscriberKind, std::vector<std::string>> supported;
    std::map<TranscriberKind, std::vector<std::string>> installed;
    int installedQueries = 0;
};

}  // namespace parlaro::sim
