#include "platform/linux/keys/GlobalKeysChoice.h"
#include "runtime/Log.h"

#include <gtest/gtest.h>

#include <map>

using namespace parlaro;
using sys::GlobalKeysBackend;

namespace {

sys::Environment environment(std::map<std::string, std::string> values)
{
    return [values](const std::string& name) -> std::optional<std::string> {
        auto found = values.find(name);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    };
}

}  // namespace

TEST(GlobalKeysChoice, X11OnlyOutsideWaylandWithADisplay)
{
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({{"XDG_SESSION_TYPE", "x11"}}), true), GlobalKeysBackend::x11);
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({}), true), GlobalKeysBackend::x11);
    // An X display under Wayland shows only our own windows' keys.
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({{"XDG_SESSION_TYPE", "wayland"}}), true),
              GlobalKeysBackend::evdev);
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({{"WAYLAND_DISPLAY", "wayland-0"}}), true),
              GlobalKeysBackend::evdev);
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({{"XDG_SESSION_TYPE", "tty"}}), false), GlobalKeysBackend::none);
}

TEST(GlobalKeysChoice, NoReachableBackendRefusesEverything)
{
    rt::LogCapture log;
    auto keys = sys::makeGlobalKeys(environment({{"XDG_SESSION_TYPE", "tty"}}));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"Global hold shortcut: none"}));
    EXPECT_FALSE(keys->listenAccess());
    EXPECT_FALSE(keys->registerCombination(49, 0x800));
    EXPECT_FALSE(keys->startModifierWatch());
}
