#include "UiWorld.h"

#include "platform/GlobalKeys.h"
#include "platform/sim/SimGlobalKeys.h"
#include "ui/HoldShortcutCenter.h"

#include <gtest/gtest.h>

using namespace parlaro;
using ui::HoldShortcut;
using ui::HoldShortcutCenter;
using Status = HoldShortcutCenter::Status;

namespace {

constexpr std::uint16_t rightAlt = 61;
constexpr std::uint16_t leftShift = 56;

struct CenterWorld {
    test::UiWorld world;
    sim::SimGlobalKeys keys;
    HoldShortcutCenter center;
    int downs = 0;
    int ups = 0;
    int cancels = 0;
    int notifications = 0;
    rt::Subscription subscription;

    explicit CenterWorld(std::vector<ui::SystemShortcut> system = {}) : center(keys, std::move(system))
    {
        center.onDown = [this] { ++downs; };
        center.onUp = [this] { ++ups; };
        center.onCancel = [this] { ++cancels; };
        subscription = center.subscribe([this] { ++notifications; });
    }

    void flags(std::uint16_t code, std::uint64_t bits)
    {
        keys.tap(GlobalKeys::flagsChangedType, code, bits);
        world.settle();
    }
    void keyDown(std::uint16_t code)
    {
        keys.tap(GlobalKeys::keyDownType, code, 0);
        world.settle();
    }
    void hotKey(bool pressed)
    {
        keys.hotKey(pressed);
        world.settle();
    }
    std::tuple<int, int, int> counts() const { return {downs, ups, cancels}; }
};

}  // namespace

TEST(HoldShortcutCenter, StatusFollowsRegistrationConflictsAndRefusals)
{
    CenterWorld w({{true, 49, 2048}, {false, 122, 0}});
    EXPECT_EQ(w.center.activate(std::nullopt), Status::off);
    EXPECT_EQ(w.notifications, 0) << "off stays off silently";

    EXPECT_EQ(w.center.activate(HoldShortcut::combo(49, 2048)), Status::taken);
    EXPECT_EQ(w.keys.count("register 49 2048"), 0) << "a system shortcut is never tried";
    EXPECT_EQ(w.center.activate(HoldShortcut::combo(49, 2304)), Status::active) << "another mask is no conflict";
    EXPECT_EQ(w.center.activate(HoldShortcut::combo(122, 0)), Status::active) << "a disabled entry is no conflict";
    EXPECT_TRUE(w.keys.combinationRegistered());

    w.keys.refuseRegistration = true;
    EXPECT_EQ(w.center.activate(HoldShortcut::combo(0, 0x1000)), Status::taken);
    EXPECT_FALSE(w.keys.combinationRegistered());
    EXPECT_EQ(w.center.shortcut(), HoldShortcut::combo(0, 0x1000));

    // With no way to read keys a combination cannot work either, and says why.
    w.keys.refuseRegistration = false;
    w.keys.hasListenAccess = false;
    EXPECT_EQ(w.center.activate(HoldShortcut::combo(0, 0x1000)), Status::needsPermission);

    int before = w.notifications;
    w.center.deactivate();
    EXPECT_EQ(w.center.status(), Status::needsPermission) << "deactivate keeps status and shortcut";
    EXPECT_EQ(w.notifications, before);
}

TEST(HoldShortcutCenter, CombinationGivesOneDownOneEndPerHold)
{
    CenterWorld w;
    w.center.activate(HoldShortcut::combo(49, 2048));
    w.hotKey(false);
    EXPECT_EQ(w.counts(), std::make_tuple(0, 0, 0)) << "a release without a press";
    w.hotKey(true);
    w.hotKey(true);
    w.hotKey(false);
    EXPECT_EQ(w.counts(), std::make_tuple(1, 1, 0));

    w.hotKey(true);
    w.center.deactivate();
    EXPECT_EQ(w.counts(), std::make_tuple(2, 1, 1));
    EXPECT_FALSE(w.keys.combinationRegistered());
    w.hotKey(false);
    EXPECT_EQ(w.counts(), std::make_tuple(2, 1, 1)) << "a release after deactivate";

    // Key reading that stopped mid-hold (a keyboard unplugged) cancels.
    w.center.activate(HoldShortcut::combo(49, 2048));
    w.hotKey(true);
    w.keys.tap(GlobalKeys::watchDisabledType, 0, 0);
    w.world.settle();
    w.hotKey(false);
    EXPECT_EQ(w.counts(), std::make_tuple(3, 1, 2));

    // Re-applying the same combination cancels the press first, then registers again.
    w.center.activate(HoldShortcut::combo(49, 2048));
    w.hotKey(true);
    w.keys.calls.clear();
    w.center.activate(HoldShortcut::combo(49, 2048));
    EXPECT_EQ(w.counts(), std::make_tuple(4, 1, 3));
    EXPECT_EQ(w.keys.calls, (std::vector<std::string>{"unregister", "register 49 2048"}));
}

