#include "platform/linux/x11/X11GlobalKeys.h"
#include "runtime/ManualRuntime.h"
#include "support/Patience.h"
#include "ui/HoldButton.h"
#include "ui/HoldShortcut.h"
#include "ui/HoldShortcutCenter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

using namespace parlaro;
using namespace std::chrono_literals;
using ui::HoldShortcut;
using ui::HoldShortcutCenter;
using Status = HoldShortcutCenter::Status;

namespace {

// X keycodes (input-event code + 8) of the keys pressed here.
constexpr std::uint8_t altL = 64;
constexpr std::uint8_t altR = 108;
constexpr std::uint8_t shiftL = 50;
constexpr std::uint8_t space = 65;
constexpr std::uint8_t letterA = 38;
constexpr std::uint8_t numLock = 77;

std::string displayName()
{
    std::ifstream in(std::string(PARLARO_X11_TEST_DIR) + "/display");
    std::string number;
    in >> number;
    return number.empty() ? std::string() : ":" + number;
}

// Another client on the same display: presses keys with XTest, grabs keys.
class OtherClient {
public:
    explicit OtherClient(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr))
    {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(connection_); }

    void key(std::uint8_t keycode, bool down)
    {
        xcb_test_fake_input(connection_, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, root_, 0, 0,
                            0);
        xcb_flush(connection_);
        // Make sure the server has handled it before the next step.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    // The pointer moved to a root position, or its left button.
    void pointer(int x, int y)
    {
        xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<std::int16_t>(x),
                            static_cast<std::int16_t>(y), 0);
        sync();
    }
    void leftButton(bool down)
    {
        xcb_test_fake_input(connection_, down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, root_, 0, 0,
                            0);
        sync();
    }
    void sync()
    {
        xcb_flush(connection_);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    void tap(std::uint8_t keycode)
    {
        key(keycode, true);
        key(keycode, false);
    }
    bool grab(std::uint8_t keycode, std::uint16_t mask)
    {
        auto cookie =
            xcb_grab_key_checked(connection_, 1, root_, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
};

class X11GlobalKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = displayName();
        if (display.empty())
            GTEST_SKIP() << "Xvfb is not installed, so the X11 backend is not tested here";
        keys = sys::X11GlobalKeys::connect(display.c_str());
        ASSERT_NE(keys, nullptr) << "cannot reach the test display " << display;
        other = std::make_unique<OtherClient>(display);
        center = std::make_unique<HoldShortcutCenter>(*keys);
        center->onDown = [this] { ++downs; };
        center->onUp = [this] { ++ups; };
        center->onCancel = [this] { ++cancels; };
    }

    // Events arrive from the reader thread; wait for them, a little past
    // the condition so extra events would be seen too. Only a hang runs
    // out the bound, however busy the X server's machine.
    void pumpUntil(const std::function<bool()>& done)
    {
        test::waitUntil([&] {
            runtime.runUntilIdle();
            return done();
        });
        settle();
    }
    void settle()
    {
        auto until = std::chrono::steady_clock::now() + 150ms;
        while (std::chrono::steady_clock::now() < until) {
            runtime.runUntilIdle();
            std::this_thread::sleep_for(2ms);
        }
    }
    std::tuple<int, int, int> counts() const { return {downs, ups, cancels}; }

    rt::ManualRuntime runtime;
    std::string display;
    std::unique_ptr<sys::X11GlobalKeys> keys;
    std::unique_ptr<OtherClient> other;
    std::unique_ptr<HoldShortcutCenter> center;
    int downs = 0;
    int ups = 0;
    int cancels = 0;
};

}  // namespace

