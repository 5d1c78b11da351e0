// Before any Qt header: its keyword macros would rename engine members.
#include "model/ModelDependencies.h"

#include "ShellWorld.h"
#include "StringTableFiles.h"
#include "app/QtHostWindow.h"
#include "app/UnsavedRescueNotice.h"
#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "speech/InterfaceLanguage.h"
#include "support/CapturedStream.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "settings/ExportPanel.h"
#include "settings/LegacyHelperRemoval.h"
#include "settings/StartupSheet.h"
#include "support/ScratchMount.h"
#include "ui/HoldShortcut.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace parlaro::test {
namespace {

using Status = ui::HoldShortcutCenter::Status;

ConversationEntry entry(const std::string& text)
{
    ConversationEntry e;
    e.original = text;
    e.translated = text + " (translated)";
    return e;
}

// What the event loop's end tells, whoever ended it.
void endEventLoop()
{
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
}

std::size_t savedSessions(const ShellWorld& shell)
{
    std::size_t count = 0;
    for (const auto& file : std::filesystem::directory_iterator(shell.folder.path())) {
        if (file.path().extension() == ".json" && file.path().filename() != ConversationHistory::indexFileName)
            ++count;
    }
    return count;
}

TEST(AppDelegate, LaunchRunsItsStepsInOrderAndStartsTheModelAsATaskOfItsOwn)
{
    ShellWorld shell;
    ui::HoldShortcut::store(ui::HoldShortcut::modifier(ui::HoldShortcut::ModifierKey::rightAlt),
                            shell.world.platform.defaults);
    auto historyWatch = shell.model->history.subscribe([&] { shell.record.push_back("history"); });
    auto startWatch =
        ModelTestAccess::sessionPrepared(*shell.model).subscribe([&] { shell.record.push_back("start"); });
    auto& delegate = shell.make();

    delegate.launchFinished();
    shell.record.push_back("returned");
    shell.settle();

    EXPECT_EQ(shell.record, (std::vector<std::string>{"clean-up", "history", "shortcut (wired)", "returned", "start"}));
    EXPECT_EQ(shell.model->history.get(), shell.history);
    EXPECT_EQ(shell.shortcuts.status(), Status::active);
    EXPECT_EQ(shell.shortcuts.shortcut(), ui::HoldShortcut::modifier(ui::HoldShortcut::ModifierKey::rightAlt));
    // No stored shortcut would have left the center off; this one came from
    // the settings.
    EXPECT_TRUE(shell.model->showWizard.get());
}

TEST(AppDelegate, TheShortcutCallbacksDriveTheHoldAndAReleaseIsIgnoredWhileFreeListening)
{
    ShellWorld shell;
    auto& delegate = shell.make();
    delegate.launchFinished();
    shell.settle();
    ASSERT_TRUE(shell.shortcuts.onDown && shell.shortcuts.onUp && shell.shortcuts.onCancel);

    // While free listening the hold goes on after a release.
    ModelTestAccess::setFreeListening(*shell.model, true);
    test::given.set(shell.model->isHoldingToTalk, true);
    shell.shortcuts.onUp();
    shell.settle();
    EXPECT_TRUE(shell.model->isHoldingToTalk.get());
    // Otherwise the release ends it.
    ModelTestAccess::setFreeListening(*shell.model, false);
    shell.shortcuts.onUp();
    shell.settle();
    EXPECT_FALSE(shell.model->isHoldingToTalk.get());

    // A delegate that is gone leaves the callbacks harmless.
    shell.delegate.reset();
    shell.shortcuts.onDown();
    shell.shortcuts.onUp();
    shell.shortcuts.onCancel();
    shell.settle();
}

// The older helper's service manager and processes, as the clean-up sees
// them: nothing running, every command recorded.
struct NoHelperLeft final : CommandRunner, ProcessTable {
    std::vector<std::string> commands;
    int run(const std::string& program, const std::vector<std::string>& arguments) override
    {
        commands.push_back(program + " " + arguments.at(1));
        return arguments.at(1) == "is-active" ? 3 : 0;
    }
    std::vector<pid_t> pids() const override { return {}; }
    std::optional<std::string> name(pid_t) const override { return std::nullopt; }
    std::optional<uid_t> owner(pid_t) const override { return std::nullopt; }
    void terminate(pid_t) override {}
};

TEST(AppDelegate, TheCleanUpRunsOnceAndIsSkippedOnceItWasDone)
{
    for (bool done : {false, true}) {
        ShellWorld shell;
        if (done)
            shell.world.platform.defaults.set(settings::legacyHelperRemovedKey, DefaultsValue(true));
        NoHelperLeft machine;
        settings::LegacyHelperHost host{.home = shell.folder.path(),
                                        .defaults = &shell.world.platform.defaults,
                                        .runner = &machine,
                                        .processes = &machine,
                                        .user = ::getuid(),
                                        .sleep = [](std::chrono::milliseconds) {}};
        auto parts = shell.parts();
        parts.removeLegacyHelper = [host] { settings::removeLegacyHelper(host); };
        shell.make(std::move(parts)).launchFinished();
        shell.settle();
        if (done) {
            EXPECT_TRUE(machine.commands.empty());
        } else {
            EXPECT_EQ(machine.commands,
                      (std::vector<std::string>{"/usr/bin/systemctl disable", "/usr/bin/systemctl is-active"}));
            EXPECT_EQ(shell.world.platform.defaults.get<bool>(settings::legacyHelperRemovedKey), true);
        }
    }
}

TEST(AppDelegate, AShortcutWaitingForPermissionIsTriedAgainOnlyOnComingBack)
{
    struct Case {
        const char* name;
        std::function<void(ShellWorld&)> shape;
        Status expected;
        bool resignFirst;
        bool reactivated;
    };
    auto modifier = [](ShellWorld& shell, bool refuse) {
        shell.keys.refuseModifierWatch = refuse;
        ui::HoldShortcut::store(ui::HoldShortcut::modifier(ui::HoldShortcut::ModifierKey::rightControl),
                                shell.world.platform.defaults);
    };
    const std::vector<Case> cases = {
        {"needsPermission", [&](ShellWorld& s) { modifier(s, true); }, Status::needsPermission, true, true},
        {"needsPermission without resign", [&](ShellWorld& s) { modifier(s, true); }, Status::needsPermission, false,
         false},
        {"active", [&](ShellWorld& s) { modifier(s, false); }, Status::active, true, false},
        {"off", [](ShellWorld&) {}, Status::off, true, false},
        {"taken",
         [](ShellWorld& s) {
             s.keys.refuseRegistration = true;
             ui::HoldShortcut::store(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask), s.world.platform.defaults);
         },
         Status::taken, true, false},
    };
    for (const auto& c : cases) {
        ShellWorld shell;
        c.shape(shell);
        shell.make().launchFinished();
        shell.settle();
        ASSERT_EQ(shell.shortcuts.status(), c.expected) << c.name;
        shell.record.clear();
        // The user grants the permission meanwhile.
        shell.keys.refuseModifierWatch = false;
        if (c.resignFirst)
            shell.activity.resignActive();
        shell.activity.becomeActive();
        shell.settle();
        EXPECT_EQ(!shell.record.empty(), c.reactivated) << c.name;
        if (c.reactivated)
            EXPECT_EQ(shell.shortcuts.status(), Status::active) << c.name;
        // Coming back twice after one resign tries only once.
        shell.record.clear();
        shell.activity.becomeActive();
        EXPECT_TRUE(shell.record.empty()) << c.name;
    }
}

