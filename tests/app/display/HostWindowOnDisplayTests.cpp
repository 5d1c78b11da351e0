#include "XUser.h"
#include "app/QtHostWindow.h"
#include "support/Patience.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>

// The translation host's window on a real window system: a private Xvfb (no
// window manager, no compositor) or a private headless weston. Hidden, it
// must be nowhere: not drawn, not in the way of clicks, not holding the
// keyboard.

using namespace parlaro;
using app::QtHostWindow;

namespace {

std::string platformName;  // "xcb" or "wayland"
std::string xDisplay;

std::string firstWord(const std::string& path)
{
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

bool onX11()
{
    return platformName == "xcb";
}

// The bound on a wait for the display server, in Qt's milliseconds.
int patienceMs()
{
    return static_cast<int>(test::patience(30) * 1000);
}

// Runs Qt's events until `done`, for at most the real parts' patience.
bool pumpUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs());
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The X user, who also sees which top-level windows are drawn.
class XProbe : public test::XUser {
public:
    XProbe() : XUser(xDisplay) {}

    std::set<xcb_window_t> mappedTopLevels()
    {
        std::set<xcb_window_t> mapped;
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (!tree)
            return mapped;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            auto* attributes = xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                mapped.insert(children[i]);
            std::free(attributes);
        }
        std::free(tree);
        return mapped;
    }
};

// The user's window: a text field over the middle of the screen, where the
// host's window would appear, counting the clicks it gets.
class MainWindow : public QWidget {
public:
    MainWindow()
    {
        auto* layout = new QVBoxLayout(this);
        field = new QLineEdit(this);
        layout->addWidget(field);
        field->installEventFilter(this);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        setGeometry(QRect(QPoint(0, 0), QSize(500, 300)).translated(screen.center() - QPoint(250, 150)));
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            ++clicks;
        return QWidget::eventFilter(watched, event);
    }

    QLineEdit* field = nullptr;
    int clicks = 0;
};

bool exposed(QWidget* widget)
{
    return widget->windowHandle() && widget->windowHandle()->isExposed();
}

constexpr std::uint8_t keyA = 38;  // X keycode of the A key

// The user's window, shown and focused, and the host's window for a
// download prompt, made and hidden.
class HostWindowOnDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main, patienceMs()));
        main.activateWindow();
        main.field->setFocus();
        host = windows.makeHostWindow({.title = "正在准备翻译语言包…", .prompt = "请在系统提示中确认下载翻译语言包"});
        widget = dynamic_cast<QtHostWindow&>(*host).widget();
        host->showHidden(true);
    }

    MainWindow main;
    app::QtHostWindows windows;
    std::shared_ptr<HostWindow> host;
    QWidget* widget = nullptr;
};

}  // namespace

TEST_F(HostWindowOnDisplay, HiddenItIsNowhereSoClicksAndKeysReachTheUsersWindow)
{
    QCoreApplication::processEvents();
    EXPECT_FALSE(widget->isVisible());
    EXPECT_FALSE(exposed(widget));
    EXPECT_TRUE(exposed(&main));

    if (!onX11())
        return;  // no input can be injected into the headless compositor
    XProbe x;
    EXPECT_EQ(x.mappedTopLevels(), std::set<xcb_window_t>{static_cast<xcb_window_t>(main.winId())})
        << "only the user's window is on the screen";
    ASSERT_TRUE(pumpUntil([&] { return x.focus() == main.winId() && main.isActiveWindow(); }));

    // Where the host's window would stand, the click and the keys go to the
    // user's window.
    x.click(QGuiApplication::primaryScreen()->geometry().center());
    EXPECT_TRUE(pumpUntil([&] { return main.clicks == 1; }));
    x.press({keyA});
    EXPECT_TRUE(pumpUntil([&] { return main.field->text() == QStringLiteral("a"); }));
    EXPECT_EQ(x.focus(), main.winId());
}

TEST_F(HostWindowOnDisplay, RevealedItShowsInFrontAndHidingAgainUnmapsItAndGivesTheKeyboardBack)
{
    std::unique_ptr<XProbe> x;
    if (onX11()) {
        x = std::make_unique<XProbe>();
        ASSERT_TRUE(pumpUntil([&] { return x->focus() == main.winId(); }));
    }

    host->showRevealed();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget, patienceMs()));
    if (x) {
        EXPECT_TRUE(x->mappedTopLevels().contains(static_cast<xcb_window_t>(widget->winId())));
        EXPECT_TRUE(pumpUntil([&] { return x->focus() == widget->winId(); })) << "the download prompt's window is key";
    }

    // Overlapping reveals end with one hide; it leaves nothing behind.
    host->showRevealed();
    host->showHidden(false);
    EXPECT_TRUE(pumpUntil([&] { return !exposed(widget); }));
    EXPECT_FALSE(widget->isVisible());
    EXPECT_TRUE(exposed(&main));
    if (x) {
        EXPECT_EQ(x->mappedTopLevels(), std::set<xcb_window_t>{static_cast<xcb_window_t>(main.winId())});
        // The keys go to the user's window again, not to one nobody sees.
        EXPECT_NE(x->focus(), widget->winId());
        x->press({keyA});
        EXPECT_TRUE(pumpUntil([&] { return main.field->text() == QStringLiteral("a"); }));
    }
}

// host-window-display-tests xcb|wayland <fixture folder>: the X11 tests'
// Xvfb folder, or the folder of weston.sh. Exits 77 (skipped) when the
// fixture found no server to start.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s xcb|wayland <fixture folder>\n", argv[0]);
        return 2;
    }
    platformName = argv[1];
    const std::string dir = argv[2];
    if (onX11()) {
        const std::string number = firstWord(dir + "/display");
        if (number.empty()) {
            std::fprintf(stderr, "Xvfb is not installed, so the host window is not tested on X11\n");
            return 77;
        }
        xDisplay = ":" + number;
        setenv("DISPLAY", xDisplay.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
    } else {
        const std::string socket = firstWord(dir + "/socket");
        if (socket.empty()) {
            std::fprintf(stderr, "weston is not installed, so the host window is not tested on Wayland\n");
            return 77;
        }
        setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
        unsetenv("DISPLAY");
    }
    setenv("QT_QPA_PLATFORM", platformName.c_str(), 1);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    return RUN_ALL_TESTS();
}
