// What the General page says about how global keys are read, and how the
// shortcut follows a backend whose access changes while the program runs.

#include "UiWorld.h"

#include "platform/sim/SimGlobalKeys.h"
#include "settings/HoldShortcutRow.h"
#include "ui/GroupNotice.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/PillButton.h"

#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace parlaro;
using ui::HoldShortcut;
using Status = ui::HoldShortcutCenter::Status;
using Method = GlobalKeys::Method;
using Obstacle = GlobalKeys::Obstacle;

namespace {

struct AccessWorld {
    test::UiWorld world;
    sim::SimGlobalKeys keys;
    ui::HoldShortcutCenter center{keys};
    QWidget window;
    settings::HoldShortcutRow* row;
    int downs = 0, ups = 0, cancels = 0;

    AccessWorld()
    {
        auto* layout = new QVBoxLayout(&window);
        row = new settings::HoldShortcutRow(center, world.settings, &window);
        layout->addWidget(row);
        window.resize(560, 160);
        window.show();
        center.onDown = [this] { ++downs; };
        center.onUp = [this] { ++ups; };
        center.onCancel = [this] { ++cancels; };
        world.settle();
    }

    QString notice()
    {
        auto* n = row->findChild<ui::GroupNotice*>();
        return n->isVisibleTo(row) ? n->text() : QString();
    }
    // The backend's access changes to what it says; with no obstacle the
    // keys are readable and a shortcut can be registered again.
    void accessBecomes(Obstacle obstacle)
    {
        keys.hasListenAccess = obstacle == Obstacle::none;
        keys.refuseRegistration = obstacle != Obstacle::none;
        keys.keysObstacle = obstacle;
        keys.accessChanged();
        world.settle();
    }
    void snapshot(const char* state)
    {
        test::snapshot(window, QStringLiteral("HoldShortcutAccess"), QString::fromLatin1(state));
    }
};

}  // namespace

TEST(HoldShortcutAccess, NoKeyboardAndUnreadableKeyboardsAreToldApart)
{
    AccessWorld w;
    w.keys.keysMethod = Method::inputDevices;
    w.keys.hasListenAccess = false;
    w.keys.refuseRegistration = true;
    w.keys.keysObstacle = Obstacle::noKeyboards;
    w.center.activate(HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt));
    w.world.settle();
    EXPECT_EQ(w.center.status(), Status::needsPermission);
    EXPECT_EQ(w.notice(), QStringLiteral("在 /dev/input 下没有找到键盘：接上键盘后回到这里即可"));
    EXPECT_EQ(w.row->findChild<ui::GroupNotice*>()->button(), nullptr) << "no settings attach a keyboard";
    w.snapshot("no-keyboard");

    w.keys.keysObstacle = Obstacle::keyboardsUnreadable;
    w.keys.accessChanged();
    w.world.settle();
    EXPECT_EQ(w.center.status(), Status::needsPermission);
    EXPECT_EQ(w.notice().toStdString(), ui::HoldShortcutCenter::permissionText());
    EXPECT_NE(w.row->findChild<ui::GroupNotice*>()->button(), nullptr);
    w.snapshot("keyboards-unreadable");

    // The keyboard becomes readable: the backend says so and the shortcut
    // works without the user doing anything here.
    w.accessBecomes(Obstacle::none);
    EXPECT_EQ(w.center.status(), Status::active);
    EXPECT_TRUE(w.keys.modifierWatchRunning());
    EXPECT_EQ(w.notice(), QStringLiteral("按键直接从 /dev/input 下的键盘读取，同时也会送到当前窗口"));
}

TEST(HoldShortcutAccess, AWorkingShortcutSaysHowKeysAreReadOnlyOutsideX11)
{
    {
        AccessWorld w;
        w.center.activate(HoldShortcut::combo(49, 0x800));
        w.world.settle();
        EXPECT_EQ(w.center.status(), Status::active);
        EXPECT_EQ(w.notice(), QString());
        EXPECT_EQ(w.center.methodText(), "按键由 X 服务器读取");
    }
    {
        AccessWorld w;
        w.keys.keysMethod = Method::shortcutPortal;
        w.center.activate(HoldShortcut::combo(49, 0x800));
        w.world.settle();
        EXPECT_EQ(w.notice(), QStringLiteral("按键由桌面的快捷键服务读取；桌面请你确认时，请允许这个快捷键"));
        w.snapshot("portal");
    }
    AccessWorld w;
    w.keys.keysMethod = Method::none;
    EXPECT_EQ(w.center.methodText(), "这个桌面无法读取全局按键");
}

