#include "app/AppDelegate.h"

#include "app/QtHostWindow.h"
#include "app/SheetGuard.h"
#include "history/UnsavedRescue.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"
#include "runtime/Task.h"
#include "settings/ExportPanel.h"
#include "speech/Localization.h"
#include "ui/AppActivity.h"
#include "ui/HoldShortcut.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/Text.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace parlaro::app {

AppDelegate::AppDelegate(Parts parts, QObject* parent) : QObject(parent), parts_(std::move(parts))
{
    if (!parts_.model)
        throw std::invalid_argument("AppDelegate needs the model");
    if (!parts_.activity)
        parts_.activity = &ui::AppActivity::application();
    resign_ = parts_.activity->subscribeResignActive([this] { didResignActive(); });
    become_ = parts_.activity->subscribeBecomeActive([this] { didBecomeActive(); });
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // Whatever ends the event loop without the quit sequence still saves
        // and shuts the model down, once.
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { willTerminate(); });
        // Logging out may end the process without a quit: save first.
        connect(application, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { commitData(); });
    }
}

AppDelegate::~AppDelegate()
{
    if (observingWindows_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void AppDelegate::launchFinished()
{
    if (parts_.removeLegacyHelper)
        parts_.removeLegacyHelper();
    parts_.model->useHistory(parts_.history);
    observeWindows();
    // Closing the window hides it (or quits through the sequence below);
    // Qt must not end the loop on its own when no window is left.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    if (auto* center = parts_.shortcuts) {
        const QPointer<AppDelegate> self(this);
        center->onDown = [self] {
            if (self)
                self->parts_.model->beginHoldToTalk(AppModel::HoldSource::shortcut);
        };
        center->onUp = [self] {
            // Free listening holds on by itself; a key let go does not end it.
            if (self && !self->parts_.model->freeListening.get())
                self->parts_.model->endHoldToTalk(AppModel::HoldSource::shortcut);
        };
        center->onCancel = [self] {
            if (self)
                self->parts_.model->cancelHold(AppModel::HoldSource::shortcut);
        };
        center->activate(parts_.defaults ? ui::HoldShortcut::load(*parts_.defaults) : std::nullopt);
    }

    spawnOnModel(parts_.model, [](AppModel& model) { return model.start(); });
}

void AppDelegate::didResignActive()
{
    wasInactive_ = true;
}

void AppDelegate::didBecomeActive()
{
    if (!wasInactive_)
        return;
    wasInactive_ = false;
    // The user may have granted what the shortcut waited for meanwhile.
    auto* center = parts_.shortcuts;
    if (center && center->status() == ui::HoldShortcutCenter::Status::needsPermission)
        center->activate(center->shortcut());
}

// Windows.

WindowFacts AppDelegate::factsOf(const QWidget& window)
{
    WindowFacts facts;
    facts.hostWindow = QtHostWindow::isHostWindow(&window);
    // Linux tells no occlusion; a window the system does not draw is not
    // exposed, which is as close as it gets.
    const QWindow* handle = window.windowHandle();
    facts.visible = window.isVisible() && handle && handle->isExposed();
    facts.mainCapable = window.isWindow() && window.windowType() == Qt::Window && !facts.hostWindow;
    facts.miniaturised = window.isMinimized();
    return facts;
}

void AppDelegate::observeWindows()
{
    if (observingWindows_)
        return;
    observingWindows_ = true;
    QCoreApplication::instance()->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowStateChange:
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->isWindow())
            scheduleMetersRefresh();
        break;
    case QEvent::Expose:
        if (watched->isWindowType())
            scheduleMetersRefresh();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::scheduleMetersRefresh()
{
    // The event arrives before the window's state has settled: look once
    // the change is done, however many events it made.
    if (refreshScheduled_)
        return;
    refreshScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshScheduled_ = false;
            refreshMetersVisible();
        },
        Qt::QueuedConnection);
}

void AppDelegate::refreshMetersVisible()
{
    std::vector<WindowFacts> facts;
    for (QWidget* window : QApplication::topLevelWidgets())
        facts.push_back(factsOf(*window));
    parts_.model->setMetersVisible(findMainWindow(facts, WindowSearch::showing).has_value());
}

void AppDelegate::setMainWindow(QWidget* window)
{
    mainWindow_ = window;
}

