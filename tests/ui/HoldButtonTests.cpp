#include "UiWorld.h"

#include "ui/HoldButton.h"
#include "ui/HoldToTalkControl.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

using namespace parlaro;

namespace {

// Counts the mouse releases it is given.
class ReleaseCounter : public QWidget {
public:
    using QWidget::QWidget;
    int releases = 0;

protected:
    void mouseReleaseEvent(QMouseEvent*) override { ++releases; }
};

struct Calls {
    int down = 0;
    int up = 0;
    int cancel = 0;
};

// A window with the talk control, a field to take focus, a widget that
// counts stray releases, and an Esc shortcut that must not fire in a hold.
struct Window {
    explicit Window(test::UiWorld& world)
    {
        auto* layout = new QVBoxLayout(&window);
        control = new ui::HoldToTalkControl(&window);
        control->setObjectName(QStringLiteral("holdToTalk"));
        control->setTitle(QStringLiteral("按住说话"));
        control->setAppActivity(&world.activity);
        control->setCallbacks([this] { ++calls.down; }, [this] { ++calls.up; }, [this] { ++calls.cancel; });
        field = new QLineEdit(&window);
        other = new ReleaseCounter(&window);
        other->setMinimumSize(40, 40);
        layout->addWidget(control);
        layout->addWidget(field);
        layout->addWidget(other);
        auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
        QObject::connect(esc, &QShortcut::activated, [this] { ++escShortcuts; });
        window.show();
        QApplication::setActiveWindow(&window);
        world.settle();
        button = control->button();
    }

    void key(QWidget* to, QEvent::Type type, int key, bool autoRepeat = false, quint64 timestamp = 0)
    {
        QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(), autoRepeat);
        event.setTimestamp(timestamp);
        QApplication::sendEvent(to, &event);
    }

    QWidget window;
    ui::HoldToTalkControl* control = nullptr;
    ui::HoldButton* button = nullptr;
    QLineEdit* field = nullptr;
    ReleaseCounter* other = nullptr;
    Calls calls;
    int escShortcuts = 0;
};

}  // namespace

TEST(HoldButton, MouseHoldEndsOnAReleaseAnywhereAndSwallowsIt)
{
    test::UiWorld world;
    Window w(world);
    QTest::mousePress(w.button, Qt::LeftButton);
    EXPECT_EQ(w.calls.down, 1);
    EXPECT_TRUE(w.button->isHolding());
    // A second press of either kind starts nothing.
    QTest::mousePress(w.button, Qt::LeftButton);
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(w.calls.down, 1);

    QTest::mouseRelease(w.other, Qt::LeftButton);
    EXPECT_EQ(w.calls.up, 1);
    EXPECT_EQ(w.other->releases, 0) << "the release that ends a hold reaches no other widget";
    EXPECT_FALSE(w.button->isHolding());

    // With the hold over, releases reach their widgets again and end nothing.
    QTest::mouseRelease(w.other, Qt::LeftButton);
    EXPECT_EQ(w.other->releases, 1);
    EXPECT_EQ(w.calls.up, 1);
    EXPECT_EQ(w.calls.cancel, 0);
}

TEST(HoldButton, SpaceHoldIgnoresAutoRepeatAndEndsOnTheRealRelease)
{
    test::UiWorld world;
    Window w(world);
    w.button->setFocus();
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(w.calls.down, 1);
    for (int i = 0; i < 10; ++i) {
        // X11 fakes a release before every repeated press.
        w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, true);
        w.key(w.button, QEvent::KeyPress, Qt::Key_Space, true);
    }
    EXPECT_EQ(w.calls.down, 1);
    EXPECT_EQ(w.calls.up, 0);
    EXPECT_TRUE(w.button->isHolding());
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.calls.down, 1);
    EXPECT_EQ(w.calls.up, 1);
    EXPECT_EQ(w.calls.cancel, 0);

    // Where repeats come unmarked (X11), a release and a press of one
    // instant are a repeat; a release no press of its instant follows ends
    // the hold once its grace is out.
    w.button->setRepeatGrace(0);
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, 100);
    for (quint64 instant = 700; instant < 1000; instant += 40) {
        w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, instant);
        w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, instant);
        world.settle();
    }
    EXPECT_EQ(w.calls.down, 2);
    EXPECT_EQ(w.calls.up, 1);
    EXPECT_TRUE(w.button->isHolding());
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, 1010);
    EXPECT_TRUE(w.button->isHolding()) << "the release waits for its grace";
    world.settle();
    EXPECT_FALSE(w.button->isHolding());
    EXPECT_EQ(w.calls.up, 2);
    EXPECT_EQ(w.calls.cancel, 0);
}

