// The whole program as main() builds it, on the simulated machine: in this
// process on the manual clock, and as the built executable.

#include "app/Application.h"
#include "model/AppModel.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimSettingsStore.h"
#include "runtime/ManualRuntime.h"
#include "speech/InterfaceLanguage.h"
#include "support/TempDirectory.h"

// After the engine headers: Qt's keyword macros would rename their members.
#include "UiWorld.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/HeaderView.h"
#include "app/MainWindow.h"
#include "app/SheetGuard.h"
#include "app/SymbolPill.h"
#include "app/TrayMenu.h"
#include "settings/SettingsView.h"
#include "settings/StartupSheet.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace parlaro::test {
namespace {

constexpr const char* pageNames[] = {"general", "speaking", "voice", "virtualmic", "history", "updates", "status"};

// Each copy gets a socket of its own, so parallel runs never meet.
QString freshInstanceName()
{
    static int made = 0;
    return QStringLiteral("parlaro-smoke-%1-%2").arg(::getpid()).arg(++made);
}

bool shown(const QWidget* widget)
{
    return widget && widget->isVisible();
}

class AppSmoke : public testing::Test {
protected:
    ~AppSmoke() override
    {
        application.reset();
        settle();
    }

    app::Application::Options options()
    {
        return {.kind = app::ServiceFactory::Kind::sim,
                .instanceName = instanceName,
                .defaults = &defaults,
                .historyFolder = folder / "history",
                .engineParts = freshEngineParts(),
                .trayAvailable = [this] { return tray; },
                .executor = &runtime.executor(),
                .activity = &activity,
                .preferredLanguages = std::vector<std::string>{"zh-Hans-CN"}};
    }

    app::Application& start()
    {
        application = std::make_unique<app::Application>(options());
        EXPECT_TRUE(application->start());
        settle();
        // The model's start-up: device checks and listening on their timers.
        advance(1.0);
        return *application;
    }

    // A later start: the microphone check comes up each time, and the user
    // closes it.
    app::Application& startReady()
    {
        defaults.set("onboardingDone", true);
        app::Application& app = start();
        ui::StartupSheet* sheet = content().sheet();
        EXPECT_EQ(sheet->page(), ui::StartupSheet::Page::micCheck);
        if (sheet->dialog())
            QTest::keyClick(sheet->dialog(), Qt::Key_Escape);
        settle();
        EXPECT_FALSE(shown(sheet->dialog()));
        return app;
    }

    // The executor and the event loop until neither has work, a few times
    // over: the window system tells of a drawn window only some turns later.
    void settle()
    {
        for (int pass = 0; pass < 3; ++pass) {
            for (int round = 0; round < 1000; ++round) {
                const auto jobs = runtime.runUntilIdle();
                QApplication::sendPostedEvents();
                QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                QApplication::processEvents();
                if (jobs == 0 && runtime.executor().pendingJobs() == 0)
                    break;
            }
        }
    }
    void advance(double seconds)
    {
        runtime.advance(seconds);
        settle();
    }

    AppModel& model() const { return *application->factory()->model(); }
    app::ContentView& content() const { return *application->content(); }

