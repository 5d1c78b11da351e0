#include "app/TrayMenu.h"

#include "app/AppIcon.h"
#include "app/BubbleGlyph.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace parlaro::app {

namespace {

QAction* addMenuItem(QMenu* menu, const char* name, std::function<void()> run)
{
    auto* action = menu->addAction(QString());
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, menu, [run = std::move(run)] {
        if (run)
            run();
    });
    return action;
}

QPixmap glyphPixmap(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawBubbleGlyph(painter, QRectF(0, 0, size, size));
    // The glyph is drawn in black; keep its coverage, take the grey.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), TrayMenu::glyphColor());
    painter.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon TrayMenu::makeIcon()
{
    QIcon icon;
    for (int size : {16, 32})
        icon.addPixmap(glyphPixmap(size));
    return icon;
}

TrayMenu::TrayMenu(Commands commands, QObject* parent)
    : QObject(parent), commands_(std::move(commands)), menu_(std::make_unique<QMenu>())
{
    menu_->setObjectName(QStringLiteral("tray.menu"));
    open_ = addMenuItem(menu_.get(), "tray.open", [this] {
        if (commands_.showMainWindow)
            commands_.showMainWindow();
    });
    settings_ = addMenuItem(menu_.get(), "tray.settings", [this] {
        if (commands_.openSettings)
            commands_.openSettings();
    });
    checkForUpdates_ = addMenuItem(menu_.get(), "tray.checkForUpdates", [this] {
        if (commands_.checkForUpdates)
            commands_.checkForUpdates();
    });
    menu_->addSeparator();
    quit_ = addMenuItem(menu_.get(), "tray.quit", [this] {
        if (commands_.quit)
            commands_.quit();
    });
    // Shown beside the item as in the window's menu; the window's own
    // action is the one the keys reach.
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setShortcutContext(Qt::WidgetShortcut);
    // A tray icon has no accessible text of its own; its menu carries the
    // description a screen reader announces.
    menu_->setAccessibleDescription(QStringLiteral("Parlaro"));

    icon_ = new QSystemTrayIcon(this);
    icon_->setContextMenu(menu_.get());
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && commands_.showMainWindow)
            commands_.showMainWindow();
    });
    redrawIcon();
    QCoreApplication::instance()->installEventFilter(this);
    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

TrayMenu::~TrayMenu()
{
    binding_.reset();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    delete icon_;
    icon_ = nullptr;
}

void TrayMenu::show()
{
    icon_->show();
}

void TrayMenu::refresh()
{
    const QString name = ui::q(localized("Parlaro"));
    icon_->setToolTip(name);
    menu_->setAccessibleName(name);
    open_->setText(ui::q(localized("打开Parlaro")));
    settings_->setText(ui::q(localized("设置…")));
    checkForUpdates_->setText(ui::q(localized("检查更新…")));
    quit_->setText(ui::q(localized("退出Parlaro")));
}

void TrayMenu::redrawIcon()
{
    ++iconDraws_;
    icon_->setIcon(trayIcon(makeIcon()));
}

bool TrayMenu::eventFilter(QObject* watched, QEvent* event)
{
    // The application's palette changes once, for the application object.
    if (event->type() == QEvent::ApplicationPaletteChange && watched == QCoreApplication::instance())
        redrawIcon();
    return QObject::eventFilter(watched, event);
}

}  // namespace parlaro::app