// Windows.

TEST(AppDelegate, MetersRunWhileAMainWindowIsOnScreen)
{
    ShellWorld shell;
    auto& delegate = shell.make();
    delegate.launchFinished();
    QMainWindow window;
    window.resize(400, 300);
    delegate.setMainWindow(&window);
    shell.settle();
    delegate.refreshMetersVisible();
    EXPECT_FALSE(ModelTestAccess::metersVisible(*shell.model).get()) << "nothing shown yet";

    window.show();
    shell.settle();
    EXPECT_TRUE(ModelTestAccess::metersVisible(*shell.model).get()) << "shown";

    window.showMinimized();
    shell.settle();
    EXPECT_FALSE(ModelTestAccess::metersVisible(*shell.model).get()) << "minimized";

    window.showNormal();
    shell.settle();
    EXPECT_TRUE(ModelTestAccess::metersVisible(*shell.model).get()) << "restored";

    window.hide();
    shell.settle();
    EXPECT_FALSE(ModelTestAccess::metersVisible(*shell.model).get()) << "hidden";

    // The translation host's window never counts, shown or not, and a
    // dialog cannot be a main window.
    QWidget host(nullptr, Qt::Window);
    host.setProperty(app::QtHostWindow::marker, true);
    host.show();
    QDialog dialog;
    dialog.show();
    shell.settle();
    EXPECT_FALSE(ModelTestAccess::metersVisible(*shell.model).get()) << "host window and dialog";

    // Bringing the window back un-minimizes it.
    window.showMinimized();
    shell.settle();
    delegate.showMainWindow();
    shell.settle();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(ModelTestAccess::metersVisible(*shell.model).get()) << "shown again";
}

