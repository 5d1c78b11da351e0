#include "platform/sim/SimSpeechTranscribers.h"

namespace parlaro::sim {

rt::Async<std::vector<std::string>> SimSpeechTranscribers::supportedLocales(TranscriberKind kind)
{
    co_return supported[kind];
}

rt::Async<std::vector<std::string>> SimSpeechTranscribers::installedLocales(TranscriberKind kind)
{
    ++installedQueries;
    co_return installed[kind];
}

}  // namespace parlaro::sim
