#include "platform/SpeechAnalysis.h"

#include <stdexcept>

namespace parlaro {

namespace {
SpeechAnalysisServices installed;
}

const SpeechAnalysisServices& speechAnalysis()
{
    if (!installed.transcribers || !installed.assets || !installed.analyzers)
        throw std::logic_error("no speech analysis services installed");
    return installed;
}

SpeechAnalysisScope::SpeechAnalysisScope(SpeechAnalysisServices services) : previous_(installed)
{
    installed = services;
}

SpeechAnalysisScope::~SpeechAnalysisScope()
{
    installed = previous_;
}

} // namespace parlaro
