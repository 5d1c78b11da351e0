#pragma once

#include "platform/GlobalKeys.h"
#include "platform/linux/Environment.h"

#include <functional>
#include <memory>
#include <string>

namespace parlaro::sys {

enum class GlobalKeysBackend { x11, portal, evdev, none };

std::string describe(GlobalKeysBackend backend);

// X11 when a display is reachable and the session is not Wayland (an X
// client on a Wayland desktop sees only its own windows' keys). Under
// Wayland the desktop's shortcut portal when the session bus offers it (the
// user confirms the binding, and no keyboard is read), else the input
// devices. Otherwise nothing.
GlobalKeysBackend chooseGlobalKeysBackend(const Environment& environment, bool displayReachable,
                                          bool portalReachable = false);

// The desktop's shortcut portal, or none when the session bus lacks it.
using PortalConnector = std::function<std::unique_ptr<GlobalKeys>()>;

// Makes the chosen backend and logs the choice. `portal` is asked only
// under Wayland.
std::unique_ptr<GlobalKeys> makeGlobalKeys(const Environment& environment = processEnvironment(),
                                           const PortalConnector& portal = {});

}  // namespace parlaro::sys