QWidget* AppDelegate::mainWindow() const
{
    if (mainWindow_)
        return mainWindow_;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (factsOf(*window).mainCapable)
            return window;
    }
    return nullptr;
}

namespace {

// The window that takes the keyboard when `window` comes back: the dialog
// that blocks it (a sheet over it, or one over the whole program), if any.
// Asked to activate the blocked window itself, the desktop hands the focus
// to the dialog while Qt sends the keys to the blocked window, which drops
// them, until the user clicks.
QWidget* keyboardWindow(QWidget* window)
{
    // A sheet of the window is not modal to the toolkit (see SheetGuard).
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && SheetGuard::isSheetOf(widget, window))
            return widget;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == window || !modal->isVisible())
        return window;
    if (modal->windowModality() == Qt::ApplicationModal)
        return modal;
    for (QWidget* owner = modal->parentWidget(); owner; owner = owner->parentWidget()) {
        if (owner == window)
            return modal;
    }
    return window;
}

}  // namespace

void AppDelegate::showMainWindow()
{
    QWidget* window = mainWindow();
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    QWidget* keyboard = keyboardWindow(window);
    if (keyboard != window)
        keyboard->raise();
    keyboard->activateWindow();
}

// Quit.

void AppDelegate::quit()
{
    if (asking_ || terminated_)
        return;
    AppModel& model = *parts_.model;
    // What waits is tried once more; only what still cannot be written is
    // worth the question.
    model.flushDirtySessions();
    const auto unsaved = model.unsavedHistory();
    if (!unsaved || unsavedGiveUp_) {
        quitUnasked();
        return;
    }
    asking_ = true;
    // A quit from the tray may come while the window is hidden: the
    // question shows over it.
    showMainWindow();
    const std::string message = localized("还有对话没能保存到 %@（%@）。现在退出会丢失这些对话。",
                                          pathText(unsaved->folder.string()), unsaved->reason);
    const UnsavedQuestion ask = parts_.askUnsaved ? parts_.askUnsaved : askWithMessageBox;
    ask(mainWindow(), message, [self = QPointer<AppDelegate>(this)](UnsavedAnswer answer) {
        if (!self)
            return;
        self->asking_ = false;
        self->answerUnsaved(answer);
    });
}

void AppDelegate::answerUnsaved(UnsavedAnswer answer)
{
    switch (answer) {
    case UnsavedAnswer::keepTrying:
        return;
    case UnsavedAnswer::saveCopy: {
        // One file with every unsaved conversation, oldest sentence first.
        std::vector<ConversationEntry> entries;
        for (const ConversationSession& session : parts_.model->unsavedConversations())
            entries.insert(entries.end(), session.entries.begin(), session.entries.end());
        std::stable_sort(entries.begin(), entries.end(),
                         [](const ConversationEntry& a, const ConversationEntry& b) { return a.time < b.time; });
        // The copy is the user's answer: once it is written, the program
        // quits without asking again.
        settings::ExportPanel::exportSession(entries, mainWindow(), [self = QPointer<AppDelegate>(this)] {
            if (!self)
                return;
            self->unsavedGiveUp_ = true;
            self->quitUnasked();
        });
        return;
    }
    case UnsavedAnswer::quitAnyway:
        unsavedGiveUp_ = true;
        quitUnasked();
        return;
    }
}

void AppDelegate::askWithMessageBox(QWidget* window, const std::string& message,
                                    std::function<void(UnsavedAnswer)> answer)
{
    auto* box =
        new QMessageBox(QMessageBox::Warning, ui::q(localized("提示")), ui::q(message), QMessageBox::NoButton, window);
    box->setObjectName(QStringLiteral("unsavedQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    auto* keep = box->addButton(ui::q(localized("保留并继续尝试保存")), QMessageBox::RejectRole);
    auto* copy = box->addButton(ui::q(localized("另存一份…")), QMessageBox::ActionRole);
    auto* lose = box->addButton(ui::q(localized("退出并丢弃")), QMessageBox::DestructiveRole);
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton* clicked) {
        answer(clicked == lose       ? UnsavedAnswer::quitAnyway
                   : clicked == copy ? UnsavedAnswer::saveCopy
                                     : UnsavedAnswer::keepTrying);
    });
    box->open();
}

void AppDelegate::quitUnasked()
{
    parts_.model->dismissSheets();
    quitWhenSheetsClosed(quitTries);
}

