#include "app/Application.h"

#include "app/AppCommands.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/DisplayLoss.h"
#include "app/EarlierFolderNotice.h"
#include "app/MainWindow.h"
#include "app/NoHomeNotice.h"
#include "app/QuitSignals.h"
#include "app/SettingsFileNotice.h"
#include "app/SingleInstance.h"
#include "app/TrayMenu.h"
#include "app/UnsavedRescueNotice.h"
#include "history/UnsavedRescue.h"
#include "platform/linux/JsonFileSettingsStore.h"
#include "platform/linux/ProcessRunner.h"
#include "platform/linux/ProcfsProcessTable.h"
#include "platform/sim/SimSettingsStore.h"
#include "runtime/Runtime.h"
#include "runtime/SystemRuntime.h"
#include "settings/LegacyHelperRemoval.h"
#include "settings/QtTranslations.h"
#include "speech/InterfaceLanguage.h"
#include "ui/InterfaceFontFollower.h"
#include "ui/LayoutDirectionFollower.h"
#include "ui/Look.h"
#include "ui/MainActorPump.h"

#include <QApplication>
#include <QDir>
#include <QSystemTrayIcon>

#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace parlaro::app {

Application::Application(Options options) : options_(std::move(options))
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw std::logic_error("Application needs the QApplication made first");
    if (options_.instanceName.isEmpty())
        options_.instanceName = SingleInstance::defaultName();
}

Application::~Application()
{
    // Every way in goes first, then the views and everything else that holds
    // the model, then the graph, and the runtime it ran on last.
    historyLoaded_.reset();
    displayLoss_.reset();
    signals_.reset();
    if (instance_)
        instance_->onShowRequest = nullptr;
    tray_.reset();
    window_.reset();
    content_ = nullptr;
    commands_.reset();
    delegate_.reset();
    direction_.reset();
    fonts_.reset();
    factory_.reset();
    pump_.reset();
    runtime_.reset();
}

