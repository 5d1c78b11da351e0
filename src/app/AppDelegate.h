#pragma once

#include "platform/HostWindow.h"
#include "runtime/Observable.h"

#include <QObject>
#include <QPointer>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace parlaro {
class AppModel;
class ConversationHistory;
class SettingsStore;
namespace ui {
class AppActivity;
class HoldShortcutCenter;
}  // namespace ui
}  // namespace parlaro

namespace parlaro::app {

// Drives the running application's life over the object graph it is handed:
// wires the history and the hold shortcut into the model and starts the
// model when launching finishes, re-arms a shortcut that waits for a
// permission when the user comes back, tells the model whether a window is
// on screen (so the meters run only when seen), and runs the one quit
// sequence every way of quitting goes through. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // What a user who quits with conversations the history could not write
    // wants done with them.
    enum class UnsavedAnswer {
        // Stay open; the history is tried again.
        keepTrying,
        // Stay open, with the export dialog for a copy elsewhere.
        saveCopy,
        // Quit and lose them.
        quitAnyway,
    };
    // Shows the question (the folder and why it cannot be written) without
    // blocking, and answers once.
    using UnsavedQuestion =
        std::function<void(QWidget* window, const std::string& message, std::function<void(UnsavedAnswer)> answer)>;

    struct Parts {
        std::shared_ptr<AppModel> model;
        std::shared_ptr<ConversationHistory> history;
        ui::HoldShortcutCenter* shortcuts = nullptr;
        // Where the hold shortcut is stored.
        SettingsStore* defaults = nullptr;
        // None: the application's own.
        ui::AppActivity* activity = nullptr;
        // The once-per-installation clean-up of the older background helper;
        // it returns at once and skips itself when already done.
        std::function<void()> removeLegacyHelper;
        // Ends the event loop with the code; none: QCoreApplication::exit.
        std::function<void(int)> exit;
        // Where what the quit could not save is reported; none: standard
        // error.
        std::FILE* errors = nullptr;
        // Asked at a quit from the window while conversations are unsaved;
        // none: a message box.
        UnsavedQuestion askUnsaved;
        // Where conversations still unsaved at an unasked quit are written
        // (see UnsavedRescue); none: they are lost.
        std::vector<std::filesystem::path> rescuePlaces;
    };

    // How long and how often the quit waits for sheets to close themselves.
    static constexpr int quitTries = 40;
    static constexpr double quitRetryInterval = 0.05;
    // How long a quit, its window gone, keeps giving the default input back
    // to a sound server that does not answer before it leaves it to the
    // record for the next start.
    static constexpr double quitGiveBackSeconds = 10.0;

    explicit AppDelegate(Parts parts, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The clean-up, the history, the window observers, the shortcut's
    // callbacks, the stored shortcut, then the model's start-up as a task of
    // its own.
    void launchFinished();

    // The window showMainWindow() brings back; without one, the first
    // top-level window that can be a main window.
    void setMainWindow(QWidget* window);
    void showMainWindow();
    void refreshMetersVisible();

    // Every way of quitting from the window: asks first while conversations
    // cannot be saved, then closes the model's sheets and waits for them.
    void quit();
    // A quit nobody can be asked about (a signal): conversations still
    // unsaved are written to the first rescue place that takes them.
    void quitUnasked();
    // While tries are left and a window-modal dialog is open, looks again
    // one interval later; then ends what is still open and terminates.
    void quitWhenSheetsClosed(int tries);
    // The session ends: unsaved conversations are written at once.
    void commitData();
    // The display went away and the process ends when this returns: what a
    // quit saves is saved and the input given back, at once, touching no
    // window; a stalled sound server gets the quit's tries, in real time.
    void rescueWithoutDisplay();

    // A window as the searches see it; the translation host's window is
    // marked (QtHostWindow::marker).
    static WindowFacts factsOf(const QWidget& window);

    // The model was saved and shut down.
    bool hasTerminated() const { return willTerminateRan_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void answerUnsaved(UnsavedAnswer answer);
    static void askWithMessageBox(QWidget* window, const std::string& message,
                                  std::function<void(UnsavedAnswer)> answer);
    void terminate();
    void endEventLoop(int code);
    void sayInputLeftToTheRecord();
    void hideWindows();
    void shouldTerminate();
    void willTerminate();
    void observeWindows();
    void scheduleMetersRefresh();
    void didResignActive();
    void didBecomeActive();
    QWidget* mainWindow() const;

    Parts parts_;
    QPointer<QWidget> mainWindow_;
    bool wasInactive_ = false;
    bool observingWindows_ = false;
    bool refreshScheduled_ = false;
    bool terminated_ = false;
    bool willTerminateRan_ = false;
    // The user chose to quit without the unsaved conversations.
    bool unsavedGiveUp_ = false;
    bool asking_ = false;
    rt::Subscription resign_;
    rt::Subscription become_;
};

}  // namespace parlaro::app
