// The commands of the window's menu and of the tray, over the real delegate,
// window and tray.

#include "ShellWorld.h"

#include "app/AppCommands.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/TrayMenu.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "settings/StartupSheet.h"
#include "settings/UpdateModel.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace parlaro::test {
namespace {

rt::Async<settings::HttpResult> answerUpToDate(int* asked, settings::HttpRequest)
{
    ++*asked;
    co_return settings::HttpResult{settings::HttpResult::Kind::response, 200, R"({"version":"1.0"})"};
}

ConversationEntry entry(const std::string& text)
{
    ConversationEntry e;
    e.original = text;
    return e;
}

std::vector<std::string> texts(const QMenu& menu)
{
    std::vector<std::string> result;
    for (const QAction* action : menu.actions())
        result.push_back(action->isSeparator() ? "—" : action->text().toStdString());
    return result;
}

// The application as the program puts it together: the delegate, the
// commands, the window over a stand-in root view, and the tray.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        updates = settings::UpdateModel::make(
            settings::AppInfo{"1.0", true, "https://updates.example"},
            [this](settings::HttpRequest request) { return answerUpToDate(&updateChecks, std::move(request)); });
        auto& delegate = shell.make();
        commands = std::make_unique<app::AppCommands>(shell.model, updates, [&delegate] { delegate.showMainWindow(); });
        app::MainWindow::Commands windowCommands;
        windowCommands.checkForUpdates = [this] { commands->checkForUpdates(); };
        windowCommands.openSettings = [this] { commands->openSettings(); };
        windowCommands.quit = [&delegate] { delegate.quit(); };
        windowCommands.exportConversation = [this] { ++exports; };
        windowCommands.trayAvailable = [this] { return trayAvailable; };
        window = std::make_unique<app::MainWindow>(shell.model, new QLabel(QStringLiteral("root view")),
                                                   std::move(windowCommands));
        delegate.setMainWindow(window.get());
        tray = std::make_unique<app::TrayMenu>(app::TrayMenu::Commands{
            .showMainWindow = [&delegate] { delegate.showMainWindow(); },
            .openSettings = [this] { commands->openSettings(); },
            .checkForUpdates = [this] { commands->checkForUpdates(); },
            .quit = [&delegate] { delegate.quit(); },
        });
        delegate.launchFinished();
        window->show();
        shell.settle();
    }
    void TearDown() override
    {
        tray.reset();
        window.reset();
        shell.settle();
    }
    QAction* trayItem(const char* name) { return tray->menu()->findChild<QAction*>(QString::fromLatin1(name)); }

    ShellWorld shell;
    std::shared_ptr<settings::UpdateModel> updates;
    int updateChecks = 0;
    int exports = 0;
    bool trayAvailable = true;
    std::unique_ptr<app::AppCommands> commands;
    std::unique_ptr<app::MainWindow> window;
    std::unique_ptr<app::TrayMenu> tray;
};

