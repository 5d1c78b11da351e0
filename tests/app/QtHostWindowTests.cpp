#include "app/AppDelegate.h"
#include "app/QtHostWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace parlaro;
using app::QtHostWindow;

TEST(QtHostWindow, HiddenItIsNeverMappedAndNeverTakesTheMainWindowsPlace)
{
    app::QtHostWindows windows;
    auto made = windows.makeHostWindow({.title = "正在准备翻译语言包…", .prompt = "请在系统提示中确认下载翻译语言包"});
    auto* host = dynamic_cast<QtHostWindow*>(made.get());
    ASSERT_NE(host, nullptr);
    QWidget* widget = host->widget();
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("正在准备翻译语言包…"));
    EXPECT_EQ(widget->size(), QSize(380, 120));
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowMinimizeButtonHint);

    QWidget main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));

    for (bool inFront : {true, false}) {
        host->showHidden(inFront);
        EXPECT_FALSE(widget->isVisible());
        EXPECT_FALSE(widget->windowHandle() && widget->windowHandle()->isExposed());
        EXPECT_FALSE(host->isRevealed());
        EXPECT_EQ(QApplication::activeWindow(), &main);
    }

    // The search skips it even when it is the only window on screen.
    host->showRevealed();
    EXPECT_EQ(
        findMainWindow({app::AppDelegate::factsOf(*widget), app::AppDelegate::factsOf(main)}, WindowSearch::showing),
        std::optional<std::size_t>(1));
    main.hide();
    EXPECT_EQ(findMainWindow({app::AppDelegate::factsOf(*widget)}, WindowSearch::visible), std::nullopt);
    EXPECT_FALSE(QtHostWindow::isHostWindow(&main));
}

TEST(QtHostWindow, RevealedItIsAnOrdinaryWindowInFrontAndHidingGivesTheKeyboardBack)
{
    app::QtHostWindows windows;
    auto host = windows.makeHostWindow({.title = "t", .prompt = "p"});
    auto* widget = dynamic_cast<QtHostWindow&>(*host).widget();
    QWidget main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    host->showHidden(true);

    host->showRevealed();
    host->showRevealed();  // a second reveal must not forget who had the keyboard
    EXPECT_TRUE(host->isRevealed());
    EXPECT_TRUE(widget->isVisible());
    EXPECT_FALSE(widget->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowTransparentForInput);
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((widget->frameGeometry().center() - centre).manhattanLength(), 2);
    EXPECT_TRUE(app::AppDelegate::factsOf(*widget).hostWindow) << "revealed, it still is not the main window";

    host->showHidden(false);
    EXPECT_FALSE(host->isRevealed());
    EXPECT_FALSE(widget->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
}

TEST(QtHostWindow, AHandleThatOutlivesItsWindowDoesNothing)
{
    std::shared_ptr<HostWindow> host;
    {
        app::QtHostWindows windows;
        host = windows.makeHostWindow({.title = "t", .prompt = "p"});
        host->showRevealed();
    }
    EXPECT_EQ(dynamic_cast<QtHostWindow&>(*host).widget(), nullptr);
    host->showHidden(true);
    host->showRevealed();
    EXPECT_FALSE(host->isRevealed());
}
