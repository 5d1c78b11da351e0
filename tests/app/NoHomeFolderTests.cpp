// A start with no home folder, as in a container run with a user id of its
// own: no HOME and no entry in the password database.

#include "app/NoHomeNotice.h"

#include "ModelWorld.h"
#include "StringTableFiles.h"
#include "history/ConversationHistory.h"
#include "speech/InterfaceLanguage.h"
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
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* stream = ::open_memstream(&buffer, &size);
        app::tellNoHomeFolder(settingsInMemory, history, *model, stream);
        std::fclose(stream);
        std::pair<std::string, std::optional<std::string>> told{std::string(buffer, size), model->errorMessage.get()};
        std::free(buffer);
        return told;
    };
    EXPECT_EQ(tell(false, *with), (std::pair<std::string, std::optional<std::string>>{"", std::nullopt}));
    EXPECT_EQ(tell(true, *without),
              (std::pair<std::string, std::optional<std::string>>{
                  settingsLine + historyLine,
                  "Cannot find the user's home folder: settings are kept only until you quit and are not saved.\n"
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

// The built program, run as a user id the password database does not know,
// with no HOME and no folder variables: it must come up, say what it cannot
// keep, write nothing where it was started, and end with zero.
TEST(NoHomeFolder, TheProgramStartsWithTheHistoryOffAndTheSettingsInMemory)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running as a user without a password entry takes root (as CI runs)";
    const char* setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv))
        GTEST_SKIP() << "setpriv (util-linux) is not installed";
    uid_t stranger = 54321;
    while (::getpwuid(stranger) != nullptr)
        ++stranger;
    TempDirectory place;
    ASSERT_EQ(::chown(place.path().c_str(), stranger, stranger), 0);

    QProcessEnvironment environment;
    const QProcessEnvironment ours = QProcessEnvironment::systemEnvironment();
    for (const char* kept : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (ours.contains(QString::fromLatin1(kept)))
            environment.insert(QString::fromLatin1(kept), ours.value(QString::fromLatin1(kept)));
    }
    const QString root = QString::fromStdString(place.path().string());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PARLARO_INSTANCE"), root + QStringLiteral("/instance"));
    // No sound server either: the program must still come up.
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + root + QStringLiteral("/no-server"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(root);
    const QString id = QString::number(stranger);
    program.start(QString::fromLatin1(setpriv),
                  {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                   QStringLiteral(PARLARO_PROGRAM)});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();

    QByteArray said;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120'000 && program.state() != QProcess::NotRunning
           && !said.contains("Parlaro is running")) {
        program.waitForReadyRead(50);
        said += program.readAllStandardError();
        QApplication::processEvents();
    }
    ASSERT_TRUE(said.contains("Parlaro is running")) << said.toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10'000)) << "still running 10 s after SIGTERM";
    said += program.readAllStandardError();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(settingsLine.c_str())) << said.toStdString();
    EXPECT_TRUE(said.contains(historyLine.c_str())) << said.toStdString();

    for (const auto& entry : fs::directory_iterator(place.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("instance", 0), 0u) << "written here: " << entry.path();
}

}  // namespace
}  // namespace parlaro::test