    rt::ManualRuntime runtime;
    InterfaceLanguage::Revision revision;
    InterfaceLanguage::Revision::Scope revisionScope{revision};
    sim::SimSettingsStore defaults;
    TempDirectory folder;
    ui::ManualAppActivity activity;
    QString instanceName = freshInstanceName();
    bool tray = false;
    std::unique_ptr<app::Application> application;
};

TEST_F(AppSmoke, FirstRunOpensTheWindowWithTheWizardAndFinishingItClosesTheSheet)
{
    app::Application& app = start();
    app::MainWindow* window = app.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(shown(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Parlaro"));
    EXPECT_EQ(window->objectName(), QStringLiteral("main"));
    EXPECT_EQ(window->size(), QSize(1180, 800));
    EXPECT_EQ(model().history.get(), app.factory()->history()) << "launch attached the history";
    EXPECT_TRUE(ModelTestAccess::metersVisible(model()).get()) << "the window is on screen";
    EXPECT_FALSE(app.tray()->icon()->isVisible()) << "no tray, so no icon";

    ui::StartupSheet* sheet = content().sheet();
    ASSERT_TRUE(shown(sheet->dialog()));
    EXPECT_EQ(sheet->page(), ui::StartupSheet::Page::wizard);
    snapshot(*sheet->dialog(), QStringLiteral("app"), QStringLiteral("wizard"));

    auto* done = sheet->dialog()->findChild<QPushButton*>(QStringLiteral("wizard.done"));
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->text(), QStringLiteral("完成"));
    QTest::mouseClick(done, Qt::LeftButton);
    settle();
    EXPECT_FALSE(shown(sheet->dialog()));
    EXPECT_FALSE(model().showWizard.get());
    EXPECT_TRUE(shown(window));
    snapshot(*window, QStringLiteral("app"), QStringLiteral("call"));
}

// A conversation file that cannot be read is told once as the window comes
// up, not only when the history page is first opened, and is kept.
TEST_F(AppSmoke, AConversationFileThatCannotBeReadIsToldAtStartOnceAndKept)
{
    const std::filesystem::path file = folder / "history" / (rt::Uuid::random().toString() + ".json");
    std::filesystem::create_directories(file.parent_path());
    folder.write(file, "{\"id\": ");
    start();
    const std::optional<std::string> told = model().errorMessage.get();
    ASSERT_TRUE(told);
    EXPECT_NE(told->find("无法读取聊天记录文件"), std::string::npos) << *told;
    EXPECT_NE(told->find(file.filename().string()), std::string::npos) << *told;
    EXPECT_EQ(folder.read(file), "{\"id\": ");

    model().dismissError();
    application->factory()->history()->load();
    advance(1.0);
    EXPECT_EQ(model().errorMessage.get(), std::nullopt);
}

TEST_F(AppSmoke, EverySettingsPageOpensThroughTheHeaderAndTheSidebarAndEscapeReturnsToTheCall)
{
    startReady();
    auto* settingsButton = content().header()->findChild<QAbstractButton*>(QStringLiteral("header.settings"));
    ASSERT_NE(settingsButton, nullptr);
    const SettingsPage headerPage =
        app::ContentView::attentionPage(model(), *application->factory()->updates()).value_or(SettingsPage::general);

    for (int index = 0; index < 7; ++index) {
        SCOPED_TRACE(pageNames[index]);
        QTest::mouseClick(settingsButton, Qt::LeftButton);
        settle();
        EXPECT_EQ(model().settingsPage.get(), headerPage);
        settings::SettingsView* view = content().settingsView();
        ASSERT_NE(view, nullptr);
        EXPECT_TRUE(shown(view));
        EXPECT_FALSE(shown(content().callScreen()));

        auto* row = view->findChild<QAbstractButton*>(QStringLiteral("settings.row.%1").arg(index));
        ASSERT_NE(row, nullptr);
        QTest::mouseClick(row, Qt::LeftButton);
        settle();
        EXPECT_EQ(model().settingsPage.get(), static_cast<SettingsPage>(index));
        EXPECT_TRUE(row->isChecked());
        snapshot(*application->window(), QStringLiteral("app"), QString::fromLatin1(pageNames[index]));

        QTest::keyClick(view, Qt::Key_Escape);
        settle();
        EXPECT_FALSE(model().settingsPage.get());
        EXPECT_TRUE(shown(content().callScreen()));
    }

    // By keyboard, Return and Enter press the button and the tab in focus.
    settingsButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(settingsButton, Qt::Key_Return);
    settle();
    ASSERT_EQ(model().settingsPage.get(), headerPage);
    auto* tab = content().settingsView()->findChild<QAbstractButton*>(QStringLiteral("settings.row.3"));
    ASSERT_NE(tab, nullptr);
    tab->setFocus(Qt::TabFocusReason);
    QTest::keyClick(tab, Qt::Key_Enter, Qt::KeypadModifier);
    settle();
    EXPECT_EQ(model().settingsPage.get(), static_cast<SettingsPage>(3));
    QTest::keyClick(content().settingsView(), Qt::Key_Escape);
    settle();

    // The window's menu reaches the same pages.
    application->window()->settingsAction()->trigger();
    settle();
    EXPECT_EQ(model().settingsPage.get(), SettingsPage::general);
}

// The microphone unplugged while the talk button is held with the mouse:
// the microphone check comes up as a sheet over the window, and one click
// on its OK acts once the button is let go.
TEST_F(AppSmoke, AfterAMouseHoldOneClickOnTheSheetThatCameUpDuringItActs)
{
    defaults.set("onboardingDone", true);
    app::Application& app = start();
    // A headset beside the built-in microphone, to go on with.
    auto& audio = dynamic_cast<sim::SimAudioSystem&>(app.factory()->audioSystem());
    audio.addDevice({.id = 900, .uid = "usb-headset", .name = "Headset", .inputBuffers = {1}});
    advance(1.0);
    ui::StartupSheet* sheet = content().sheet();
    ASSERT_EQ(sheet->page(), ui::StartupSheet::Page::micCheck);
    auto* ok = sheet->dialog()->findChild<QAbstractButton*>(QStringLiteral("micCheck.confirm"));
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
    settle();
    ASSERT_FALSE(shown(sheet->dialog()));
    ASSERT_TRUE(model().micConfirmed.get());

    QWidget* window = application->window();
    auto* talk = window->findChild<QAbstractButton*>(QStringLiteral("holdToTalk.button"));
    ASSERT_NE(talk, nullptr);
    const QPoint at = talk->mapTo(window, talk->rect().center());
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
    settle();
    ASSERT_TRUE(model().isHoldingToTalk.get());
    audio.removeObject(*model().selectedInputID.get());
    advance(1.0);
    ASSERT_TRUE(shown(sheet->dialog()));
    ASSERT_EQ(sheet->page(), ui::StartupSheet::Page::micCheck);
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, at);
    settle();

    QWidget* dialog = sheet->dialog();
    ok = dialog->findChild<QAbstractButton*>(QStringLiteral("micCheck.confirm"));
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {}, ok->mapTo(dialog, ok->rect().center()));
    settle();
    EXPECT_FALSE(shown(sheet->dialog()));
    EXPECT_TRUE(model().micConfirmed.get());
}