TEST(HoldButton, EscCancelsEitherHoldWithoutFiringEscShortcuts)
{
    test::UiWorld world;
    Window w(world);
    // Without a hold Esc is the window's, and ends nothing.
    QTest::keyClick(w.button, Qt::Key_Escape);
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.escShortcuts, 1);
    EXPECT_EQ(w.calls.up + w.calls.cancel + w.calls.down, 0);

    QTest::mousePress(w.button, Qt::LeftButton);
    QTest::keyClick(w.button, Qt::Key_Escape);
    EXPECT_EQ(w.calls.cancel, 1);
    EXPECT_EQ(w.escShortcuts, 1);
    // The mouse release that follows belongs to nobody's hold.
    QTest::mouseRelease(w.button, Qt::LeftButton);
    EXPECT_EQ(w.calls.up, 0);

    w.button->setFocus();
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    QTest::keyClick(w.field, Qt::Key_Escape);
    EXPECT_EQ(w.calls.down, 2);
    EXPECT_EQ(w.calls.cancel, 2);
    EXPECT_EQ(w.escShortcuts, 1);
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.calls.up, 0);
}

TEST(HoldButton, FocusLossCancelsOnlyAKeyboardHold)
{
    test::UiWorld world;
    Window w(world);
    QTest::mousePress(w.button, Qt::LeftButton);
    w.field->setFocus();
    EXPECT_EQ(w.calls.cancel, 0);
    EXPECT_TRUE(w.button->isHolding());
    QTest::mouseRelease(w.field, Qt::LeftButton);
    EXPECT_EQ(w.calls.up, 1);

    w.button->setFocus();
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    w.field->setFocus();
    EXPECT_EQ(w.calls.cancel, 1);
    w.key(w.field, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.calls.up, 1);
}

TEST(HoldButton, HidingDeletingOrDeactivatingCancelsTheHoldOnce)
{
    test::UiWorld world;
    {
        Window w(world);
        QTest::mousePress(w.button, Qt::LeftButton);
        w.control->hide();
        EXPECT_EQ(w.calls.cancel, 1);
        w.control->show();
        QTest::mouseRelease(w.button, Qt::LeftButton);
        EXPECT_EQ(w.calls.up, 0);

        w.button->setFocus();
        w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
        world.activity.resignActive();
        EXPECT_EQ(w.calls.cancel, 2);
        EXPECT_EQ(world.activity.observerCount(), 0u) << "only a hold listens for deactivation";
        QTest::mousePress(w.button, Qt::LeftButton);
        world.activity.resignActive();
        EXPECT_EQ(w.calls.cancel, 3);
        EXPECT_EQ(w.calls.down, 3);
        // The program's own shortcut held (its X11 grab takes the focus):
        // a mouse hold goes on to its release, a Space hold still ends.
        bool shortcutHeld = true;
        w.button->setOwnShortcutHeld([&] { return shortcutHeld; });
        QTest::mousePress(w.button, Qt::LeftButton);
        world.activity.resignActive();
        EXPECT_TRUE(w.button->isHolding());
        QTest::mouseRelease(w.button, Qt::LeftButton);
        EXPECT_EQ(w.calls.up, 1);
        w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
        world.activity.resignActive();
        EXPECT_EQ(w.calls.cancel, 4);
        w.key(w.button, QEvent::KeyRelease, Qt::Key_Space);
        shortcutHeld = false;
        EXPECT_EQ(w.calls.down, 5);

        QTest::mousePress(w.button, Qt::LeftButton);
        Calls* calls = &w.calls;
        delete w.control;
        EXPECT_EQ(calls->cancel, 5);
        EXPECT_EQ(calls->up, 1);
        // The filter went with the button: releases are ordinary again.
        QTest::mouseRelease(w.other, Qt::LeftButton);
        EXPECT_EQ(w.other->releases, 1);
    }
    // Hiding the window that holds the control (settings taking its place).
    Window w(world);
    QTest::mousePress(w.button, Qt::LeftButton);
    w.window.hide();
    EXPECT_EQ(w.calls.cancel, 1);
}