TEST(AppDelegate, ShowingTheWindowWithoutOneNamedFindsAMainCapableWindowAndNeverTheHostWindow)
{
    ShellWorld shell;
    auto& delegate = shell.make();
    QWidget host(nullptr, Qt::Window);
    host.setProperty(app::QtHostWindow::marker, true);
    host.show();
    QMainWindow window;
    shell.settle();
    delegate.showMainWindow();
    shell.settle();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(app::AppDelegate::factsOf(host).hostWindow);
    EXPECT_FALSE(app::AppDelegate::factsOf(host).mainCapable);
}

// Quit.

class QuitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        shell.make().launchFinished();
        shell.settle();
        window.resize(400, 300);
        window.show();
        shell.settle();
    }
    QDialog* openSheet()
    {
        auto* sheet = new QDialog(&window);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->open();
        shell.settle();
        return sheet;
    }
    // Closes the sheet itself at `seconds` from now, as a sheet bound to
    // the model does once it notices it was dismissed.
    void closeAt(QDialog* sheet, double seconds)
    {
        auto& executor = shell.world.runtime.executor();
        shell.world.runtime.clock().schedule(rt::TimeBase::continuous, shell.world.runtime.clock().now() + seconds,
                                             [&executor, sheet] { executor.post([sheet] { sheet->accept(); }); });
    }
    bool terminated() const { return shell.delegate->hasTerminated(); }

    ShellWorld shell;
    QWidget window;
};

