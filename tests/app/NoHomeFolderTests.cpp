// A start with no home folder, as in a container run with a user id of its
// own: no HOME and no entry in the password database.

#include "app/NoHomeNotice.h"

#include "ModelWorld.h"
#include "StringTableFiles.h"
#include "history/ConversationHistory.h"
#include "speech/InterfaceLanguage.h"
#include "support/CapturedStream.h"
#include "support/TempDirectory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <pwd.h>
#include <unistd.h>

namespace parlaro::test {
namespace {

namespace fs = std::filesystem;

const std::string settingsLine = "parlaro: there is no home folder (HOME is unset or not absolute and the account has "
                                 "none); settings are kept in memory until quit and not saved.\n";
const std::string historyLine = "parlaro: there is no home folder to keep the conversation history in; saving it is "
                                "off.\n";

TEST(NoHomeFolder, TheUserHearsWhatIsNotKeptInTheAlertAndOnStandardError)
{
    ModelWorld world;
    auto model = world.make();
    loadStringTables(world.platform.bundles, "en");
    InterfaceLanguage::set("en");
    auto without = ConversationHistory::makeWithoutFolder(
        world.platform.defaults, "Cannot find the user's home folder, so the conversation history cannot be saved");
    TempDirectory folder;
    auto with = ConversationHistory::make(folder.path(), world.platform.defaults);

    auto tell = [&](bool settingsInMemory, const ConversationHistory& history) {
        model->dismissError();
        test::CapturedStream printed;
        app::tellNoHomeFolder(settingsInMemory, history, *model, printed.file());
        return std::pair<std::string, std::optional<std::string>>{printed.text(), model->errorMessage.get()};
    };
    EXPECT_EQ(tell(false, *with), (std::pair<std::string, std::optional<std::string>>{"", std::nullopt}));
    EXPECT_EQ(tell(true, *without),
              (std::pair<std::string, std::optional<std::string>>{
                  settingsLine + historyLine,
                  "Cannot find the user’s home folder: settings are kept only until you quit and are not saved.\n"
                  "Cannot find the user's home folder, so the conversation history cannot be saved"}));
    // A history folder named outright needs no home.
    EXPECT_EQ(tell(true, *with).first, settingsLine);
}

TEST(NoHomeFolder, AHistoryWithoutAFolderListsNothingTouchesNoFileAndCannotBeSwitchedOn)
{
    ModelWorld world;
    TempDirectory here;
    const fs::path started = fs::current_path();
    fs::current_path(here.path());
    here.write("index.json", "[]");
    auto history = ConversationHistory::makeWithoutFolder(world.platform.defaults, "no home");
    world.platform.defaults.set(ConversationHistory::enabledKey, true);
    EXPECT_FALSE(history->isEnabled());
    try {
        history->setEnabled(true);
        ADD_FAILURE() << "switched on";
    } catch (const Error& refused) {
        EXPECT_EQ(refused.localizedDescription(), "no home");
    }
    EXPECT_FALSE(history->isEnabled());
    EXPECT_EQ(world.platform.defaults.get<bool>(ConversationHistory::enabledKey), true)
        << "the choice stays for a start that has a home";

    history->load();
    world.runtime.executor().runUntilIdle();
    EXPECT_TRUE(history->isLoaded.get());
    EXPECT_TRUE(history->summaries.get().empty());
    const ConversationSession session{.id = rt::newUuid(),
                                      .entries = {ConversationEntry{.original = "hi", .translated = "hi"}}};
    EXPECT_EQ(history->save(session), std::nullopt);
    history->deleteAll();
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(here.path()))
        left.push_back(entry.path().filename().string());
    fs::current_path(started);
    EXPECT_EQ(left, std::vector<std::string>{"index.json"}) << "the current folder is not the history";
}

// A user id the password database does not know.
uid_t strangerId()
{
    uid_t stranger = 54321;
    while (::getpwuid(stranger) != nullptr)
        ++stranger;
    return stranger;
}

// The built program run as `stranger` from `place` (the folder variables
// as `variables` set them, no sound server) until it says it runs, then
// ended by SIGTERM; what it said on standard error. Fails the test unless
// it came up and ended with zero.
QByteArray runAsStranger(uid_t stranger, const fs::path& place, const std::map<QString, QString>& variables)
{
    QProcessEnvironment environment;
    const QProcessEnvironment ours = QProcessEnvironment::systemEnvironment();
    for (const char* kept : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (ours.contains(QString::fromLatin1(kept)))
            environment.insert(QString::fromLatin1(kept), ours.value(QString::fromLatin1(kept)));
    }
    const QString root = QString::fromStdString(place.string());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PARLARO_INSTANCE"), root + QStringLiteral("/instance"));
    // No sound server either: the program must still come up.
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + root + QStringLiteral("/no-server"));
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(root);
    const QString id = QString::number(stranger);
    program.start(QStringLiteral("/usr/bin/setpriv"),
                  {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                   QStringLiteral(PARLARO_PROGRAM)});
    if (!program.waitForStarted(5000)) {
        ADD_FAILURE() << program.errorString().toStdString();
        return {};
    }
    QByteArray said;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120'000 && program.state() != QProcess::NotRunning
           && !said.contains("Parlaro is running")) {
        program.waitForReadyRead(50);
        said += program.readAllStandardError();
        QApplication::processEvents();
    }
    EXPECT_TRUE(said.contains("Parlaro is running")) << said.toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    EXPECT_TRUE(program.waitForFinished(10'000)) << "still running 10 s after SIGTERM";
    said += program.readAllStandardError();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << said.toStdString();
    return said;
}

// Why a run as another user cannot happen here; empty when it can.
std::string cannotRunAsStranger()
{
    if (::geteuid() != 0)
        return "running as a user without a password entry takes root (as CI runs)";
    if (!fs::exists("/usr/bin/setpriv"))
        return "setpriv (util-linux) is not installed";
    return {};
}

// The built program, run as a user id the password database does not know,
// with no HOME and no folder variables: it must come up, say what it cannot
// keep, write nothing where it was started, and end with zero.
TEST(NoHomeFolder, TheProgramStartsWithTheHistoryOffAndTheSettingsInMemory)
{
    if (const std::string why = cannotRunAsStranger(); !why.empty())
        GTEST_SKIP() << why;
    const uid_t stranger = strangerId();
    TempDirectory place;
    ASSERT_EQ(::chown(place.path().c_str(), stranger, stranger), 0);
    const QByteArray said = runAsStranger(stranger, place.path(), {});
    EXPECT_TRUE(said.contains(settingsLine.c_str())) << said.toStdString();
    EXPECT_TRUE(said.contains(historyLine.c_str())) << said.toStdString();

    for (const auto& entry : fs::directory_iterator(place.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("instance", 0), 0u) << "written here: " << entry.path();
}

// Earlier folders the user cannot use (left by a run as root: one that
// cannot be read, one whose entries cannot be moved) take nothing over: the
// program uses its new folders and says so once, at the first start.
TEST(EarlierFoldersProgram, FoldersOfAnotherOwnerAreLeftAndToldOnce)
{
    if (const std::string why = cannotRunAsStranger(); !why.empty())
        GTEST_SKIP() << why;
    const uid_t stranger = strangerId();
    TempDirectory place;
    place.write("home/.local/share/wenmora/History/index.json", "[]");
    fs::create_directories(place / "home/.config/wenmora");
    fs::permissions(place / "home/.config/wenmora", fs::perms::owner_all);
    for (const char* folder : {"", "home", "home/.config", "home/.local", "home/.local/share"})
        ASSERT_EQ(::chown((place / folder).c_str(), stranger, stranger), 0);
    const std::map<QString, QString> home{{QStringLiteral("HOME"), QString::fromStdString((place / "home").string())}};

    const QByteArray first = runAsStranger(stranger, place.path(), home);
    for (const char* entry : {"home/.config/wenmora/settings.json", "home/.local/share/wenmora/History"}) {
        const std::string line = "parlaro: " + (place / entry).string() + ", left by an earlier version, cannot be";
        EXPECT_TRUE(first.contains(line.c_str())) << first.toStdString();
    }
    EXPECT_TRUE(fs::is_directory(place / "home/.config/parlaro")) << "the new folder is in use";
    const QByteArray second = runAsStranger(stranger, place.path(), home);
    EXPECT_FALSE(second.contains("left by an earlier version")) << second.toStdString();
}

}  // namespace
}  // namespace parlaro::test