TEST(HoldButton, DisabledStartsNothingButARunningHoldStillEnds)
{
    test::UiWorld world;
    Window w(world);
    w.control->setHoldEnabled(false);
    QTest::mousePress(w.button, Qt::LeftButton);
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(w.calls.down, 0);

    w.control->setHoldEnabled(true);
    QTest::mousePress(w.button, Qt::LeftButton);
    w.control->setHoldEnabled(false);
    QTest::mouseRelease(w.button, Qt::LeftButton);
    EXPECT_EQ(w.calls.up, 1);

    w.control->setHoldEnabled(true);
    w.button->setFocus();
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    w.control->setHoldEnabled(false);
    EXPECT_EQ(w.calls.cancel, 0) << "losing focus by being disabled is no cancel";
    // The focus stays, so the held key's repeats and release reach no
    // other control, and the refusal is what a screen reader hears.
    EXPECT_EQ(QApplication::focusWidget(), w.button);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(w.button)->state().disabled);
    w.key(QApplication::focusWidget(), QEvent::KeyPress, Qt::Key_Space, true);
    w.key(QApplication::focusWidget(), QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.calls.up, 2);
    EXPECT_EQ(w.calls.cancel, 0);
    // Refusing, a whole Space press is swallowed and starts nothing, and
    // says so at the press, as a refused click does.
    int refused = 0;
    w.control->setOnRefusedPress([&refused] { ++refused; });
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(refused, 1);
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.calls.down, 2);
    EXPECT_EQ(QApplication::focusWidget(), w.button);
    QTest::mousePress(w.button, Qt::LeftButton);
    QTest::mouseRelease(w.button, Qt::LeftButton);
    EXPECT_EQ(refused, 2);
    w.control->setHoldEnabled(true);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(w.button)->state().disabled);

    // Holds allowed again while a refused Space is still held (the last
    // sentence played out): its unmarked repeats (X11) start no hold, and
    // its release ends nothing.
    w.button->setRepeatGrace(0);
    w.control->setHoldEnabled(false);
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, 100);
    EXPECT_EQ(refused, 3);
    w.control->setHoldEnabled(true);
    for (quint64 instant = 600; instant < 900; instant += 40) {
        w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, instant);
        w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, instant);
        world.settle();
    }
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, 910);
    world.settle();
    EXPECT_EQ(w.calls.down, 2);
    EXPECT_EQ(w.calls.up, 2);
    EXPECT_EQ(w.calls.cancel, 0);
    EXPECT_EQ(refused, 3);
    // The next press is a hold.
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, 2000);
    EXPECT_EQ(w.calls.down, 3);
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, 2100);
    world.settle();
    EXPECT_EQ(w.calls.up, 3);

    // A click held down while a refused Space still is: the key's release
    // leaves the mouse hold alone.
    w.control->setHoldEnabled(false);
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space, false, 3000);
    w.control->setHoldEnabled(true);
    QTest::mousePress(w.button, Qt::LeftButton);
    w.key(w.button, QEvent::KeyRelease, Qt::Key_Space, false, 3100);
    world.settle();
    EXPECT_TRUE(w.button->isHolding());
    QTest::mouseRelease(w.button, Qt::LeftButton);
    EXPECT_EQ(w.calls.down, 4);
    EXPECT_EQ(w.calls.up, 4);
}

// A keyboard hold cancelled with its key still down: the rest of that
// press (repeats, the release) types and presses nothing elsewhere, and
// the next press is an ordinary one.
TEST(HoldButton, TheRestOfACancelledSpacePressReachesNoOtherControl)
{
    test::UiWorld world;
    Window w(world);
    w.button->setFocus();
    w.key(w.button, QEvent::KeyPress, Qt::Key_Space);
    QTest::keyClick(w.button, Qt::Key_Escape);
    ASSERT_EQ(w.calls.cancel, 1);
    w.field->setFocus();
    for (int i = 0; i < 3; ++i) {
        w.key(w.field, QEvent::KeyRelease, Qt::Key_Space, true);
        w.key(w.field, QEvent::KeyPress, Qt::Key_Space, true);
    }
    w.key(w.field, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(w.field->text(), QString());
    QTest::keyClick(w.field, Qt::Key_Space);
    w.key(w.field, QEvent::KeyPress, Qt::Key_Space, true);
    EXPECT_EQ(w.field->text(), QStringLiteral("  ")) << "the key is the field's again";
    EXPECT_EQ(w.calls.down, 1);
    EXPECT_EQ(w.calls.up, 0);
}

TEST(HoldButton, ThroughTheWindowAReleaseElsewhereEndsTheHoldAndLaterClicksAreOrdinary)
{
    test::UiWorld world;
    Window w(world);
    QWindow* handle = w.window.windowHandle();
    ASSERT_NE(handle, nullptr);
    auto at = [&](QWidget* widget) { return widget->mapTo(&w.window, widget->rect().center()); };
    QTest::mousePress(handle, Qt::LeftButton, {}, at(w.button));
    EXPECT_EQ(w.calls.down, 1);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, at(w.other));
    EXPECT_EQ(w.calls.up, 1);
    EXPECT_EQ(w.other->releases, 0);

    // The next click elsewhere is that widget's, not the button's.
    QTest::mousePress(handle, Qt::LeftButton, {}, at(w.other));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, at(w.other));
    EXPECT_EQ(w.other->releases, 1);
    EXPECT_EQ(w.calls.down, 1);
    EXPECT_EQ(w.calls.up, 1);

    // A hold whose release was lost (a sheet over the window kept it; the
    // smoke tests hold the real one): the next click, in another window,
    // ends the hold and is that window's.
    QTest::mousePress(handle, Qt::LeftButton, {}, at(w.button));
    QWidget notice;
    auto* ok = new QPushButton(QStringLiteral("OK"), &notice);
    int clicks = 0;
    QObject::connect(ok, &QPushButton::clicked, [&clicks] { ++clicks; });
    notice.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(w.calls.up, 2);
    EXPECT_FALSE(w.button->isHolding());
}