TEST_F(X11GlobalKeys, AHoldGivesOneDownAndOneUpAndOnlyItsOwnKeysCount)
{
    EXPECT_TRUE(keys->hasDetectableAutorepeat());
    ASSERT_TRUE(keys->hasRawKeys());
    // Another client's keys: +code goes down, -code up, tap(code) both; 0
    // holds them a second, long enough for autorepeat. Then the downs, ups
    // and cancels they leave.
    const auto tap = [](int code) { return 0x100 + code; };
    struct Step {
        std::vector<int> keys;
        std::tuple<int, int, int> counts;
        const char* why = "";
    };
    // `heldElsewhere`: another client grabbed Alt+Space first.
    struct Case {
        const char* name;
        HoldShortcut shortcut;
        std::vector<Step> steps;
        bool heldElsewhere = false;
    };
    const auto altSpace = HoldShortcut::combo(49, HoldShortcut::altMask);
    const std::vector<Case> cases = {
        {"a combination held through autorepeat",
         altSpace,
         {{{+altL, +space, 0, -space, -altL}, {1, 1, 0}},
          {{tap(numLock), +altL, tap(space), -altL, tap(numLock)}, {2, 2, 0}, "with Num Lock on it still matches"},
          {{tap(space)}, {2, 2, 0}, "Space alone is not the combination"}}},
        {"a lone right Alt",
         HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt),
         {{{+altR}, {1, 0, 0}},
          {{-altR}, {1, 1, 0}},
          {{+altR, tap(letterA), -altR}, {2, 1, 1}, "an ordinary key cancels; the release after it sends nothing"},
          {{+altR, tap(shiftL)}, {3, 1, 1}, "another modifier changes nothing"},
          {{-altR}, {3, 2, 1}},
          {{tap(letterA)}, {3, 2, 1}, "letters typed with no hold are not watched"}}},
        {"a combination another client holds",
         altSpace,
         {{{+altL, tap(space), -altL}, {0, 0, 0}, "its keys are the other client's"}},
         true},
    };
    for (const auto& keyCase : cases) {
        SCOPED_TRACE(keyCase.name);
        OtherClient holder(display);
        if (keyCase.heldElsewhere)
            ASSERT_TRUE(holder.grab(space, XCB_MOD_MASK_1));
        ASSERT_EQ(center->activate(keyCase.shortcut), keyCase.heldElsewhere ? Status::taken : Status::active);
        downs = ups = cancels = 0;
        for (const Step& step : keyCase.steps) {
            for (const int key : step.keys) {
                if (key == 0)
                    std::this_thread::sleep_for(1s);
                else if (key > 0x100)
                    other->tap(static_cast<std::uint8_t>(key - 0x100));
                else
                    other->key(static_cast<std::uint8_t>(std::abs(key)), key > 0);
            }
            pumpUntil([&] { return counts() == step.counts; });
            EXPECT_EQ(counts(), step.counts) << step.why;
        }
        if (keyCase.heldElsewhere) {
            // Nothing half made stays behind: another combination still works.
            EXPECT_EQ(center->activate(HoldShortcut::combo(49, HoldShortcut::controlMask)), Status::active);
            OtherClient third(display);
            EXPECT_FALSE(third.grab(space, XCB_MOD_MASK_CONTROL)) << "ours while active";
            center->deactivate();
            EXPECT_TRUE(third.grab(space, XCB_MOD_MASK_CONTROL)) << "free after deactivate";
        }
        center->deactivate();
    }
}

