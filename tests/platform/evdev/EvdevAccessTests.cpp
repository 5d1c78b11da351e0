// Why the keyboards under an input folder cannot be read: none there, or
// none this account may open. The opener stands in for open(2), whose
// permission checks do not apply to the root account the tests may run as.

#include "platform/linux/evdev/EvdevGlobalKeys.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>

using namespace parlaro;
using Obstacle = GlobalKeys::Obstacle;
namespace fs = std::filesystem;

namespace {

// Opens plain files (readable, but no keyboard) and refuses the named nodes
// as the kernel refuses a node of the input group to an outsider.
struct Opener {
    std::set<std::string> refused;
    int errorCode = EACCES;
    int operator()(const fs::path& path) const
    {
        if (refused.count(path.filename().string())) {
            errno = errorCode;
            return -1;
        }
        return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
};

void touch(const fs::path& path)
{
    std::ofstream(path) << "";
}

}  // namespace

TEST(EvdevAccess, NoKeyboardsIsNotAPermissionProblem)
{
    test::TempDirectory folder;
    sys::EvdevGlobalKeys empty(folder.path(), Opener{});
    EXPECT_EQ(empty.method(), GlobalKeys::Method::inputDevices);
    EXPECT_FALSE(empty.listenAccess());
    EXPECT_EQ(empty.obstacle(), Obstacle::noKeyboards);
    EXPECT_FALSE(empty.registerCombination(49, 0x800));
    EXPECT_FALSE(empty.startModifierWatch());

    // Readable nodes that are no keyboards (a mouse, a lid switch), and
    // unreadable nodes that are no event nodes at all.
    touch(folder.path() / "event0");
    touch(folder.path() / "event1");
    touch(folder.path() / "mouse0");
    sys::EvdevGlobalKeys noKeyboard(folder.path(), Opener{{"mouse0"}});
    EXPECT_FALSE(noKeyboard.listenAccess());
    EXPECT_EQ(noKeyboard.obstacle(), Obstacle::noKeyboards);
}

TEST(EvdevAccess, NodesThisAccountMayNotOpenNeedPermission)
{
    test::TempDirectory folder;
    touch(folder.path() / "event0");
    touch(folder.path() / "event3");
    for (int code : {EACCES, EPERM}) {
        sys::EvdevGlobalKeys keys(folder.path(), Opener{{"event3"}, code});
        EXPECT_FALSE(keys.listenAccess());
        EXPECT_EQ(keys.obstacle(), Obstacle::keyboardsUnreadable) << code;
        EXPECT_FALSE(keys.registerCombination(49, 0x800));
    }
    // A node gone between listing and opening says nothing about permission.
    sys::EvdevGlobalKeys vanished(folder.path(), Opener{{"event3"}, ENOENT});
    EXPECT_EQ(vanished.obstacle(), Obstacle::noKeyboards);
}
