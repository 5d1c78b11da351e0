#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace parlaro::ui {
class ViewBinding;
}

namespace parlaro::app {

// The application's icon in the desktop's tray, with its menu: it brings
// the window back after the window was closed, and quits.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> showMainWindow;
        std::function<void()> openSettings;
        std::function<void()> checkForUpdates;
        // The quit sequence.
        std::function<void()> quit;
    };

    explicit TrayMenu(Commands commands, QObject* parent = nullptr);
    ~TrayMenu() override;

    // Puts the icon in the tray.
    void show();

    QSystemTrayIcon* icon() const { return icon_; }
    QMenu* menu() const { return menu_.get(); }
    // How many times the icon was drawn.
    int iconDraws() const { return iconDraws_; }

    // Tray panels do not tint their icons, so the symbol is drawn in a grey
    // that reads on light and dark panels alike.
    static QColor glyphColor() { return QColor(0x80, 0x80, 0x80); }
    // The speech bubbles at the two sizes panels ask for.
    static QIcon makeIcon();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void redrawIcon();

    Commands commands_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    QAction* open_ = nullptr;
    QAction* settings_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    QAction* quit_ = nullptr;
    int iconDraws_ = 0;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