TEST_F(X11GlobalKeys, KeyNamesComeFromTheServersLayout)
{
    HoldShortcut::useKeyboard(keys.get());
    EXPECT_EQ(HoldShortcut::keyName(0), "A");
    EXPECT_EQ(HoldShortcut::keyName(12), "Q");
    EXPECT_EQ(HoldShortcut::keyName(18), "1");
    EXPECT_EQ(HoldShortcut::keyName(50), "`");
    EXPECT_EQ(HoldShortcut::keyName(123), "←") << "named keys are not the layout's";
    EXPECT_EQ(HoldShortcut::keyName(52), "#52");

    // A layout switched while running is followed.
    if (std::system("command -v setxkbmap >/dev/null") != 0) {
        HoldShortcut::useKeyboard(nullptr);
        GTEST_SKIP() << "setxkbmap is not installed, so a layout change is not tried";
    }
    auto setLayout = [&](const char* layout) {
        std::string command = "setxkbmap -display " + display + " " + layout;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    };
    setLayout("de");
    pumpUntil([] { return HoldShortcut::keyName(6) == "Y"; });
    EXPECT_EQ(HoldShortcut::keyName(6), "Y");
    EXPECT_EQ(HoldShortcut::keyName(41), "Ö");
    EXPECT_EQ(keys->keyCharacter(61), std::optional<std::string>("AltGr")) << "right Alt is AltGr there";
    setLayout("us");
    pumpUntil([] { return HoldShortcut::keyName(6) == "Z"; });
    EXPECT_EQ(HoldShortcut::keyName(6), "Z");
    HoldShortcut::useKeyboard(nullptr);
}

// The combination's passive grab takes the keyboard while it is held, and
// the toolkit reads the focus it loses as the window going inactive: a mouse
// hold on the talk button must outlast that and end with its own release.
TEST_F(X11GlobalKeys, TheCombinationsGrabLeavesAMouseHoldOnTheTalkButtonAlone)
{
    ASSERT_EQ(center->activate(HoldShortcut::combo(49, HoldShortcut::altMask)), Status::active);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", QByteArray::fromStdString(display));
    int argc = 1;
    char name[] = "parlaro_x11_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    int holdDowns = 0, holdUps = 0, holdCancels = 0;
    {
        QWidget window;
        window.setGeometry(40, 40, 200, 120);
        auto* button = new ui::HoldButton(&window);
        button->setGeometry(50, 40, 100, 40);
        button->onDown = [&] { ++holdDowns; };
        button->onUp = [&] { ++holdUps; };
        button->onCancel = [&] { ++holdCancels; };
        button->setOwnShortcutHeld([this] { return center->isHeldNow(); });
        window.show();
        window.activateWindow();
        const auto pump = [&](const std::function<bool()>& done) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(test::patience(30));
            while (!done() && std::chrono::steady_clock::now() < deadline) {
                QCoreApplication::processEvents();
                runtime.runUntilIdle();
                std::this_thread::sleep_for(2ms);
            }
        };
        pump([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; });
        ASSERT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);
        const QPoint middle = button->mapToGlobal(button->rect().center());
        other->pointer(middle.x(), middle.y());
        other->leftButton(true);
        pump([&] { return button->isHolding(); });
        ASSERT_TRUE(button->isHolding());

        // The shortcut held long past the toolkit's wait for focus to return.
        // The grab takes the focus on the toolkit's connection; the press
        // comes on ours, and on a busy machine its delivery may still wait
        // behind the focus loss: the hold asks for what was sent.
        other->key(altL, true);
        other->key(space, true);
        const auto qtAlone = std::chrono::steady_clock::now() + std::chrono::duration<double>(test::patience(10));
        while (QGuiApplication::applicationState() == Qt::ApplicationActive
               && std::chrono::steady_clock::now() < qtAlone)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_NE(QGuiApplication::applicationState(), Qt::ApplicationActive) << "the grab took no focus";
        EXPECT_TRUE(button->isHolding()) << "the focus loss ended the mouse hold before the press was delivered";
        pump([&] { return downs == 1; });
        const auto heldUntil = std::chrono::steady_clock::now() + 1500ms;
        pump([&] { return std::chrono::steady_clock::now() > heldUntil; });
        EXPECT_TRUE(button->isHolding());
        other->key(space, false);
        other->key(altL, false);
        pump([&] { return ups == 1; });
        EXPECT_TRUE(button->isHolding());
        other->leftButton(false);
        pump([&] { return !button->isHolding(); });
        EXPECT_EQ(std::make_tuple(holdDowns, holdUps, holdCancels), std::make_tuple(1, 1, 0));
        EXPECT_EQ(counts(), std::make_tuple(1, 1, 0));
    }
}
