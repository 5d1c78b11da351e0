#include "platform/Platform.h"

#include <stdexcept>

namespace parlaro {

namespace {
PlatformServices installed;
bool anyInstalled = false;
}  // namespace

const PlatformServices& platform()
{
    if (!anyInstalled)
        throw std::logic_error("no platform services installed");
    return installed;
}

PlatformScope::PlatformScope(PlatformServices services) : previous_(installed)
{
    installed = services;
    anyInstalled = true;
}

PlatformScope::~PlatformScope()
{
    installed = previous_;
    anyInstalled = previous_.defaults || previous_.preferredLanguages || previous_.text || previous_.bundles;
}

}  // namespace parlaro