namespace {

// The visible window-modal dialogs: the sheets a quit waits for.
std::vector<QWidget*> openSheets()
{
    std::vector<QWidget*> result;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QDialog*>(widget) && widget->windowModality() == Qt::WindowModal)
            result.push_back(widget);
    }
    return result;
}

void endSheet(QWidget* sheet)
{
    if (auto* dialog = qobject_cast<QDialog*>(sheet))
        dialog->done(QDialog::Rejected);
    else
        sheet->hide();
}

}  // namespace

void AppDelegate::quitWhenSheetsClosed(int tries)
{
    if (terminated_)
        return;
    if (tries > 0 && !openSheets().empty()) {
        rt::spawn([self = QPointer<AppDelegate>(this), tries]() -> rt::Async<void> {
            co_await rt::sleepFor(quitRetryInterval);
            if (self)
                self->quitWhenSheetsClosed(tries - 1);
        });
        return;
    }
    // Whatever sheet outlasted the retries is ended on the way out.
    terminate();
}

void AppDelegate::terminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    shouldTerminate();
    // The give-back below may wait on a stalled sound server; the user has
    // quit and should not watch the window meanwhile.
    hideWindows();
    willTerminate();
    if (!parts_.model->givingBackUnfinished()) {
        endEventLoop(0);
        return;
    }
    rt::spawn([self = QPointer<AppDelegate>(this), model = parts_.model]() -> rt::Async<void> {
        const bool givenBack = co_await model->finishGivingBack(quitGiveBackSeconds);
        if (!self)
            co_return;
        if (!givenBack)
            self->sayInputLeftToTheRecord();
        self->endEventLoop(0);
    });
}

void AppDelegate::sayInputLeftToTheRecord()
{
    std::fprintf(parts_.errors ? parts_.errors : stderr,
                 "parlaro: the sound server did not answer for %g s; the default input stays Parlaro's virtual "
                 "microphone until Parlaro starts again.\n",
                 quitGiveBackSeconds);
}

void AppDelegate::rescueWithoutDisplay()
{
    // A quit already under way may have saved; its give-back still needs
    // these tries, as its own task will not run again.
    terminated_ = true;
    willTerminate();
    // The event loop will not turn again, so no timer fires: the tries
    // sleep this thread, measured on the runtime's clock.
    const rt::Instant until = rt::clock().now() + quitGiveBackSeconds;
    const double pause = AppModel::giveBackRetrySeconds;
    bool givenBack = !parts_.model->givingBackUnfinished();
    while (!givenBack && until - rt::clock().now() >= pause) {
        std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        givenBack = parts_.model->retryGivingBack();
    }
    if (!givenBack)
        sayInputLeftToTheRecord();
}

void AppDelegate::endEventLoop(int code)
{
    if (parts_.exit)
        parts_.exit(code);
    else
        QCoreApplication::exit(code);
}

void AppDelegate::hideWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            widget->hide();
}

void AppDelegate::shouldTerminate()
{
    // An open alert closes; with none open nothing hears of it.
    parts_.model->dismissError();
    for (QWidget* sheet : openSheets())
        endSheet(sheet);
}

void AppDelegate::willTerminate()
{
    if (willTerminateRan_)
        return;
    willTerminateRan_ = true;
    AppModel& model = *parts_.model;
    model.closeConversationSession();
    // The last chance to write them into the history has passed; unless
    // the user chose to lose them, they go where they can be written, and
    // the next start says where.
    if (const auto unsaved = model.unsavedHistory()) {
        std::FILE* errors = parts_.errors ? parts_.errors : stderr;
        const auto rescued =
            unsavedGiveUp_ ? std::nullopt : UnsavedRescue::write(model.unsavedConversations(), parts_.rescuePlaces);
        if (rescued)
            std::fprintf(errors,
                         "parlaro: %zu conversation session(s) could not be saved in %s (%s); they were written to "
                         "%s.\n",
                         unsaved->sessions, unsaved->folder.c_str(), unsaved->reason.c_str(), rescued->c_str());
        else
            std::fprintf(errors, "parlaro: %zu conversation session(s) could not be saved in %s (%s) and are lost.\n",
                         unsaved->sessions, unsaved->folder.c_str(), unsaved->reason.c_str());
    }
    // Stops the model's audio work and gives the default microphone back;
    // the virtual devices stay for the call application.
    model.shutdown();
}

void AppDelegate::commitData()
{
    parts_.model->flushDirtySessions();
}

}  // namespace parlaro::app
