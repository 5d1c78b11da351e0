#include "app/AppDelegate.h"
#include "app/QtHostWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace parlaro;
using app::QtHostWindow;

TEST(QtHostWindow, HiddenItStaysMappedButInvisibleAndNeverTakesTheMainWindowsPlace)
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
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.activateWindow();

    host->showHidden(true);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_FALSE(host->isRevealed());
    EXPECT_EQ(widget->windowOpacity(), 0.0);
    EXPECT_TRUE(widget->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(widget->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(widget->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_NE(QApplication::activeWindow(), widget);

    // The search skips it even when it is the only window on screen.
    EXPECT_EQ(
        findMainWindow({app::AppDelegate::factsOf(*widget), app::AppDelegate::factsOf(main)}, WindowSearch::showing),
        std::optional<std::size_t>(1));
    main.hide();
    EXPECT_EQ(findMainWindow({app::AppDelegate::factsOf(*widget)}, WindowSearch::visible), std::nullopt);
    EXPECT_FALSE(QtHostWindow::isHostWindow(&main));
}

TEST(QtHostWindow, RevealedItIsAnOrdinaryWindowCentredInFrontUntilHiddenAgain)
{
    app::QtHostWindows windows;
    auto host = windows.makeHostWindow({.title = "t", .prompt = "p"});
    auto* widget = dynamic_cast<QtHostWindow&>(*host).widget();
    host->showHidden(true);

    host->showRevealed();
    EXPECT_TRUE(host->isRevealed());
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->windowOpacity(), 1.0);
    EXPECT_FALSE(widget->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowTransparentForInput);
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((widget->frameGeometry().center() - centre).manhattanLength(), 2);
    EXPECT_TRUE(app::AppDelegate::factsOf(*widget).hostWindow) << "revealed, it still is not the main window";

    host->showHidden(false);
    EXPECT_FALSE(host->isRevealed());
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->windowOpacity(), 0.0);
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
