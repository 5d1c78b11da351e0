#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>

#include "XUser.h"
#include "support/Patience.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The built program as a user meets it under a window manager that frames
// its windows (openbox), on a 1024 × 768 X server of the test's own, with
// and without a 32 px panel at the top: the first window fits the work area
// frame and all, and, minimised and brought back by a second launch, its
// sheet takes the keys at once.

namespace {

std::string folder;  // the test's own, given on the command line

using parlaro::test::waitUntil;

// A QProcess wait's bound in milliseconds.
int patienceMs(double seconds)
{
    return static_cast<int>(parlaro::test::patience(seconds) * 1000);
}

// Another X client: reads what the window manager says about the windows
// and acts as the user, through the window manager's own requests and XTest.
class Desktop : public parlaro::test::XUser {
public:
    explicit Desktop(const std::string& display) : XUser(display) {}

    bool managed() { return !values(root_, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW).empty(); }

    QRect workArea()
    {
        const auto area = values(root_, "_NET_WORKAREA", XCB_ATOM_CARDINAL);
        return area.size() < 4 ? QRect() : QRect(int(area[0]), int(area[1]), int(area[2]), int(area[3]));
    }

    // The program's windows the user can see.
    std::vector<xcb_window_t> shownWindows()
    {
        std::vector<xcb_window_t> shown;
        for (std::uint32_t window : values(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW)) {
            auto* attributes =
                xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
            auto* name = xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64),
                nullptr);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && name
                && std::string(static_cast<const char*>(xcb_get_property_value(name)),
                               std::size_t(xcb_get_property_value_length(name)))
                       .starts_with("parlaro"))
                shown.push_back(window);
            std::free(attributes);
            std::free(name);
        }
        return shown;
    }

    // The window with its frame, where the screen shows it.
    QRect frame(xcb_window_t window)
    {
        auto* size = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        auto* at = xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr);
        QRect rect = size && at ? QRect(at->dst_x, at->dst_y, size->width, size->height) : QRect();
        std::free(size);
        std::free(at);
        if (const auto e = values(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL); e.size() == 4)
            rect.adjust(-int(e[0]), -int(e[2]), int(e[1]), int(e[3]));
        return rect;
    }

    // The window it stands over, or none.
    xcb_window_t transientFor(xcb_window_t window)
    {
        const auto owner = values(window, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW);
        return owner.empty() ? xcb_window_t(XCB_NONE) : owner[0];
    }

    // ICCCM's WM_STATE: 1 normal, 3 iconic.
    std::uint32_t state(xcb_window_t window)
    {
        const auto state = values(window, "WM_STATE", atom("WM_STATE"));
        return state.empty() ? 0 : state[0];
    }

    // Minimises the window as a task bar does.
    void iconify(xcb_window_t window) { askWindowManager(window, "WM_CHANGE_STATE", {3}); }

    // Closes the window as its title bar's close button does: the window
    // manager is asked, and it asks the program.
    void close(xcb_window_t window) { askWindowManager(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2}); }

    // Sends the window manager a request about the window, as a pager does.
    void askWindowManager(xcb_window_t window, const char* request, std::initializer_list<std::uint32_t> data)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom(request);
        std::copy(data.begin(), data.end(), message.data.data32);
        xcb_send_event(connection_, false, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        sync();
    }

    // A panel along the top edge that keeps `height` pixels for itself.
    void addTopPanel(int height)
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const xcb_window_t panel = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, panel, root_, 0, 0, screen->width_in_pixels,
                          std::uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, panel, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32,
                            1, &dock);
        const std::uint32_t strut[12] = {
            0, 0, std::uint32_t(height), 0, 0, 0, 0, 0, 0, std::uint32_t(screen->width_in_pixels - 1), 0, 0};
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, panel, atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL,
                            32, 12, strut);
        xcb_map_window(connection_, panel);
        sync();
    }
};

constexpr std::uint8_t escapeKey = 9;
constexpr std::uint8_t controlKey = 37;
constexpr std::uint8_t qKey = 24;
constexpr std::uint8_t returnKey = 36;

QProcessEnvironment environmentWith(std::initializer_list<std::pair<const char*, std::string>> values)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const auto& [name, value] : values)
        environment.insert(QString::fromLatin1(name), QString::fromStdString(value));
    return environment;
}

class ProgramUnderOpenbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(QString::fromStdString(folder)).removeRecursively();
        for (const char* sub : {"/runtime", "/home", "/second"})
            QDir().mkpath(QString::fromStdString(folder + sub));
        QFile::setPermissions(QString::fromStdString(folder + "/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        server.start(QStringLiteral("Xvfb"),
                     QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                 QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                                 QStringLiteral("1024x768x24")});
        ASSERT_TRUE(server.waitForReadyRead(patienceMs(30))) << "Xvfb said no display";
        display = ":" + server.readAllStandardOutput().trimmed().toStdString();
        windowManager.setProcessEnvironment(environmentWith({{"DISPLAY", display}, {"HOME", folder}}));
        windowManager.start(QStringLiteral("openbox"), {});
        desktop.emplace(display);
        ASSERT_TRUE(waitUntil([&] { return desktop->managed() && desktop->workArea().isValid(); }))
            << "openbox never took the screen";
    }

    void TearDown() override
    {
        for (QProcess* process : {&first, &windowManager, &server}) {
            process->terminate();
            if (!process->waitForFinished(patienceMs(10)))
                process->kill();
        }
        desktop.reset();
    }

    // The program as a launcher starts it, beside any copy running.
    void launch(QProcess& program, const std::string& home)
    {
        program.setProcessEnvironment(
            environmentWith({{"DISPLAY", display},
                             {"QT_QPA_PLATFORM", "xcb"},
                             {"HOME", home},
                             {"XDG_CONFIG_HOME", home + "/config"},
                             {"XDG_DATA_HOME", home + "/data"},
                             {"XDG_RUNTIME_DIR", folder + "/runtime"},
                             {"PARLARO_INSTANCE", folder + "/instance"},
                             {"LSAN_OPTIONS", "suppressions=" PARLARO_PROGRAM_LSAN ":print_suppressions=0"}}));
        program.start(QStringLiteral(PARLARO_PROGRAM), {QStringLiteral("--sim")});
    }

    // Started and shown: its main window.
    std::optional<xcb_window_t> startFirst()
    {
        launch(first, folder + "/home");
        QByteArray said;
        waitUntil(
            [&] {
                first.waitForReadyRead(20);
                said += first.readAllStandardError();
                return said.contains("Parlaro is running") || first.state() == QProcess::NotRunning;
            },
            60);
        std::optional<xcb_window_t> main;
        waitUntil([&] {
            for (xcb_window_t window : desktop->shownWindows())
                if (desktop->frame(window).width() > 900)
                    main = window;
            return main.has_value();
        });
        if (!main)
            ADD_FAILURE() << "no window shown: " << said.toStdString();
        return main;
    }

    QProcess server;
    QProcess windowManager;
    QProcess first;
    std::string display;
    std::optional<Desktop> desktop;
};

TEST_F(ProgramUnderOpenbox, TheFirstWindowFitsTheWorkAreaAndABroughtBackSheetTakesTheKeys)
{
    xcb_window_t main = XCB_NONE;
    for (const int panel : {0, 32}) {
        SCOPED_TRACE(panel ? "under a top panel" : "without a panel");
        if (panel) {
            desktop->addTopPanel(panel);
            ASSERT_TRUE(waitUntil([&] { return desktop->workArea().top() == panel; }));
        }
        const QRect area = desktop->workArea();
        ASSERT_EQ(area, QRect(0, panel, 1024, 768 - panel));
        const auto shown = startFirst();
        ASSERT_TRUE(shown);
        main = *shown;
        // Fitted once the window manager has framed it.
        waitUntil([&] { return area.contains(desktop->frame(main)); });
        const QRect frame = desktop->frame(main);
        EXPECT_TRUE(area.contains(frame))
            << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
        if (!panel) {
            first.terminate();
            ASSERT_TRUE(first.waitForFinished(patienceMs(30)));
            EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
        }
    }

    // Minimised with its start-up sheet (asked again should the window
    // manager still be framing it), then brought back by a second launch.
    ASSERT_TRUE(waitUntil([&] { return desktop->shownWindows().size() == 2 && desktop->state(main) == 1; }));
    auto asked = std::chrono::steady_clock::time_point();
    ASSERT_TRUE(waitUntil([&] {
        if (std::chrono::steady_clock::now() - asked > std::chrono::seconds(1)) {
            desktop->iconify(main);
            asked = std::chrono::steady_clock::now();
        }
        return desktop->state(main) == 3;
    })) << "never minimised";
    QProcess second;
    launch(second, folder + "/second");
    ASSERT_TRUE(second.waitForFinished(patienceMs(60)));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    xcb_window_t sheet = XCB_NONE;
    ASSERT_TRUE(waitUntil([&] {
        for (xcb_window_t window : desktop->shownWindows())
            if (window != main)
                sheet = window;
        return desktop->state(main) == 1 && sheet != XCB_NONE && desktop->focus() == sheet;
    })) << "the sheet never had the focus";

    // Esc ends the sheet, Ctrl+Q then quits: no click needed first.
    desktop->press({escapeKey});
    EXPECT_TRUE(waitUntil([&] { return desktop->shownWindows().size() == 1; })) << "Esc never reached the sheet";
    EXPECT_TRUE(waitUntil([&] { return desktop->focus() == main; })) << "the window never had the focus back";
    desktop->press({controlKey, qKey});
    EXPECT_TRUE(first.waitForFinished(patienceMs(30))) << "Ctrl+Q never quit";
    EXPECT_EQ(first.exitCode(), 0);
}

