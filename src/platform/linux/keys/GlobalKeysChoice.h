#pragma once

#include "platform/GlobalKeys.h"
#include "platform/linux/Environment.h"

#include <memory>
#include <string>

namespace parlaro::sys {

enum class GlobalKeysBackend { x11, evdev, none };

std::string describe(GlobalKeysBackend backend);

// X11 when a display is reachable and the session is not Wayland (an X
// client on a Wayland desktop sees only its own windows' keys); the input
// devices under Wayland; otherwise nothing.
GlobalKeysBackend chooseGlobalKeysBackend(const Environment& environment, bool displayReachable);

// Makes the chosen backend and logs the choice.
std::unique_ptr<GlobalKeys> makeGlobalKeys(const Environment& environment = processEnvironment());

}  // namespace parlaro::sys
