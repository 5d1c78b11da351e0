#include "platform/linux/power/IdleInhibitorActivity.h"
#include "platform/sim/SimProcessActivity.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using sim::SimProcessActivity;
using Event = SimProcessActivity::Event;

TEST(SimProcessActivity, RecordsEachActivityOnceWithItsReason)
{
    SimProcessActivity activity;
    auto hold = activity.begin("Holding to talk");
    {
        auto other = activity.begin("Playing");
        EXPECT_EQ(activity.activeReasons(), (std::vector<std::string>{"Holding to talk", "Playing"}));
    }
    EXPECT_TRUE(activity.isPreventingIdle());
    ProcessActivity::Token moved = std::move(hold);
    EXPECT_FALSE(hold.isActive());
    moved.end();
    moved.end();
    EXPECT_FALSE(activity.isPreventingIdle());
    EXPECT_EQ(activity.events(),
              (std::vector<Event>{{Event::Kind::began, "Holding to talk"},
                                  {Event::Kind::began, "Playing"},
                                  {Event::Kind::ended, "Playing"},
                                  {Event::Kind::ended, "Holding to talk"}}));
}

TEST(IdleInhibitorActivity, OneHelperHoldsTheInhibitorWhileAnyActivityLasts)
{
    test::TempDirectory folder;
    const std::string log = (folder / "helper.log").string();
    // Stands in for the inhibitor: it says when it starts and why, then
    // holds until its input closes.
    sys::IdleInhibitorActivity activity([log](const std::string& reason) {
        return std::vector<std::string>{
            "sh", "-c", "echo \"began $1\" >> \"$2\"; cat > /dev/null; echo ended >> \"$2\"", "sh", reason, log};
    });
    auto first = activity.begin("Holding to talk");
    auto second = activity.begin("Another");
    EXPECT_TRUE(activity.isHoldingHelper());
    EXPECT_EQ(activity.activeCount(), 2u);
    first.end();
    EXPECT_TRUE(activity.isHoldingHelper());
    second.end();  // returns once the helper has ended
    EXPECT_FALSE(activity.isHoldingHelper());
    EXPECT_EQ(folder.read("helper.log"), "began Holding to talk\nended\n");

    auto third = activity.begin("Again");
    third.end();
    EXPECT_EQ(folder.read("helper.log"), "began Holding to talk\nended\nbegan Again\nended\n");

    // A missing helper leaves activities working as a no-op.
    sys::IdleInhibitorActivity missing(
        [](const std::string&) { return std::vector<std::string>{"/nonexistent/parlaro-inhibitor"}; });
    auto noop = missing.begin("Holding to talk");
    EXPECT_FALSE(missing.isHoldingHelper());
    EXPECT_EQ(missing.activeCount(), 1u);
    noop.end();
    EXPECT_EQ(missing.activeCount(), 0u);

    // The activity going away ends a helper still held.
    auto held = std::make_unique<sys::IdleInhibitorActivity>([log](const std::string&) {
        return std::vector<std::string>{"sh", "-c", "cat > /dev/null; echo released >> \"$1\"", "sh", log};
    });
    auto kept = held->begin("Kept");
    held.reset();
    EXPECT_EQ(folder.read("helper.log"), "began Holding to talk\nended\nbegan Again\nended\nreleased\n");
    kept.end();
}

}  // namespace
}  // namespace parlaro
