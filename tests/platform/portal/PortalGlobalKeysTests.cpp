// The desktop's shortcut portal as a backend of the hold shortcut, against a
// fake portal on a private session bus that a fixture starts: choosing it,
// binding, presses, the user refusing and the portal going away. Bus traffic
// is real, so each wait is bounded in real time; no test sleeps otherwise.

#include "FakePortal.h"
#include "platform/linux/keys/GlobalKeysChoice.h"
#include "platform/linux/portal/PortalGlobalKeys.h"
#include "platform/linux/portal/PortalTrigger.h"
#include "platform/linux/xkb/XkbKeymap.h"
#include "runtime/Log.h"
#include "runtime/ManualRuntime.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

using namespace parlaro;
using Obstacle = GlobalKeys::Obstacle;

// Qt's D-Bus thread frees a closed connection, its messages and its
// pending calls on its own schedule; on a loaded machine the process may
// end first, and what libdbus allocated for them is reported as lost. No
// code of ours holds a libdbus object: a Qt object of ours that leaked would
// still be reported by its own allocation.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so.3\n";
}

namespace {

std::string busAddress()
{
    std::ifstream file(PARLARO_PORTAL_TEST_DIR "/address");
    std::string address;
    std::getline(file, address);
    return address;
}

sys::Environment environment(std::map<std::string, std::string> values)
{
    return [values](const std::string& name) -> std::optional<std::string> {
        auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    };
}

// Stored codes: space 49, F5 96, Y 16; masks Control 0x1000, Alt 0x800,
// Shift 0x200, Super 0x100.
constexpr std::uint32_t space = 49;
constexpr std::uint32_t ctrlAlt = 0x1800;

class Portal : public testing::Test {
protected:
    void SetUp() override
    {
        address = QString::fromStdString(busAddress());
        if (address.isEmpty())
            GTEST_SKIP() << "no private session bus (dbus-daemon is not installed)";
        static int made = 0;
        name = QStringLiteral("client-%1").arg(++made);
        bus = QDBusConnection::connectToBus(address, name);
        ASSERT_TRUE(bus.isConnected());
        fake = std::make_unique<test::FakePortal>(address);
    }
    void TearDown() override
    {
        keys.reset();
        fake.reset();
        if (!name.isEmpty())
            QDBusConnection::disconnectFromBus(name);
    }

    // Runs the Qt loop and the executor until `done`, for at most `limitMs`.
    bool until(const std::function<bool()>& done, int limitMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < limitMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            runtime.runUntilIdle();
            QThread::msleep(1);
        }
        return done();
    }
    // Lets the bus carry what is under way, where nothing that follows can
    // show it has arrived.
    void drain()
    {
        until([] { return false; }, 300);
    }

    void connectKeys()
    {
        ASSERT_TRUE(fake->appear());
        auto made = sys::PortalGlobalKeys::connect(bus);
        ASSERT_NE(made, nullptr);
        keys = std::move(made);
        keys->setHandlers({.hotKey = [this](bool pressed) { presses.push_back(pressed); },
                           .tap = {},
                           .accessChanged = [this] { ++changes; }});
    }

    rt::ManualRuntime runtime;
    QString address;
    QString name;
    QDBusConnection bus{QString()};
    std::unique_ptr<test::FakePortal> fake;
    std::unique_ptr<sys::PortalGlobalKeys> keys;
    std::vector<bool> presses;
    int changes = 0;
};

}  // namespace

