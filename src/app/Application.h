#pragma once

#include "app/ServiceFactory.h"
#include "runtime/Observable.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {
class CommandRunner;
class ProcessTable;
class SettingsStore;
namespace rt {
class Executor;
class SystemRuntime;
}  // namespace rt
namespace ui {
class AppActivity;
class InterfaceFontFollower;
class LayoutDirectionFollower;
class MainActorPump;
}  // namespace ui
}  // namespace parlaro

namespace parlaro::app {

class AppCommands;
class AppDelegate;
class ContentView;
class DisplayLoss;
class MainWindow;
class QuitSignals;
class SingleInstance;
class TrayMenu;

// The running program, put together in one place so that main() and the
// tests build the very same thing: one copy per user, the object graph, the
// window over the root view, the tray, the menus' commands and every way of
// quitting, all funnelled into the delegate's quit. The QApplication must
// exist first and outlive it.
class Application {
public:
    struct Options {
        ServiceFactory::Kind kind = ServiceFactory::Kind::real;
        // The socket later launches ask to show the window; tests pass their
        // own so that parallel runs do not meet.
        QString instanceName;
        // The settings store; none: the program's own (a file for real,
        // memory for sim). Must outlive the application when given.
        SettingsStore* defaults = nullptr;
        // The history's folder; none: its default folder.
        std::optional<std::filesystem::path> historyFolder;
        // None: the process-wide engine parts.
        std::optional<EngineSingletons> engineParts;
        // Whether the desktop shows a tray; none: ask the desktop.
        std::function<bool()> trayAvailable;
        // The main actor's executor, driven from now on by the event loop;
        // its runtime must be installed by the caller and outlive this.
        // None: a runtime of the program's own (system clock and threads).
        rt::Executor* executor = nullptr;
        // None: the running application's.
        ui::AppActivity* activity = nullptr;
        // The user's languages, best first; none: the environment's.
        std::optional<std::vector<std::string>> preferredLanguages;
    };

    explicit Application(Options options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Claims the single copy, builds the graph and the window, finishes
    // launching and shows the window. False, with nothing built, when
    // another copy runs (it was asked to show its window) or this one may
    // not run; the process then exits with declinedExitCode().
    bool start();
    // After start() gave false: 0 when the running copy showed its window,
    // 1 when this launch was refused (it said why on standard error).
    int declinedExitCode() const;
    // The event loop; returns the quit's exit code.
    static int exec();

    // Null before a successful start().
    ServiceFactory* factory() const { return factory_.get(); }
    AppDelegate* delegate() const { return delegate_.get(); }
    MainWindow* window() const { return window_.get(); }
    ContentView* content() const { return content_; }
    TrayMenu* tray() const { return tray_.get(); }
    bool trayAvailable() const;

private:
    // Puts the icon in the tray when the desktop has one now; false when
    // there is none.
    bool showTrayIcon();
    void removeLegacyHelper();

    Options options_;
    std::unique_ptr<SingleInstance> instance_;
    // What the once-per-installation clean-up uses on its own thread: they
    // outlive the runtime, whose end waits for that thread.
    std::unique_ptr<SettingsStore> ownDefaults_;
    std::unique_ptr<CommandRunner> runner_;
    std::unique_ptr<ProcessTable> processes_;
    std::unique_ptr<rt::SystemRuntime> runtime_;
    std::unique_ptr<ui::MainActorPump> pump_;
    std::unique_ptr<ServiceFactory> factory_;
    std::unique_ptr<ui::LayoutDirectionFollower> direction_;
    std::unique_ptr<ui::InterfaceFontFollower> fonts_;
    std::unique_ptr<AppDelegate> delegate_;
    std::unique_ptr<AppCommands> commands_;
    std::unique_ptr<MainWindow> window_;
    ContentView* content_ = nullptr;
    std::unique_ptr<TrayMenu> tray_;
    std::unique_ptr<QuitSignals> signals_;
    std::unique_ptr<DisplayLoss> displayLoss_;
    // Tells what the history's one scan could not read, once it is done.
    rt::Subscription historyLoaded_;
};

}  // namespace parlaro::app