TEST_F(AppSmoke, SigtermClosesTheSheetsSavesOnceAndEndsTheLoopWithZero)
{
    app::Application& app = start();
    ASSERT_TRUE(shown(content().sheet()->dialog())) << "the wizard is up when the signal comes";
    // The virtual microphone took the built-in one's place as the default.
    auto& audio = dynamic_cast<sim::SimAudioSystem&>(app.factory()->audioSystem());
    const auto& inputs = model().inputDevices.get();
    const auto builtIn = std::find_if(inputs.begin(), inputs.end(),
                                      [](const AudioDevice& device) { return device.uid == "sim-builtin-mic"; });
    ASSERT_NE(builtIn, inputs.end());
    EXPECT_NE(audio.defaultDevice(true), builtIn->id);

    // The signal arrives from outside the event loop, as a real one does;
    // virtual time passes while the loop runs, and a guard ends a loop that
    // never ends on its own.
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [this] { runtime.advance(0.01); });
    ticks.start(0);
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&guardFired] {
        guardFired = true;
        QCoreApplication::exit(3);
    });
    guard.start(10'000);
    const int code = app::Application::exec();
    guard.stop();

    EXPECT_FALSE(guardFired);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(app.delegate()->hasTerminated());
    EXPECT_FALSE(model().showWizard.get()) << "the sheets were dismissed first";
    EXPECT_FALSE(shown(content().sheet()->dialog()));
    EXPECT_FALSE(ModelTestAccess::filing(model()).sessionID.get());
    EXPECT_EQ(audio.defaultDevice(true), builtIn->id) << "the default input is given back";
}

// A sheet up when the window is closed: the close quits as the quit item
// does, tray or not, and the sheet neither stays nor takes the window's input
// away from the close; the window's own input waits for the sheet.
TEST_F(AppSmoke, ClosingTheWindowWithASheetUpQuitsAsTheQuitItemDoes)
{
    app::Application& app = start();
    tray = true;
    auto* sheet = content().sheet()->dialog();
    ASSERT_TRUE(shown(sheet));
    // The window is not blocked for the toolkit, which would drop the close
    // a desktop sends; the sheet is still the window's.
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(app.window()->sheetGuard()->sheetUp(), sheet);
    // A click on the window's settings button does nothing while it is up,
    // nor does the window's shortcut for it, typed on the sheet.
    QTest::mouseClick(static_cast<QWidget*>(content().header()->settingsButton()), Qt::LeftButton);
    settle();
    EXPECT_EQ(model().settingsPage.get(), std::nullopt);
    ASSERT_NE(sheet->focusWidget(), nullptr);
    QTest::keyClick(sheet->focusWidget(), Qt::Key_Comma, Qt::ControlModifier);
    settle();
    EXPECT_EQ(model().settingsPage.get(), std::nullopt);

    app.window()->close();
    // The quit waits a moment for the sheets to close themselves.
    for (int tick = 0; tick < 2 * app::AppDelegate::quitTries && !app.delegate()->hasTerminated(); ++tick) {
        settle();
        runtime.advance(app::AppDelegate::quitRetryInterval);
    }
    EXPECT_TRUE(app.delegate()->hasTerminated()) << "the close quit, as Ctrl+Q does";
    EXPECT_FALSE(shown(sheet));
}