bool Application::trayAvailable() const
{
    return options_.trayAvailable ? options_.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

bool Application::start()
{
    if (factory_)
        return true;
    // Before the graph: a second launch touches no audio at all.
    instance_ = std::make_unique<SingleInstance>(options_.instanceName);
    if (!instance_->claim())
        return false;

    const bool real = options_.kind == ServiceFactory::Kind::real;
    SettingsStore* defaults = options_.defaults;
    const sys::JsonFileSettingsStore* settingsFile = nullptr;
    bool settingsInMemory = false;
    if (!defaults) {
        std::optional<std::filesystem::path> path;
        if (real) {
            try {
                path = sys::JsonFileSettingsStore::defaultPath("settings");
            } catch (const std::runtime_error&) {
                // No home folder: the settings live in memory until quit.
                settingsInMemory = true;
            }
        }
        if (path) {
            auto file = std::make_unique<sys::JsonFileSettingsStore>(*path);
            settingsFile = file.get();
            ownDefaults_ = std::move(file);
        } else
            ownDefaults_ = std::make_unique<sim::SimSettingsStore>();
        defaults = ownDefaults_.get();
    }

    rt::Executor* executor = options_.executor;
    if (!executor) {
        runtime_ = std::make_unique<rt::SystemRuntime>();
        executor = &runtime_->executor();
    }
    pump_ = std::make_unique<ui::MainActorPump>(*executor);

    factory_ =
        std::make_unique<ServiceFactory>(ServiceFactory::Options{.kind = options_.kind,
                                                                 .defaults = defaults,
                                                                 .historyFolder = options_.historyFolder,
                                                                 .engineParts = options_.engineParts,
                                                                 .preferredLanguages = options_.preferredLanguages});

    auto& application = *qobject_cast<QApplication*>(QCoreApplication::instance());
    settings::installQtTranslations(application, InterfaceLanguage::current());
    ui::Look::apply(application);
    direction_ = std::make_unique<ui::LayoutDirectionFollower>();
    fonts_ = std::make_unique<ui::InterfaceFontFollower>();

    AppDelegate::Parts parts;
    parts.model = factory_->model();
    parts.history = factory_->history();
    parts.shortcuts = &factory_->shortcuts();
    parts.defaults = defaults;
    parts.activity = options_.activity;
    // Without a home folder there is nothing of the old helper to find.
    if (real && !settingsInMemory)
        parts.removeLegacyHelper = [this] { removeLegacyHelper(); };
    // Only where the history is the user's own (not the sim's, not a
    // folder the caller named) do its conversations go anywhere else.
    const std::vector<std::filesystem::path> rescuePlaces = real && !settingsInMemory && !options_.historyFolder
        ? UnsavedRescue::places()
        : std::vector<std::filesystem::path>{};
    parts.rescuePlaces = rescuePlaces;
    delegate_ = std::make_unique<AppDelegate>(std::move(parts));
    AppDelegate* delegate = delegate_.get();

    commands_ = std::make_unique<AppCommands>(factory_->model(), factory_->updates(),
                                              [delegate] { delegate->showMainWindow(); });
    AppCommands* commands = commands_.get();

    content_ = new ContentView(factory_->model(), factory_->updates(),
                               {.activity = options_.activity, .shortcuts = &factory_->shortcuts()});
    MainWindow::Commands windowCommands;
    windowCommands.checkForUpdates = [commands] { commands->checkForUpdates(); };
    windowCommands.openSettings = [commands] { commands->openSettings(); };
    windowCommands.quit = [delegate] { delegate->quit(); };
    windowCommands.trayAvailable = [this] { return showTrayIcon(); };
    window_ = std::make_unique<MainWindow>(factory_->model(), content_, std::move(windowCommands));
    delegate->setMainWindow(window_.get());

    tray_ = std::make_unique<TrayMenu>(TrayMenu::Commands{
        .showMainWindow = [delegate] { delegate->showMainWindow(); },
        .openSettings = [commands] { commands->openSettings(); },
        .checkForUpdates = [commands] { commands->checkForUpdates(); },
        .quit = [delegate] { delegate->quit(); },
    });
    showTrayIcon();

    // Nobody is there to answer a question at a signal.
    signals_ = std::make_unique<QuitSignals>([delegate](int) { delegate->quitUnasked(); });
    displayLoss_ = std::make_unique<DisplayLoss>([delegate] { delegate->rescueWithoutDisplay(); });
    instance_->onShowRequest = [delegate] { delegate->showMainWindow(); };

    if (settingsFile)
        tellSettingsFileProblem(*settingsFile, *factory_->model(), stderr);
    tellNoHomeFolder(settingsInMemory, *factory_->history(), *factory_->model(), stderr);
    tellEarlierEntries(takeEarlierEntryNotes(), *factory_->model(), stderr);
    historyLoaded_ = factory_->history()->isLoaded.subscribe([this] {
        if (factory_->history()->isLoaded.get())
            tellEarlierEntries(takeEarlierEntryNotes(), *factory_->model(), stderr);
    });
    // Read off the main thread now rather than when its page is first shown,
    // so that a conversation file that cannot be read is told at start.
    factory_->history()->load();
    tellRescuedConversations(
        rescuePlaces,
        [history = factory_->history()](const ConversationSession& session) {
            return history->isEnabled() && !history->save(session);
        },
        *factory_->model(), stderr);
    delegate->launchFinished();
    window_->show();
    return true;
}

int Application::declinedExitCode() const
{
    return instance_ && instance_->refused() ? 1 : 0;
}

bool Application::showTrayIcon()
{
    // Asked again on each close: a panel that came up after launch gets the
    // icon then, before the window goes; without it nothing could bring the
    // window back.
    if (!trayAvailable())
        return false;
    tray_->show();
    return true;
}

int Application::exec()
{
    return QApplication::exec();
}

void Application::removeLegacyHelper()
{
    if (!runner_)
        runner_ = std::make_unique<sys::ProcessRunner>();
    if (!processes_)
        processes_ = std::make_unique<sys::ProcfsProcessTable>();
    settings::removeLegacyHelper(settings::LegacyHelperHost{
        .home = QDir::homePath().toStdString(),
        .defaults = &factory_->defaults(),
        .runner = runner_.get(),
        .processes = processes_.get(),
        .user = ::getuid(),
        .sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
    });
}

}  // namespace parlaro::app
