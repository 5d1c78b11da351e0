#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace parlaro {
class AppModel;
}
namespace parlaro::ui {
class ViewBinding;
}

namespace parlaro::app {

class SheetGuard;

// The application's one window: the root view handed in, under a menu bar
// with the application's menu. Closing it hides it while a tray icon can
// bring it back; with no tray the close quits, so no invisible process is
// left holding the virtual microphone. While a sheet is up the close quits
// as the quit item does: hidden, the window would leave its question
// unanswered and unseen.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> checkForUpdates;
        std::function<void()> openSettings;
        // The quit sequence.
        std::function<void()> quit;
        // Exports the conversation; none: the export panel over the window.
        std::function<void()> exportConversation;
        // Whether the tray can bring the window back once it is closed (the
        // icon may be put there first); none: nothing can.
        std::function<bool()> trayAvailable;
    };

    MainWindow(std::shared_ptr<AppModel> model, QWidget* central, Commands commands, QWidget* parent = nullptr);
    ~MainWindow() override;

    static constexpr int defaultWidth = 1180;
    static constexpr int defaultHeight = 800;
    // The smallest content; the window adds its menu bar to it.
    static constexpr int minimumWidth = 980;
    static constexpr int minimumHeight = 700;

    // Gives the window its first size for a screen whose available area,
    // less the desktop's frame around the window, is `area`: its size (the
    // default one) where it fits, else the area, with the content's minimum kept
    // where the area holds it and lowered to the area where it does not.
    // The first show does this for the window's screen, and again once the
    // desktop has put the window up in its frame.
    void fitFirstSize(QSize area);

    // Where the first window goes, as its content's geometry, on a screen
    // whose available area is `available`, with the desktop's `frame` around
    // it, from where it is (`current`): its size where the area holds it with
    // the frame, else the area less the frame; moved only where its frame
    // would stick out of the area.
    static QRect firstPlacement(QRect available, QMargins frame, QRect current);
    // Room kept for a panel where the desktop cannot say what its panels
    // take (Wayland tells a program only the whole screen).
    static constexpr int unreportedPanelHeight = 48;

    QMenu* appMenu() const { return menu_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }
    QAction* settingsAction() const { return settings_; }
    QAction* exportAction() const { return export_; }
    QAction* quitAction() const { return quit_; }
    SheetGuard* sheetGuard() const { return sheetGuard_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void exportConversation();
    void fitScreen(bool place);

    std::shared_ptr<AppModel> model_;
    Commands commands_;
    QMenu* menu_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    QAction* settings_ = nullptr;
    QAction* export_ = nullptr;
    QAction* quit_ = nullptr;
    SheetGuard* sheetGuard_ = nullptr;
    std::unique_ptr<ui::ViewBinding> binding_;
    // The content's minimum as the window was made with it.
    QSize contentFloor_;
    bool sized_ = false;
    bool placed_ = false;
};

}  // namespace parlaro::app