TEST_F(QuitTest, WithNoSheetItTerminatesAtOnceAndExitsWithZero)
{
    test::given.set(shell.model->showWizard, true);
    shell.delegate->quit();
    EXPECT_FALSE(shell.model->showWizard.get()) << "sheets dismissed";
    EXPECT_TRUE(terminated());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
    // A second request while the first ended changes nothing.
    shell.delegate->quit();
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(QuitTest, ASheetThatClosesAfterThreeTicksIsWaitedFor)
{
    QDialog* sheet = openSheet();
    closeAt(sheet, 0.12);
    shell.delegate->quit();
    shell.advance(0.1);
    EXPECT_FALSE(terminated());
    EXPECT_TRUE(shell.exits.empty());
    shell.advance(0.05);
    EXPECT_TRUE(terminated());
    EXPECT_EQ(sheet->result(), QDialog::Accepted) << "closed by itself, not ended";
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(QuitTest, ASheetThatNeverClosesIsEndedAfterFortyTries)
{
    QDialog* sheet = openSheet();
    shell.delegate->quit();
    shell.advance(1.95);
    EXPECT_FALSE(terminated());
    EXPECT_TRUE(sheet->isVisible());
    shell.advance(0.05);
    EXPECT_TRUE(terminated());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(QuitTest, NoTriesEndsTheSheetsAtOnce)
{
    QDialog* sheet = openSheet();
    shell.delegate->quitWhenSheetsClosed(0);
    EXPECT_TRUE(terminated());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST_F(QuitTest, TheStartUpSheetClosesOnTheDismissalAndTheQuitFollowsOneTickLater)
{
    ui::StartupSheet sheet(shell.model, &window);
    test::given.set(shell.model->showWizard, true);
    shell.settle();
    ASSERT_TRUE(sheet.dialog() && sheet.dialog()->isVisible());
    shell.delegate->quit();
    EXPECT_FALSE(terminated()) << "the sheet closes on its own turn";
    shell.advance(0.05);
    EXPECT_TRUE(terminated());
    EXPECT_FALSE(sheet.dialog() && sheet.dialog()->isVisible());
}

TEST_F(QuitTest, TerminationSavesThenForgetsTheSessionThenShutsDownOnce)
{
    ModelTestAccess::setEntries(*shell.model, {entry("hello")});
    shell.settle();
    ASSERT_FALSE(ModelTestAccess::filing(*shell.model).dirtySessions.get().empty());
    ASSERT_TRUE(ModelTestAccess::filing(*shell.model).sessionID.get().has_value());
    shell.model->showError("something failed");
    int errorWrites = 0;
    auto errorWatch = shell.model->errorMessage.subscribe([&] { ++errorWrites; });

    std::vector<std::string> steps;
    auto flushWatch = ModelTestAccess::filing(*shell.model).dirtySessions.subscribe([&] { steps.push_back("flush"); });
    auto sessionWatch =
        ModelTestAccess::filing(*shell.model).sessionID.subscribe([&] { steps.push_back("sessionID"); });
    auto lastWatch =
        ModelTestAccess::filing(*shell.model).lastSessionEntry.subscribe([&] { steps.push_back("lastSessionEntry"); });
    shell.world.takeLog();
    shell.delegate->quitWhenSheetsClosed(0);
    const auto shutdownLog = shell.world.takeLog();
    steps.push_back(std::find(shutdownLog.begin(), shutdownLog.end(), "speaker stop") != shutdownLog.end()
                        ? "shutdown"
                        : "no shutdown");

    EXPECT_EQ(steps, (std::vector<std::string>{"flush", "sessionID", "lastSessionEntry", "shutdown"}));
    EXPECT_EQ(errorWrites, 1);
    EXPECT_FALSE(shell.model->errorMessage.get().has_value());
    EXPECT_FALSE(ModelTestAccess::filing(*shell.model).sessionID.get().has_value());
    EXPECT_EQ(savedSessions(shell), 1u) << "the conversation was written";

    // The event loop's own end afterwards runs nothing again.
    endEventLoop();
    shell.settle();
    EXPECT_TRUE(shell.world.takeLog().empty());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

// The last write at quit fails: what is lost is said where a user who
// started the program from a terminal, or its log, will find it.
TEST(QuitWithUnsavedHistory, WhatTheHistoryCouldNotWriteIsReportedOnStandardError)
{
    ShellWorld shell;
    ReadOnlyFolder readOnly(shell.folder.path());
    test::CapturedStream errors;
    auto parts = shell.parts();
    parts.errors = errors.file();
    shell.make(std::move(parts)).launchFinished();
    shell.settle();
    readOnly.setReadOnly(true);
    ModelTestAccess::setEntries(*shell.model, {entry("hello")});
    shell.delegate->quitWhenSheetsClosed(0);
    EXPECT_EQ(errors.text(),
              "parlaro: 1 conversation session(s) could not be saved in " + shell.folder.path().string() + " ("
                  + readOnly.reason() + ") and are lost.\n");
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

// What a quit does with conversations the history cannot write: asked from
// the window, written elsewhere at a signal and said where at the next
// start, lost only when the user says so.
struct UnsavedQuit {
    // Cancelled, or saved as the file `copy` names.
    struct Dialog final : settings::SaveDialog {
        Dialog(int& opened, const std::optional<std::filesystem::path>& copy) : opened_(opened), copy_(copy) {}
        void open(QWidget*, const QString&, const QStringList&, const QString&) override
        {
            ++opened_;
            if (copy_)
                onFinished(QString::fromStdString(copy_->string()));
        }
        QString fileName() const override { return {}; }
        void setFileName(const QString&) override {}
        int& opened_;
        const std::optional<std::filesystem::path>& copy_;
    };

    ShellWorld shell;
    ReadOnlyFolder readOnly{shell.folder.path()};
    TempDirectory elsewhere;
    std::vector<std::filesystem::path> places{"/proc/parlaro-cannot-write-here", elsewhere / "Unsaved"};
    std::vector<std::string> questions;
    app::AppDelegate::UnsavedAnswer answer = app::AppDelegate::UnsavedAnswer::keepTrying;
    int exports = 0;
    std::optional<std::filesystem::path> copy;
    settings::ExportPanel::Scope exportScope{[this] { return std::make_unique<Dialog>(exports, copy); }, {"en", "UTC"}};
    test::CapturedStream errors;

    explicit UnsavedQuit(bool asked = true)
    {
        auto parts = shell.parts();
        parts.errors = errors.file();
        parts.rescuePlaces = places;
        if (asked)
            parts.askUnsaved = [this](QWidget*, const std::string& message, auto reply) {
                questions.push_back(message);
                reply(answer);
            };
        shell.make(std::move(parts)).launchFinished();
        shell.settle();
        readOnly.setReadOnly(true);
        ModelTestAccess::setEntries(*shell.model, {entry("hello")});
        shell.settle();
    }
    std::string printed() { return errors.text(); }
    std::string lost() const
    {
        return "parlaro: 1 conversation session(s) could not be saved in " + shell.folder.path().string() + " ("
            + readOnly.reason() + ")";
    }
};

TEST(QuitWithUnsavedHistory, AQuitFromTheWindowAsksFirstAndASignalWritesThemElsewhere)
{
    UnsavedQuit q;
    q.shell.delegate->quit();
    EXPECT_EQ(q.questions,
              std::vector<std::string>{"还有对话没能保存到 " + q.shell.folder.path().string() + "（"
                                       + q.readOnly.reason() + "）。现在退出会丢失这些对话。"});
    EXPECT_TRUE(q.shell.exits.empty()) << "kept: the program goes on trying";
    q.answer = app::AppDelegate::UnsavedAnswer::saveCopy;
    q.shell.delegate->quit();
    EXPECT_EQ(q.exports, 1) << "the export dialog offers a copy elsewhere";
    EXPECT_TRUE(q.shell.exits.empty());
    EXPECT_TRUE(q.shell.model->unsavedHistory());

    // A signal asks nobody: they go to the first place that takes them.
    q.shell.delegate->quitUnasked();
    EXPECT_EQ(q.shell.exits, std::vector<int>{0});
    EXPECT_EQ(q.printed(), q.lost() + "; they were written to " + (q.elsewhere / "Unsaved").string() + ".\n");
    const auto id = q.shell.model->unsavedConversations().front().id;
    const auto kept = HistoryJson::decodeSession(
        HistoryFiles::read(q.elsewhere / "Unsaved" / (id.toString() + ".json")).value_or(""));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->entries.front().original, "hello");

    // The next start cannot write the history either: it says how many and
    // where, once. A rescue killed mid-write left a hidden temporary with
    // conversation text, which goes.
    const std::filesystem::path rescue = q.elsewhere / "Unsaved";
    const std::filesystem::path temporary = rescue / ("." + id.toString() + ".json.tmp-Ab12Cd");
    HistoryFiles::writeAtomically(temporary, "{\"entries\":[{\"original\":\"secret\"");
    ModelWorld next;
    auto model = next.make();
    test::CapturedStream said;
    const auto intoHistory = [&](const ConversationSession& session) {
        return !q.shell.history->save(session).has_value();
    };
    app::tellRescuedConversations(q.places, intoHistory, *model, said.file());
    EXPECT_EQ(model->errorMessage.get(),
              "上次退出时有 1 个对话未能保存，已写入 " + rescue.string() + "；对话记录可以写入时会自动放回。");
    EXPECT_FALSE(std::filesystem::exists(temporary));
    model->dismissError();
    app::tellRescuedConversations(q.places, intoHistory, *model, said.file());
    EXPECT_FALSE(model->errorMessage.get());

    // The first start that can write the history puts them back and only
    // then lets the rescued copies go.
    q.readOnly.setReadOnly(false);
    app::tellRescuedConversations(q.places, intoHistory, *model, said.file());
    EXPECT_EQ(model->errorMessage.get(), "上次退出时未能保存的 1 个对话已放回对话记录。");
    const auto back = q.shell.history->loadSession(id);
    ASSERT_TRUE(std::holds_alternative<ConversationSession>(back));
    EXPECT_EQ(std::get<ConversationSession>(back).entries.front().original, "hello");
    EXPECT_FALSE(std::filesystem::exists(rescue));
    EXPECT_EQ(said.text(),
              "parlaro: 1 conversation session(s) the history could not save when Parlaro last ended are in "
                  + rescue.string()
                  + "; they go back into the history once it can be written.\n"
                    "parlaro: 1 conversation session(s) the history could not save when Parlaro last ended are back "
                    "in the history.\n");

    // A copy written is the user's answer to the question: the program
    // quits then, and nothing goes elsewhere.
    UnsavedQuit copied;
    copied.answer = app::AppDelegate::UnsavedAnswer::saveCopy;
    copied.copy = copied.elsewhere / "copy.txt";
    copied.shell.delegate->quit();
    copied.shell.settle();
    EXPECT_EQ(copied.exports, 1);
    EXPECT_TRUE(std::filesystem::exists(*copied.copy));
    EXPECT_EQ(copied.shell.exits, std::vector<int>{0});
    EXPECT_FALSE(std::filesystem::exists(copied.elsewhere / "Unsaved"));
}

TEST(QuitWithUnsavedHistory, QuittingAnywayLosesThemAsTheUserSaid)
{
    // The question the program shows, in the user's language.
    UnsavedQuit q(false);
    loadStringTables(q.shell.world.platform.bundles, "de");
    InterfaceLanguage::set("de");
    QWidget window;
    window.resize(720, 500);
    window.show();
    q.shell.delegate->setMainWindow(&window);
    q.shell.delegate->quit();
    q.shell.settle();
    auto* box = window.findChild<QMessageBox*>(QStringLiteral("unsavedQuestion"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->buttons().size(), 3);
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("Einige Gespräche konnten nicht in ")))
        << box->text().toStdString();
    snapshot(*box, QStringLiteral("AppDelegate"), QStringLiteral("unsavedQuestion-de"));
    InterfaceLanguage::set("zh-Hans");
    QAbstractButton* lose = nullptr;
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::DestructiveRole)
            lose = button;
    }
    ASSERT_NE(lose, nullptr);
    lose->click();
    // The question itself closes a tick later.
    q.shell.advance(app::AppDelegate::quitRetryInterval);
    EXPECT_EQ(q.shell.exits, std::vector<int>{0});
    EXPECT_EQ(q.printed(), q.lost() + " and are lost.\n");
    EXPECT_FALSE(std::filesystem::exists(q.elsewhere / "Unsaved"));
}

TEST_F(QuitTest, AnEventLoopEndedElsewhereStillSavesAndShutsDownOnce)
{
    ModelTestAccess::setEntries(*shell.model, {entry("hello")});
    shell.settle();
    shell.world.takeLog();
    endEventLoop();
    EXPECT_TRUE(ModelTestAccess::filing(*shell.model).dirtySessions.get().empty());
    EXPECT_EQ(savedSessions(shell), 1u);
    const auto first = shell.world.takeLog();
    EXPECT_NE(std::find(first.begin(), first.end(), "speaker stop"), first.end());
    endEventLoop();
    EXPECT_TRUE(shell.world.takeLog().empty());
    // Nothing asked the loop to end: it is ending already.
    EXPECT_TRUE(shell.exits.empty());
}

TEST_F(QuitTest, TheSessionsEndSavesAtOnceAndKeepsRunning)
{
    ModelTestAccess::setEntries(*shell.model, {entry("hello")});
    shell.settle();
    shell.delegate->commitData();
    EXPECT_TRUE(ModelTestAccess::filing(*shell.model).dirtySessions.get().empty());
    EXPECT_EQ(savedSessions(shell), 1u);
    EXPECT_FALSE(terminated());
    EXPECT_TRUE(shell.exits.empty());
}

// A sound server that stalls across the quit: the window goes at once, and
// the quit waits for the server to take the user's microphone back, up to
// its limit; past it the input is left to the record and that is said.
TEST(QuitWithAStalledServer, TheWindowGoesAtOnceAndTheInputIsGivenBackWithinTheLimit)
{
    for (const bool answersAgain : {true, false}) {
        SCOPED_TRACE(answersAgain ? "stalled for 3 s" : "stalled for good");
        ShellWorld shell;
        shell.world.addMicrophone(10, "usb-mic", "USB");
        shell.world.setDefaultInput(10);
        shell.world.addVirtualDriver();
        shell.model = shell.world.make(
            [&](AppModel::Dependencies& d) { d.systemRoute = makeSystemAudioRoute(shell.world.platform.defaults); });
        test::CapturedStream errors;
        auto parts = shell.parts();
        parts.errors = errors.file();
        shell.make(std::move(parts)).launchFinished();
        ModelTestAccess::prepareSession(*shell.model);
        shell.settle();
        ASSERT_EQ(shell.world.audio.defaultDevice(true), 50u);
        QWidget window;
        window.show();
        shell.settle();

        shell.world.audio.fail(audioSystemObject, "dIn "_fcc, sim::AudioOperation::getPropertyData,
                               AudioStatuses::unanswered);
        shell.delegate->quitUnasked();
        EXPECT_FALSE(window.isVisible());
        EXPECT_TRUE(shell.exits.empty());
        shell.advance(3);
        EXPECT_TRUE(shell.exits.empty());
        if (answersAgain)
            shell.world.audio.clearFailures();
        shell.advance(app::AppDelegate::quitGiveBackSeconds - 3 - 0.01);
        const auto record = SystemAudioRoute::savedSnapshot(shell.world.platform.defaults);
        if (answersAgain) {
            EXPECT_EQ(shell.exits, std::vector<int>{0});
            EXPECT_EQ(shell.world.audio.defaultDevice(true), 10u);
            EXPECT_EQ(record, std::nullopt);
            EXPECT_EQ(errors.text(), "");
            continue;
        }
        EXPECT_TRUE(shell.exits.empty());
        shell.advance(0.01);
        EXPECT_EQ(shell.exits, std::vector<int>{0});
        EXPECT_EQ(shell.world.audio.defaultDevice(true), 50u);
        EXPECT_EQ(record, (SystemAudioRoute::Snapshot{"usb-mic", "", virtualMicUID, ""}));
        EXPECT_EQ(errors.text(),
                  "parlaro: the sound server did not answer for 10 s; the default input stays Parlaro's virtual "
                  "microphone until Parlaro starts again.\n");
    }
}

TEST_F(QuitTest, TheVirtualDevicesStayAfterQuit)
{
    shell.world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*shell.model);
    shell.settle();
    ASSERT_TRUE(shell.model->virtualMicStatus());
    shell.delegate->quit();
    shell.settle();
    ModelTestAccess::refreshDevices(*shell.model);
    EXPECT_TRUE(shell.model->virtualMicStatus());
}

}  // namespace
}  // namespace parlaro::test