TEST_F(Portal, ChosenUnderWaylandOnlyWhenTheBusOffersIt)
{
    EXPECT_EQ(sys::PortalGlobalKeys::connect(bus), nullptr) << "nobody owns the portal's name yet";
    auto wayland = environment({{"XDG_SESSION_TYPE", "wayland"}});
    int asked = 0;
    auto connector = [&] {
        ++asked;
        return std::unique_ptr<GlobalKeys>(sys::PortalGlobalKeys::connect(bus));
    };
    {
        rt::LogCapture log;
        auto chosen = sys::makeGlobalKeys(wayland, connector);
        EXPECT_EQ(chosen->method(), GlobalKeys::Method::inputDevices);
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"Global hold shortcut: input devices"}));
    }
    ASSERT_TRUE(fake->appear());
    {
        rt::LogCapture log;
        auto chosen = sys::makeGlobalKeys(wayland, connector);
        EXPECT_EQ(chosen->method(), GlobalKeys::Method::shortcutPortal);
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"Global hold shortcut: desktop shortcut portal"}));
    }
    // On X11 the server's grabs serve, and the portal is not asked.
    sys::makeGlobalKeys(environment({{"XDG_SESSION_TYPE", "x11"}}), connector);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(sys::chooseGlobalKeysBackend(wayland, true, true), sys::GlobalKeysBackend::portal);
    EXPECT_EQ(sys::chooseGlobalKeysBackend(environment({{"XDG_SESSION_TYPE", "x11"}}), true, true),
              sys::GlobalKeysBackend::x11);
}

TEST_F(Portal, BindsTheCombinationAndTurnsItsSignalsIntoPressAndRelease)
{
    connectKeys();
    EXPECT_TRUE(keys->listenAccess());
    ASSERT_TRUE(keys->registerCombination(space, ctrlAlt));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
    test::PortalRecord seen = fake->record();
    EXPECT_EQ(seen.sessionsCreated, 1);
    ASSERT_EQ(seen.triggers, (std::vector<QString>{QStringLiteral("CTRL+ALT+space")}));
    EXPECT_FALSE(seen.descriptions.front().isEmpty());
    EXPECT_EQ(keys->obstacle(), Obstacle::none);

    fake->press(true);
    fake->press(true);
    ASSERT_TRUE(until([&] { return presses.size() == 1; }));
    fake->press(false);
    ASSERT_TRUE(until([&] { return presses.size() == 2; }));
    fake->press(false);
    // Another shortcut's id, or another session's, is not ours.
    fake->press(true, QStringLiteral("something-else"));
    fake->press(true, QStringLiteral("hold-to-talk"), QStringLiteral("/org/freedesktop/portal/desktop/session/x/y"));
    // The bus keeps one sender's signals in order: once this one is here,
    // the ones before it were handled.
    fake->press(true);
    ASSERT_TRUE(until([&] { return presses.size() == 3; }));
    EXPECT_EQ(presses, (std::vector<bool>{true, false, true}));
    fake->press(false);
    ASSERT_TRUE(until([&] { return presses.size() == 4; }));

    // Letting go closes the session, so the desktop releases the shortcut.
    keys->unregisterCombination();
    ASSERT_TRUE(until([&] { return !fake->record().closed.empty(); }));
    EXPECT_EQ(fake->record().closed, (std::vector<QString>{seen.lastSession}));
    fake->press(true, QStringLiteral("hold-to-talk"), seen.lastSession);
    drain();
    EXPECT_EQ(presses.size(), 4u) << "no press after the session closed";
    EXPECT_EQ(changes, 0);
}

TEST_F(Portal, TheUserRefusingIsSaidOnceAndTheSameTriggerIsNotAskedForAgain)
{
    connectKeys();
    fake->answerBinding(1);
    ASSERT_TRUE(keys->registerCombination(space, ctrlAlt));
    ASSERT_TRUE(until([&] { return changes == 1; }));
    EXPECT_FALSE(keys->bound());
    EXPECT_EQ(keys->obstacle(), Obstacle::bindingRefused);
    // Registering anew, as the shortcut does when told, gives a refusal at
    // once rather than the dialog again.
    EXPECT_FALSE(keys->registerCombination(space, ctrlAlt));
    EXPECT_TRUE(keys->listenAccess()) << "the portal is there; the key was refused";

    // Another combination is the user's new choice: asked for.
    fake->answerBinding(0);
    ASSERT_TRUE(keys->registerCombination(96, 0));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
    EXPECT_EQ(fake->record().triggers.back(), QStringLiteral("F5"));
    EXPECT_EQ(fake->record().sessionsCreated, 2) << "none for the refused trigger";
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(keys->obstacle(), Obstacle::none);

    // Allowed, but with our shortcut left out of what was bound.
    fake->answerBinding(0, true);
    ASSERT_TRUE(keys->registerCombination(space, 0x1000));
    ASSERT_TRUE(until([&] { return changes == 2; }));
    EXPECT_FALSE(keys->bound());
    EXPECT_EQ(keys->obstacle(), Obstacle::bindingRefused);

    // A portal that fails the request outright refuses as well; it is still
    // there, and the next combination is asked for.
    fake->answerBinding(0);
    fake->failBinding(true);
    ASSERT_TRUE(keys->registerCombination(space, 0x800));
    ASSERT_TRUE(until([&] { return changes == 3; }));
    EXPECT_EQ(keys->obstacle(), Obstacle::bindingRefused);
    EXPECT_TRUE(keys->listenAccess());
    EXPECT_FALSE(keys->registerCombination(space, 0x800));
    fake->failBinding(false);
    ASSERT_TRUE(keys->registerCombination(space, 0x200));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
}