TEST_F(AppSmoke, ClosingTheWindowHidesItWithATrayAndQuitsWithout)
{
    app::Application& app = startReady();
    ASSERT_FALSE(app.tray()->icon()->isVisible());
    // The panel's tray comes up after the program, as at login: the close
    // puts the icon there before the window goes.
    tray = true;
    app.window()->close();
    settle();
    EXPECT_FALSE(shown(app.window()));
    EXPECT_TRUE(app.tray()->icon()->isVisible()) << "nothing else could bring the window back";
    EXPECT_FALSE(app.delegate()->hasTerminated()) << "the tray brings it back";
    EXPECT_FALSE(ModelTestAccess::metersVisible(model()).get());

    app.tray()->menu()->actions().front()->trigger();
    settle();
    EXPECT_TRUE(shown(app.window()));
    EXPECT_TRUE(ModelTestAccess::metersVisible(model()).get());

    // The desktop lost its tray: a close would leave nothing to come back by.
    tray = false;
    app.window()->close();
    settle();
    EXPECT_TRUE(app.delegate()->hasTerminated());
}

// The built program.

QProcessEnvironment programEnvironment(const TempDirectory& home, const QString& instance)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PARLARO_INSTANCE"), instance);
    // Whatever the program would write lands in the test's folder.
    const QString root = QString::fromStdString(home.path().string());
    environment.insert(QStringLiteral("HOME"), root);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    return environment;
}

// Waits, while this process keeps handling its own events, until the
// program says it is up; false when it ends or stays silent for `limitMs`.
bool waitUntilRunning(QProcess& program, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    QByteArray said;
    while (waited.elapsed() < limitMs && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(50);
        said += program.readAllStandardError();
        // Prefixed as every line the program writes there.
        if (said.contains("parlaro: Parlaro is running.\n"))
            return true;
        QApplication::processEvents();
    }
    return false;
}