TEST(HoldShortcutAccess, ARefusedBindingCancelsThePressAndSaysWhyNotThatTheKeyIsTaken)
{
    AccessWorld w;
    w.keys.keysMethod = Method::shortcutPortal;
    w.center.activate(HoldShortcut::combo(49, 0x800));
    w.keys.hotKey(true);
    w.world.settle();
    EXPECT_EQ(w.downs, 1);

    // The desktop's dialog comes back with a no while the key is held.
    w.keys.refuseRegistration = true;
    w.keys.keysObstacle = Obstacle::bindingRefused;
    w.keys.accessChanged();
    w.keys.hotKey(false);
    w.world.settle();
    EXPECT_EQ(w.cancels, 1);
    EXPECT_EQ(w.ups, 0) << "a press the binding no longer covers is not sent";
    EXPECT_EQ(w.center.status(), Status::taken);
    EXPECT_EQ(w.notice(), QStringLiteral("桌面没有允许这个快捷键：换一个按键，或重新启动 Parlaro 后再试"));
    EXPECT_EQ(w.center.shortcut(), HoldShortcut::combo(49, 0x800)) << "the user's shortcut is kept";
}

TEST(HoldShortcutAccess, TheShortcutServiceGoingAwayAndComingBack)
{
    AccessWorld w;
    w.keys.keysMethod = Method::shortcutPortal;
    w.center.activate(HoldShortcut::combo(49, 0x800));
    w.keys.hotKey(true);
    w.world.settle();

    w.accessBecomes(Obstacle::serviceGone);
    EXPECT_EQ(w.cancels, 1);
    EXPECT_EQ(w.center.status(), Status::needsPermission);
    EXPECT_EQ(w.notice(), QStringLiteral("桌面的快捷键服务已停止，它恢复后快捷键会自动重新设置"));

    w.accessBecomes(Obstacle::none);
    EXPECT_EQ(w.center.status(), Status::active);
    EXPECT_TRUE(w.keys.combinationRegistered());
    w.keys.hotKey(true);
    w.keys.hotKey(false);
    w.world.settle();
    EXPECT_EQ(w.downs, 2);
    EXPECT_EQ(w.ups, 1);
}

TEST(HoldShortcutAccess, AChangeRegistersNothingWithoutAShortcutOrWhileANewOneIsRecorded)
{
    AccessWorld w;
    w.keys.accessChanged();
    w.world.settle();
    EXPECT_EQ(w.center.status(), Status::off);
    EXPECT_TRUE(w.keys.calls.empty());

    w.center.activate(HoldShortcut::combo(49, 0x800));
    w.row->findChild<ui::PillButton*>(QStringLiteral("holdShortcut.record"))->click();
    w.world.settle();
    ASSERT_FALSE(w.keys.combinationRegistered()) << "recording lets the keys reach the recorder";
    w.keys.accessChanged();
    w.world.settle();
    EXPECT_FALSE(w.keys.combinationRegistered());
    EXPECT_EQ(w.keys.count("register 49 2048"), 1);
}

TEST(HoldShortcutAccess, ALoneModifierThroughTheShortcutServiceAsksForACombination)
{
    AccessWorld w;
    w.keys.keysMethod = Method::shortcutPortal;
    w.keys.refuseModifierWatch = true;
    w.keys.keysObstacle = Obstacle::loneModifierUnsupported;
    w.center.activate(HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt));
    w.world.settle();
    EXPECT_EQ(w.center.status(), Status::needsPermission);
    EXPECT_EQ(w.notice(), QStringLiteral("桌面的快捷键服务只接受组合键：请设置一个组合键，例如 Ctrl+Alt+Space"));
    EXPECT_EQ(w.row->findChild<ui::GroupNotice*>()->button(), nullptr);
}
