#include "platform/SpeechServices.h"

#include <stdexcept>

namespace parlaro {

namespace {
SpeechServices installed;
bool anyInstalled = false;

template <class T>
T& required(T* part, const char* name)
{
    if (!part)
        throw std::logic_error(std::string("no ") + name + " installed");
    return *part;
}
}  // namespace

const SpeechServices& speechServices()
{
    if (!anyInstalled)
        throw std::logic_error("no speech services installed");
    return installed;
}

SpeechTranscribers& speechTranscribers()
{
    return required(speechServices().transcribers, "speech transcribers");
}

AssetInventory& assetInventory()
{
    return required(speechServices().assets, "speech asset inventory");
}

SpeechAnalyzers& speechAnalyzers()
{
    return required(speechServices().analyzers, "speech analyzers");
}

SpeechServicesScope::SpeechServicesScope(SpeechServices services)
    : previous_(installed), previouslyInstalled_(anyInstalled)
{
    installed = std::move(services);
    anyInstalled = true;
}

SpeechServicesScope::~SpeechServicesScope()
{
    installed = previous_;
    anyInstalled = previouslyInstalled_;
}

}  // namespace parlaro
