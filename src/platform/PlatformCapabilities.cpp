#include "platform/PlatformCapabilities.h"

namespace parlaro {

namespace {
PlatformCapabilities installed;
}

const PlatformCapabilities& PlatformCapabilities::current()
{
    return installed;
}

PlatformCapabilitiesScope::PlatformCapabilitiesScope(PlatformCapabilities capabilities) : previous_(installed)
{
    installed = capabilities;
}

PlatformCapabilitiesScope::~PlatformCapabilitiesScope()
{
    installed = previous_;
}

}  // namespace parlaro