TEST_F(ShellTest, TheWindowIsNamedSizedAndCarriesTheApplicationMenu)
{
    EXPECT_EQ(window->windowTitle(), "Parlaro");
    EXPECT_EQ(window->objectName(), "main");
    EXPECT_EQ(window->size(), QSize(1180, 800));
    // At its smallest the window still gives the content 980 × 700, with the
    // menu bar above it.
    window->resize(100, 100);
    shell.settle();
    EXPECT_EQ(window->centralWidget()->size(), QSize(980, 700));
    EXPECT_GT(window->menuBar()->height(), 0);
    EXPECT_EQ(window->centralWidget()->y(), window->menuBar()->geometry().bottom() + 1);
    EXPECT_EQ(window->size(), QSize(980, 700 + window->menuBar()->height()));
    window->resize(1180, 800);
    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint);
    ASSERT_EQ(window->menuBar()->actions().size(), 1);
    EXPECT_EQ(window->menuBar()->actions().front()->text(), "Parlaro");
    EXPECT_EQ(texts(*window->appMenu()),
              (std::vector<std::string>{"检查更新…", "设置…", "导出聊天记录…", "退出Parlaro"}));
    EXPECT_TRUE(window->checkForUpdatesAction()->shortcut().isEmpty());
    EXPECT_EQ(window->settingsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_EQ(window->exportAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    EXPECT_EQ(window->quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

    // The texts follow the interface language.
    shell.world.platform.bundles.setTable("en", {{"Parlaro", "Parlaro EN"}, {"退出Parlaro", "Quit Parlaro"}});
    InterfaceLanguage::set("en");
    shell.settle();
    EXPECT_EQ(window->windowTitle(), "Parlaro EN");
    EXPECT_EQ(window->quitAction()->text(), "Quit Parlaro");
    EXPECT_EQ(trayItem("tray.quit")->text(), "Quit Parlaro");
}

TEST_F(ShellTest, TheFirstWindowFitsTheScreensAvailableArea)
{
    // A common desktop holds the first size.
    EXPECT_EQ(window->size(), QSize(1180, 800));

    // 1024 × 768 less a panel and the frame: the window fits; the content
    // keeps its least width, and its least height gives way to the area.
    const auto fitted = [&](QSize area) {
        auto fresh = std::make_unique<app::MainWindow>(shell.model, new QLabel(QStringLiteral("root view")),
                                                       app::MainWindow::Commands{});
        fresh->fitFirstSize(area);
        return fresh;
    };
    const QSize small(1024, 768 - 32 - 30);
    auto first = fitted(small);
    EXPECT_EQ(first->size(), small);
    EXPECT_EQ(first->centralWidget()->minimumWidth(), 980);
    EXPECT_LE(first->minimumSizeHint().height(), small.height());
    EXPECT_LE(first->minimumSizeHint().width(), small.width());
    first->resize(100, 100);
    EXPECT_EQ(first->centralWidget()->minimumHeight(), small.height() - first->menuBar()->sizeHint().height());

    // Where the area holds the default size, nothing changes.
    auto wide = fitted(QSize(1366, 900));
    EXPECT_EQ(wide->size(), QSize(1180, 800));
    EXPECT_EQ(wide->centralWidget()->minimumSize(), QSize(980, 700));
    // A wide but low screen: the width stays, the height fits.
    auto low = fitted(QSize(1600, 740));
    EXPECT_EQ(low->size(), QSize(1180, 740));
    EXPECT_EQ(low->centralWidget()->minimumSize(), QSize(980, 700));

    // Already shown, with the content's floor in force, the window still
    // takes the smaller size once the frame is known.
    auto shownFirst = std::make_unique<app::MainWindow>(shell.model, new QLabel(QStringLiteral("root view")),
                                                        app::MainWindow::Commands{});
    shownFirst->show();
    shell.settle();
    ASSERT_GE(shownFirst->minimumSize().height(), 721);
    shownFirst->fitFirstSize(QSize(1022, 711));
    EXPECT_EQ(shownFirst->size(), QSize(1022, 711));
}

// The content's geometry from where the window is, the screen's available
// area and the desktop's frame: whole frame inside the area.
TEST(FirstPlacement, TheFrameLiesInsideTheAvailableArea)
{
    const QMargins openbox(1, 20, 1, 5);
    const QMargins weston(3, 30, 3, 3);
    const struct {
        const char* name;
        QRect available;
        QMargins frame;
        QRect current;
        QRect placed;
    } cases[] = {
        {"1024x768 under openbox", {0, 0, 1024, 768}, openbox, {1, 20, 1180, 800}, {1, 20, 1022, 743}},
        {"and a 32 px top panel", {0, 32, 1024, 736}, openbox, {1, 52, 1180, 800}, {1, 52, 1022, 711}},
        {"put at the area's corner, frame above it",
         {0, 32, 1024, 736},
         openbox,
         {0, 32, 1180, 800},
         {1, 52, 1022, 711}},
        {"weston, room left for its panel", {0, 0, 1024, 720}, weston, {3, 30, 1180, 800}, {3, 30, 1018, 687}},
        {"no frame at all", {0, 0, 1024, 768}, {}, {0, 0, 1180, 800}, {0, 0, 1024, 768}},
        {"a large screen leaves it alone", {0, 0, 1920, 1050}, openbox, {100, 100, 1180, 800}, {100, 100, 1180, 800}},
        {"running off the bottom right", {0, 0, 1920, 1050}, openbox, {900, 400, 1180, 800}, {739, 245, 1180, 800}},
        {"a second screen to the right", {1920, 0, 1280, 1024}, openbox, {1900, 10, 1180, 800}, {1921, 20, 1180, 800}},
    };
    for (const auto& c : cases) {
        const QRect placed = app::MainWindow::firstPlacement(c.available, c.frame, c.current);
        EXPECT_EQ(placed, c.placed) << c.name;
        EXPECT_TRUE(c.available.contains(placed.marginsAdded(c.frame))) << c.name;
    }
}

TEST_F(ShellTest, ExportIsOfferedOnceThereIsAConversation)
{
    EXPECT_FALSE(window->exportAction()->isEnabled());
    window->exportAction()->trigger();
    EXPECT_EQ(exports, 0) << "a disabled item (and its shortcut) does nothing";

    ModelTestAccess::setEntries(*shell.model, {entry("hello")});
    shell.settle();
    EXPECT_TRUE(window->exportAction()->isEnabled());
    window->exportAction()->trigger();
    EXPECT_EQ(exports, 1);

    shell.model->clearConversation();
    shell.settle();
    EXPECT_FALSE(window->exportAction()->isEnabled());
}

TEST_F(ShellTest, TheTrayMenuListsItsItemsInOrderAndALeftClickShowsTheWindow)
{
    EXPECT_EQ(texts(*tray->menu()),
              (std::vector<std::string>{"打开Parlaro", "设置…", "检查更新…", "—", "退出Parlaro"}));
    EXPECT_EQ(trayItem("tray.quit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(tray->icon()->toolTip(), "Parlaro");
    EXPECT_EQ(tray->menu()->accessibleDescription(), "Parlaro");

    window->hide();
    shell.settle();
    emit tray->icon()->activated(QSystemTrayIcon::Context);
    shell.settle();
    EXPECT_FALSE(window->isVisible()) << "the context click only opens the menu";
    emit tray->icon()->activated(QSystemTrayIcon::Trigger);
    shell.settle();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(ShellTest, TheTrayIconIsTheGreyGlyphRedrawnWhenThePaletteChanges)
{
    const QIcon icon = tray->icon()->icon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    const QImage image = icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++opaque;
                EXPECT_EQ(pixel.rgb(), QColor(0x80, 0x80, 0x80).rgb()) << x << "," << y;
            }
        }
    }
    EXPECT_GT(opaque, 100);

    const int draws = tray->iconDraws();
    const QPalette previous = QApplication::palette();
    QPalette dark = previous;
    dark.setColor(QPalette::Window, Qt::black);
    QApplication::setPalette(dark);
    shell.settle();
    EXPECT_EQ(tray->iconDraws(), draws + 1);
    QApplication::setPalette(previous);
    shell.settle();
}

TEST_F(ShellTest, ClosingTheWindowWithATrayKeepsRunningAndTheTrayBringsItBack)
{
    window->close();
    shell.settle();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(shell.exits.empty());
    EXPECT_FALSE(shell.delegate->hasTerminated());
    EXPECT_FALSE(ModelTestAccess::metersVisible(*shell.model).get());

    trayItem("tray.open")->trigger();
    shell.settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(ModelTestAccess::metersVisible(*shell.model).get());

    // A second launch brings it back too.
    window->close();
    shell.settle();
    TempDirectory socketFolder;
    const QString name = QString::fromStdString((socketFolder / "instance").string());
    app::SingleInstance first(name);
    first.onShowRequest = [this] { shell.delegate->showMainWindow(); };
    ASSERT_TRUE(first.claim());
    // The launch waits for the answer, so it runs beside this thread.
    app::SingleInstance second(name);
    std::atomic<bool> launched = false;
    bool claimed = true;
    std::thread launcher([&] {
        claimed = second.claim();
        launched = true;
    });
    while (!launched)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    launcher.join();
    EXPECT_FALSE(claimed);
    EXPECT_FALSE(second.refused());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(ShellTest, ClosingTheWindowWithNoTrayQuits)
{
    trayAvailable = false;
    window->close();
    shell.settle();
    EXPECT_TRUE(shell.delegate->hasTerminated());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(ShellTest, QuitFromTheMenuRunsTheQuitSequence)
{
    test::given.set(shell.model->showWizard, true);
    window->quitAction()->trigger();
    EXPECT_FALSE(shell.model->showWizard.get());
    EXPECT_TRUE(shell.delegate->hasTerminated());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(ShellTest, CtrlQQuitsFromTheStartUpSheetThroughTheSameSequence)
{
    ui::StartupSheet sheet(shell.model, window.get());
    test::given.set(shell.model->showWizard, true);
    shell.settle();
    ASSERT_TRUE(sheet.dialog() && sheet.dialog()->isVisible());
    // Minimised, then brought back by a second launch: the keys the desktop
    // sends to the focused window reach the sheet without a click first.
    window->showMinimized();
    shell.settle();
    shell.delegate->showMainWindow();
    shell.settle();
    EXPECT_FALSE(window->isMinimized());
    ASSERT_NE(QGuiApplication::focusWindow(), nullptr);
    EXPECT_EQ(QGuiApplication::focusWindow(), sheet.dialog()->windowHandle());
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(shell.model->showWizard.get()) << "the sheets are dismissed first";
    shell.advance(0.05);
    EXPECT_TRUE(shell.delegate->hasTerminated());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(ShellTest, CtrlQQuitsFromAConfirmationAndFromTheWindowOnce)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("?"), QStringLiteral("?"), QMessageBox::NoButton,
                                window.get());
    box->setWindowModality(Qt::WindowModal);
    QPushButton* keep = box->addButton(QStringLiteral("keep"), QMessageBox::RejectRole);
    box->show();
    box->activateWindow();
    keep->setFocus();
    shell.settle();
    QTest::keyClick(keep, Qt::Key_Q, Qt::ControlModifier);
    shell.advance(1.0);
    EXPECT_FALSE(shell.delegate->hasTerminated()) << "a dialog that stays is waited for";
    shell.advance(1.0);
    EXPECT_TRUE(shell.delegate->hasTerminated());
    EXPECT_FALSE(box->isVisible()) << "and ended on the way out";
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(ShellTest, CtrlQInTheWindowQuitsAndOtherKeysPass)
{
    int quits = 0;
    QObject::connect(window->quitAction(), &QAction::triggered, [&quits] { ++quits; });
    QTest::keyClick(window.get(), Qt::Key_Q);
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(quits, 0);
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1) << "the window's own copy of the shortcut does not fire as well";
    EXPECT_TRUE(shell.delegate->hasTerminated());
}

TEST_F(ShellTest, QuitFromTheTrayRunsTheSameSequence)
{
    test::given.set(shell.model->showWizard, true);
    trayItem("tray.quit")->trigger();
    EXPECT_FALSE(shell.model->showWizard.get());
    EXPECT_TRUE(shell.delegate->hasTerminated());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(ShellTest, SettingsOpensTheGeneralPageAndShowsTheWindow)
{
    for (QAction* item : {window->settingsAction(), trayItem("tray.settings")}) {
        shell.model->openSettings(SettingsPage::history);
        window->showMinimized();
        shell.settle();
        item->trigger();
        shell.settle();
        EXPECT_EQ(shell.model->settingsPage.get(), SettingsPage::general);
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isMinimized());
    }
    EXPECT_EQ(updateChecks, 0);
}

TEST_F(ShellTest, CheckForUpdatesOnTheUpdatesPageWritesNoPageYetShowsTheWindowAndChecksOnce)
{
    for (QAction* item : {window->checkForUpdatesAction(), trayItem("tray.checkForUpdates")}) {
        updateChecks = 0;
        shell.model->openSettings(SettingsPage::updates);
        window->hide();
        shell.settle();
        int pageWrites = 0;
        auto watch = shell.model->settingsPage.subscribe([&] { ++pageWrites; });
        item->trigger();
        shell.settle();
        EXPECT_EQ(pageWrites, 0);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(updateChecks, 1);
    }
    // From elsewhere it opens the page.
    shell.model->closeSettings();
    window->checkForUpdatesAction()->trigger();
    shell.settle();
    EXPECT_EQ(shell.model->settingsPage.get(), SettingsPage::updates);
}

}  // namespace
}  // namespace parlaro::test