TEST(HoldShortcutCenter, LoneModifierHoldWatchesKeysOnlyWhileHeld)
{
    CenterWorld w;
    EXPECT_EQ(w.center.activate(HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt)), Status::active);
    EXPECT_TRUE(w.keys.modifierWatchRunning());
    EXPECT_FALSE(w.keys.keyWatchRunning());

    w.flags(rightAlt, GlobalKeys::rightAltFlag);
    EXPECT_EQ(w.counts(), std::make_tuple(1, 0, 0));
    EXPECT_TRUE(w.keys.keyWatchRunning());
    w.flags(rightAlt, GlobalKeys::rightAltFlag);
    w.flags(leftShift, GlobalKeys::rightAltFlag | 0x2);
    w.flags(leftShift, GlobalKeys::rightAltFlag);
    EXPECT_EQ(w.counts(), std::make_tuple(1, 0, 0)) << "a repeat or another modifier changes nothing";
    w.flags(rightAlt, 0);
    EXPECT_EQ(w.counts(), std::make_tuple(1, 1, 0));
    EXPECT_FALSE(w.keys.keyWatchRunning());

    // An ordinary key cancels once; the release then sends nothing.
    w.flags(rightAlt, GlobalKeys::rightAltFlag);
    w.keyDown(0);
    w.keyDown(1);
    EXPECT_EQ(w.counts(), std::make_tuple(2, 1, 1));
    EXPECT_FALSE(w.keys.keyWatchRunning());
    w.flags(rightAlt, 0);
    EXPECT_EQ(w.counts(), std::make_tuple(2, 1, 1));

    // A watch that stopped delivering is turned back on and the hold ends.
    w.flags(rightAlt, GlobalKeys::rightAltFlag);
    w.keys.tap(GlobalKeys::watchDisabledType, 0, 0);
    w.world.settle();
    EXPECT_EQ(w.counts(), std::make_tuple(3, 1, 2));
    EXPECT_EQ(w.keys.count("reenable"), 1);
    EXPECT_FALSE(w.keys.keyWatchRunning());
    w.flags(rightAlt, 0);
    EXPECT_EQ(w.counts(), std::make_tuple(3, 1, 2)) << "the tracker is up again";
    w.flags(rightAlt, GlobalKeys::rightAltFlag);
    EXPECT_EQ(w.counts(), std::make_tuple(4, 1, 2));

    // Switching shortcut mid-hold cancels and stops both watches.
    w.center.activate(HoldShortcut::combo(49, 2048));
    EXPECT_EQ(w.counts(), std::make_tuple(4, 1, 3));
    EXPECT_FALSE(w.keys.modifierWatchRunning());
    EXPECT_FALSE(w.keys.keyWatchRunning());
    w.flags(rightAlt, 0);
    EXPECT_EQ(w.counts(), std::make_tuple(4, 1, 3));
}

TEST(HoldShortcutCenter, LoneModifierWithoutAccessAsksOncePerActivation)
{
    CenterWorld w;
    w.keys.hasListenAccess = false;
    auto key = HoldShortcut::modifier(HoldShortcut::ModifierKey::function);
    EXPECT_EQ(w.center.activate(key), Status::needsPermission);
    EXPECT_EQ(w.keys.count("request"), 1);
    EXPECT_EQ(w.keys.count("startModifierWatch"), 0);
    EXPECT_EQ(w.center.activate(key), Status::needsPermission);
    EXPECT_EQ(w.keys.count("request"), 2);

    w.keys.hasListenAccess = true;
    w.keys.refuseModifierWatch = true;
    EXPECT_EQ(w.center.activate(key), Status::needsPermission) << "a watch that cannot start";
    w.flags(63, GlobalKeys::functionFlag);
    EXPECT_EQ(w.counts(), std::make_tuple(0, 0, 0));

    w.keys.refuseModifierWatch = false;
    EXPECT_EQ(w.center.activate(key), Status::active);
    w.flags(63, GlobalKeys::functionFlag);
    w.flags(63, 0);
    EXPECT_EQ(w.counts(), std::make_tuple(1, 1, 0));
}