// The start-up sheet is up at the first start, centred on its window, and
// the window's close button quits the program then, as Ctrl+Q does; the
// next start's sheet acts on one click of its button.
TEST_F(ProgramUnderOpenbox, TheWindowsCloseQuitsWhileASheetIsUpAndOneClickOnTheSheetActs)
{
    for (const bool clicking : {false, true}) {
        SCOPED_TRACE(clicking ? "one click" : "the window's close");
        const auto shown = startFirst();
        ASSERT_TRUE(shown);
        const xcb_window_t main = *shown;
        auto sheetOf = [&] {
            for (xcb_window_t window : desktop->shownWindows())
                if (window != main)
                    return window;
            return xcb_window_t(XCB_NONE);
        };
        ASSERT_TRUE(waitUntil([&] { return sheetOf() != XCB_NONE && desktop->focus() == sheetOf(); }))
            << "no sheet took the keys";
        const xcb_window_t sheet = sheetOf();
        // Centred on its window, once both have their sizes.
        EXPECT_TRUE(waitUntil([&] {
            const QRect frame = desktop->frame(sheet);
            const QRect window = desktop->frame(main);
            return frame.height() > 200 && std::abs(frame.center().x() - window.center().x()) <= 2
                && std::abs(frame.center().y() - window.center().y()) <= 2;
        })) << "the sheet is not centred on its window";
        if (!clicking) {
            desktop->close(main);
            EXPECT_TRUE(first.waitForFinished(patienceMs(30))) << "the close never quit";
            EXPECT_EQ(first.exitCode(), 0);
            continue;
        }
        // Its button at the trailing end of the bottom row, inside the
        // padding, once the sheet has held its place for a second: a first
        // start lays the sheet out again as what this computer can do comes
        // in, and a busy machine draws that late.
        QRect frame;
        auto since = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitUntil([&] {
            const auto now = std::chrono::steady_clock::now();
            if (const QRect place = desktop->frame(sheet); place != frame) {
                frame = place;
                since = now;
            }
            return now - since >= std::chrono::seconds(1);
        }));
        desktop->click(frame.bottomRight() - QPoint(28 + 30, 28 + 20));
        EXPECT_TRUE(waitUntil([&] { return sheetOf() == XCB_NONE; })) << "one click did nothing";
        first.terminate();
        EXPECT_TRUE(first.waitForFinished(patienceMs(30)));
    }
}

// A notice that comes up with the window (its history folder is a plain
// file) stands over the start-up sheet with the keyboard: Enter answers it
// at once, and the sheet stays.
TEST_F(ProgramUnderOpenbox, ANoticeHasTheKeysAsItComesUp)
{
    const QString data = QString::fromStdString(folder + "/home/data/parlaro");
    ASSERT_TRUE(QDir().mkpath(data));
    QFile plain(data + QStringLiteral("/History"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const auto shown = startFirst();
    ASSERT_TRUE(shown);
    const xcb_window_t main = *shown;
    // The sheet stands over the window, the notice over the sheet.
    auto over = [&](bool sheet) {
        for (xcb_window_t window : desktop->shownWindows())
            if (window != main && (desktop->transientFor(window) == main) == sheet)
                return window;
        return xcb_window_t(XCB_NONE);
    };
    ASSERT_TRUE(waitUntil([&] { return over(true) != XCB_NONE && over(false) != XCB_NONE; }))
        << "no notice over the sheet";
    const xcb_window_t notice = over(false);
    EXPECT_TRUE(waitUntil([&] { return desktop->focus() == notice; })) << "the notice never had the keys";
    desktop->press({returnKey});
    EXPECT_TRUE(waitUntil([&] { return over(false) == XCB_NONE; })) << "Enter never reached the notice";
    EXPECT_NE(over(true), xcb_window_t(XCB_NONE)) << "Enter ended the sheet under the notice";
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(patienceMs(30)));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    QCoreApplication application(argc, argv);
    for (const char* tool : {"Xvfb", "openbox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "%s is not installed, so the program is not tested under a window manager\n", tool);
            return 77;
        }
    }
    return RUN_ALL_TESTS();
}