// Started with its input and output closed, as some launchers start it:
// those places hold the null device, not the first socket it opens.
TEST(AppProcess, SigtermEndsTheRunningProgramWithZero)
{
    TempDirectory home;
    QProcess program;
    program.setProcessEnvironment(programEnvironment(home, freshInstanceName()));
    program.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --sim <&- >&-"), QStringLiteral(PARLARO_PROGRAM)});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();
    ASSERT_TRUE(waitUntilRunning(program, 60'000)) << program.readAllStandardError().toStdString();
    for (const char* place : {"0", "1"}) {
        std::error_code error;
        const auto held = std::filesystem::read_symlink(
            std::filesystem::path("/proc") / std::to_string(program.processId()) / "fd" / place, error);
        EXPECT_EQ(held.string(), "/dev/null") << "descriptor " << place;
    }

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(5000)) << "still running 5 s after SIGTERM";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

TEST(AppProcess, ALaunchBesideACopyThatNeverAnswersEndsWithOneAndSaysWhy)
{
    TempDirectory home;
    TempDirectory runtime;
    // Something listens at the user's own socket but never answers, as a
    // stopped copy does.
    const std::string path = (runtime / ("parlaro-" + std::to_string(::getuid()))).string();
    const int hung = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(hung, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(hung, 8), 0);

    QProcess program;
    QProcessEnvironment environment = programEnvironment(home, {});
    environment.remove(QStringLiteral("PARLARO_INSTANCE"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.path().string()));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PARLARO_PROGRAM), {QStringLiteral("--sim")});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();
    ASSERT_TRUE(program.waitForFinished(60'000)) << "the launch never ended";
    ::close(hung);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const QByteArray said = program.readAllStandardError();
    EXPECT_TRUE(said.contains(("parlaro: the copy already running (or another program listening at " + path
                               + ") did not answer within 5 s; not starting a second copy.")
                                  .c_str()))
        << said.toStdString();
    EXPECT_FALSE(said.contains("Parlaro is running"));
    EXPECT_TRUE(std::filesystem::is_socket(std::filesystem::symlink_status(path))) << "its socket is kept";
}

// The command line as a user types it: help and version answer without a
// display or a window, a misspelt option says how the program is used.
TEST(AppProcess, HelpAndVersionAnswerAndEndAndAnUnknownOptionEndsWithUsage)
{
    TempDirectory home;
    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };
    const auto run = [&](const QStringList& arguments, bool withDisplay) {
        QProcess program;
        QProcessEnvironment environment = programEnvironment(home, freshInstanceName());
        if (!withDisplay) {
            environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
            environment.remove(QStringLiteral("DISPLAY"));
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        }
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(PARLARO_PROGRAM), arguments);
        EXPECT_TRUE(program.waitForFinished(60'000)) << "still running: " << arguments.join(' ').toStdString();
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
        return Run{program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                   QString::fromUtf8(program.readAllStandardError())};
    };

    for (const QStringList& asked : {QStringList{QStringLiteral("--help")}, QStringList{QStringLiteral("-h")},
                                     QStringList{QStringLiteral("--sim"), QStringLiteral("--help")}}) {
        const Run help = run(asked, false);
        EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: parlaro [--sim]\n"))) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains(QStringLiteral("  --sim "))) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains(QStringLiteral("--version"))) << help.out.toStdString();
        EXPECT_FALSE(help.err.contains(QStringLiteral("Parlaro is running"))) << "it never started";
    }

    const Run version = run({QStringLiteral("--version")}, false);
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, QStringLiteral("Parlaro " PARLARO_VERSION "\n"));

    // Anything but ours and Qt's options is refused before Qt starts,
    // display or not: a misspelt option, a single-dash one, a bare word.
    for (const auto& [wrong, withDisplay] :
         {std::pair{QStringLiteral("--simulate"), false}, std::pair{QStringLiteral("--bogus=1"), false},
          std::pair{QStringLiteral("-bogus"), false}, std::pair{QStringLiteral("extra"), false},
          std::pair{QStringLiteral("-platform=offscreen"), false}, std::pair{QStringLiteral("call.txt"), true}}) {
        const Run unknown =
            run({QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("--sim"), wrong}, withDisplay);
        EXPECT_EQ(unknown.exitCode, 2) << unknown.err.toStdString();
        EXPECT_TRUE(unknown.out.isEmpty()) << unknown.out.toStdString();
        EXPECT_TRUE(unknown.err.contains(QStringLiteral("parlaro: unknown option '") + wrong + QStringLiteral("'\n")))
            << unknown.err.toStdString();
        EXPECT_TRUE(unknown.err.contains(QStringLiteral("Usage: parlaro [--sim]"))) << unknown.err.toStdString();
        EXPECT_FALSE(unknown.err.contains(QStringLiteral("Parlaro is running")));
    }

    // Without a display the program says so in one line and ends.
    for (const QStringList& asked : {QStringList{}, QStringList{QStringLiteral("--sim")}}) {
        const Run headless = run(asked, false);
        EXPECT_EQ(headless.exitCode, 1) << headless.err.toStdString();
        EXPECT_EQ(headless.err,
                  QStringLiteral("parlaro: there is no display to show the window on; start Parlaro from a desktop "
                                 "session.\n"));
    }

    const Run valueless = run({QStringLiteral("--sim"), QStringLiteral("-qwindowtitle")}, false);
    EXPECT_EQ(valueless.exitCode, 2) << valueless.err.toStdString();
    EXPECT_TRUE(valueless.err.startsWith(QStringLiteral("parlaro: option '-qwindowtitle' needs a value\nUsage: ")))
        << valueless.err.toStdString();

    // Qt's own options are Qt's: they are no usage error.
    QProcess program;
    program.setProcessEnvironment(programEnvironment(home, freshInstanceName()));
    program.start(QStringLiteral(PARLARO_PROGRAM),
                  {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--sim")});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();
    ASSERT_TRUE(waitUntilRunning(program, 60'000)) << program.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitCode(), 0);
}

TEST_F(AppSmoke, ASecondLaunchShowsTheFirstCopysWindowAndLeavesWithZero)
{
    tray = true;
    app::Application& app = startReady();
    EXPECT_TRUE(app.tray()->icon()->isVisible());
    app.window()->close();
    settle();
    ASSERT_FALSE(shown(app.window()));

    TempDirectory home;
    QProcess second;
    second.setProcessEnvironment(programEnvironment(home, instanceName));
    second.start(QStringLiteral(PARLARO_PROGRAM), {QStringLiteral("--sim")});
    ASSERT_TRUE(second.waitForStarted(5000)) << second.errorString().toStdString();
    QElapsedTimer waited;
    waited.start();
    while (second.state() != QProcess::NotRunning && waited.elapsed() < 60'000) {
        second.waitForFinished(20);
        settle();
    }
    ASSERT_EQ(second.state(), QProcess::NotRunning);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_FALSE(second.readAllStandardError().contains("Parlaro is running")) << "it never built a window";
    settle();
    EXPECT_TRUE(shown(app.window()));
}

}  // namespace
}  // namespace parlaro::test
