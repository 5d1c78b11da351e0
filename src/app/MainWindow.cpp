#include "app/MainWindow.h"

#include "app/QuitShortcut.h"
#include "app/SheetGuard.h"
#include "model/AppModel.h"
#include "settings/ExportPanel.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

namespace parlaro::app {

namespace {

QAction* addMenuItem(QMenu* menu, const char* name, QKeySequence shortcut, std::function<void()> run)
{
    auto* action = menu->addAction(QString());
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered, menu, [run = std::move(run)] {
        if (run)
            run();
    });
    return action;
}

}  // namespace

MainWindow::MainWindow(std::shared_ptr<AppModel> model, QWidget* central, Commands commands, QWidget* parent)
    : QMainWindow(parent), model_(std::move(model)), commands_(std::move(commands))
{
    if (!model_)
        throw std::invalid_argument("MainWindow needs the model");
    setObjectName(QStringLiteral("main"));
    resize(defaultWidth, defaultHeight);
    // The floor belongs to the content: the window's own minimum follows from
    // it plus the menu bar, which would otherwise take its height out of the
    // content and clip the footer.
    if (central) {
        contentFloor_ = central->minimumSize().expandedTo(QSize(minimumWidth, minimumHeight));
        central->setMinimumSize(contentFloor_);
        setCentralWidget(central);
    } else {
        setMinimumSize(minimumWidth, minimumHeight);
    }

    // The desktop has no menu of the application's own, so the window
    // carries it.
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("main.menuBar"));
    bar->setNativeMenuBar(false);
    setMenuBar(bar);
    menu_ = bar->addMenu(QString());
    menu_->setObjectName(QStringLiteral("main.menu"));
    checkForUpdates_ = addMenuItem(menu_, "main.menu.checkForUpdates", {}, [this] {
        if (commands_.checkForUpdates)
            commands_.checkForUpdates();
    });
    settings_ = addMenuItem(menu_, "main.menu.settings", QKeySequence(Qt::CTRL | Qt::Key_Comma), [this] {
        if (commands_.openSettings)
            commands_.openSettings();
    });
    export_ =
        addMenuItem(menu_, "main.menu.export", QKeySequence(Qt::CTRL | Qt::Key_E), [this] { exportConversation(); });
    quit_ = addMenuItem(menu_, "main.menu.quit", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] {
        if (commands_.quit)
            commands_.quit();
    });
    // Made first, so the quit key is seen before the guard keeps the
    // window's input from it.
    sheetGuard_ = new SheetGuard(this);
    new QuitShortcut(quit_, this);

    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

MainWindow::~MainWindow()
{
    binding_.reset();
}

void MainWindow::refresh()
{
    const QString title = ui::q(localized("Parlaro"));
    if (windowTitle() != title)
        setWindowTitle(title);
    menu_->setTitle(title);
    checkForUpdates_->setText(ui::q(localized("检查更新…")));
    settings_->setText(ui::q(localized("设置…")));
    export_->setText(ui::q(localized("导出聊天记录…")));
    quit_->setText(ui::q(localized("退出Parlaro")));
    // A disabled action's shortcut does nothing either.
    export_->setEnabled(!model_->entries.get().empty());
}

void MainWindow::exportConversation()
{
    if (model_->entries.get().empty())
        return;
    if (commands_.exportConversation)
        commands_.exportConversation();
    else
        settings::ExportPanel::exportSession(model_->entries.get(), this);
}

void MainWindow::fitFirstSize(QSize area)
{
    if (QWidget* content = centralWidget()) {
        const int bar = menuBar() ? menuBar()->sizeHint().height() : 0;
        content->setMinimumSize(contentFloor_.boundedTo(QSize(area.width(), area.height() - bar)));
        // A shown window keeps the old floor until its layout has taken the
        // new one, and would refuse the smaller size.
        layout()->activate();
    } else {
        setMinimumSize(QSize(minimumWidth, minimumHeight).boundedTo(area));
    }
    resize(size().boundedTo(area));
}

QRect MainWindow::firstPlacement(QRect available, QMargins frame, QRect current)
{
    const QSize room = available.size().shrunkBy(frame);
    QRect outer = QRect(current.topLeft(), current.size().boundedTo(room)).marginsAdded(frame);
    outer.moveLeft(std::max(available.left(), std::min(outer.left(), available.right() + 1 - outer.width())));
    outer.moveTop(std::max(available.top(), std::min(outer.top(), available.bottom() + 1 - outer.height())));
    return outer.marginsRemoved(frame);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (sized_)
        return;
    sized_ = true;
    fitScreen(false);
    // The frame a desktop draws around the window is known only once it has
    // put the window up in it (an X window manager, after the first show):
    // then the window is fitted again with the frame, and placed.
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (!placed_ && event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
        placed_ = true;
        watched->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] { fitScreen(true); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::fitScreen(bool place)
{
    QScreen* shown = screen();
    if (!shown)
        return;
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    QRect available = shown->availableGeometry();
    // Under Wayland the compositor alone places windows.
    const bool wayland = QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
    if (wayland && available == shown->geometry())
        available.setHeight(available.height() - unreportedPanelHeight);
    fitFirstSize(available.size().shrunkBy(frame));
    // Placed before the frame is known, the window would have the frame
    // drawn around where it was put, partly off the area.
    const QRect placed = firstPlacement(available, frame, geometry());
    if (place && !wayland && placed.topLeft() != geometry().topLeft())
        move(placed.topLeft() - QPoint(frame.left(), frame.top()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Never destroyed: the tray brings the same window back.
    event->ignore();
    if (!sheetGuard_->sheetUp() && commands_.trayAvailable && commands_.trayAvailable()) {
        hide();
        return;
    }
    // Nothing could bring a hidden window back, and the process would keep
    // the virtual microphone as the default input unseen.
    if (commands_.quit)
        commands_.quit();
}

}  // namespace parlaro::app
