#include "platform/linux/keys/GlobalKeysChoice.h"

#include "platform/UnavailableGlobalKeys.h"
#include "platform/linux/evdev/EvdevGlobalKeys.h"
#include "platform/linux/x11/X11GlobalKeys.h"
#include "runtime/Log.h"

namespace parlaro::sys {
namespace {

bool isWayland(const Environment& environment)
{
    auto session = environment("XDG_SESSION_TYPE");
    if (session)
        return *session == "wayland";
    auto wayland = environment("WAYLAND_DISPLAY");
    return wayland && !wayland->empty();
}

}  // namespace

std::string describe(GlobalKeysBackend backend)
{
    switch (backend) {
    case GlobalKeysBackend::x11:
        return "X11";
    case GlobalKeysBackend::portal:
        return "desktop shortcut portal";
    case GlobalKeysBackend::evdev:
        return "input devices";
    case GlobalKeysBackend::none:
        return "none";
    }
    return {};
}

GlobalKeysBackend chooseGlobalKeysBackend(const Environment& environment, bool displayReachable, bool portalReachable)
{
    if (isWayland(environment))
        return portalReachable ? GlobalKeysBackend::portal : GlobalKeysBackend::evdev;
    if (displayReachable)
        return GlobalKeysBackend::x11;
    return GlobalKeysBackend::none;
}

std::unique_ptr<GlobalKeys> makeGlobalKeys(const Environment& environment, const PortalConnector& portal)
{
    std::unique_ptr<X11GlobalKeys> x11;
    std::unique_ptr<GlobalKeys> shortcuts;
    auto display = environment("DISPLAY");
    if (isWayland(environment)) {
        if (portal)
            shortcuts = portal();
    } else if (display && !display->empty()) {
        x11 = X11GlobalKeys::connect(display->c_str());
    }
    GlobalKeysBackend backend = chooseGlobalKeysBackend(environment, x11 != nullptr, shortcuts != nullptr);
    rt::logMessage("Global hold shortcut: " + describe(backend));
    switch (backend) {
    case GlobalKeysBackend::x11:
        return x11;
    case GlobalKeysBackend::portal:
        return shortcuts;
    case GlobalKeysBackend::evdev:
        return std::make_unique<EvdevGlobalKeys>();
    case GlobalKeysBackend::none:
        break;
    }
    return std::make_unique<UnavailableGlobalKeys>();
}

}  // namespace parlaro::sys