TEST_F(Portal, ThePortalGoingAwayEndsThePressAndComingBackLetsItBindAgain)
{
    connectKeys();
    ASSERT_TRUE(keys->registerCombination(space, ctrlAlt));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
    fake->press(true);
    ASSERT_TRUE(until([&] { return presses.size() == 1; }));

    fake->disappear();
    ASSERT_TRUE(until([&] { return changes == 1; }));
    EXPECT_FALSE(keys->bound());
    EXPECT_FALSE(keys->listenAccess());
    EXPECT_EQ(keys->obstacle(), Obstacle::serviceGone);
    EXPECT_FALSE(keys->registerCombination(space, ctrlAlt));
    EXPECT_EQ(presses, (std::vector<bool>{true})) << "the press is left for the shortcut to cancel, not released";

    ASSERT_TRUE(fake->appear());
    ASSERT_TRUE(until([&] { return changes == 2; }));
    EXPECT_TRUE(keys->listenAccess());
    EXPECT_EQ(keys->obstacle(), Obstacle::none);
    ASSERT_TRUE(keys->registerCombination(space, ctrlAlt));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
    EXPECT_EQ(fake->record().sessionsCreated, 2);
    fake->press(false);
    fake->press(true);
    ASSERT_TRUE(until([&] { return presses.size() == 2; }));
    EXPECT_EQ(presses, (std::vector<bool>{true, true}))
        << "the release of a press from before the portal left is not delivered";
}

TEST_F(Portal, ALoneModifierCannotBeBoundThroughThePortal)
{
    connectKeys();
    EXPECT_FALSE(keys->startModifierWatch());
    EXPECT_EQ(keys->obstacle(), Obstacle::loneModifierUnsupported);
    EXPECT_FALSE(keys->startKeyWatch());
    ASSERT_TRUE(keys->registerCombination(space, ctrlAlt));
    ASSERT_TRUE(until([&] { return keys->bound(); }));
    EXPECT_EQ(fake->record().sessionsCreated, 1) << "only the combination asked the portal";
}

TEST(PortalTrigger, ModifiersInOrderThenTheKeysSymbolInTheLayout)
{
    auto us = sys::XkbKeymap::fromLayout("us");
    auto de = sys::XkbKeymap::fromLayout("de");
    ASSERT_TRUE(us->valid());
    ASSERT_TRUE(de->valid());
    EXPECT_EQ(sys::portalTrigger(space, ctrlAlt, *us), "CTRL+ALT+space");
    EXPECT_EQ(sys::portalTrigger(space, 0x1000 | 0x800 | 0x200 | 0x100, *us), "CTRL+ALT+SHIFT+LOGO+space");
    EXPECT_EQ(sys::portalTrigger(96, 0, *us), "F5");
    EXPECT_EQ(sys::portalTrigger(16, 0x100, *us), "LOGO+y");
    EXPECT_EQ(sys::portalTrigger(16, 0x100, *de), "LOGO+z") << "the key's symbol in the user's layout";
    EXPECT_EQ(sys::portalTrigger(0xFFFF, 0, *us), std::nullopt);
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
