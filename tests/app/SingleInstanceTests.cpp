#include "app/SingleInstance.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace parlaro::test {
namespace {

// A socket name no other test (or running copy) uses.
QString uniqueName(const TempDirectory& folder)
{
    return QString::fromStdString((folder / "instance").string());
}

void pumpUntil(const std::function<bool()>& done)
{
    for (int round = 0; round < 500 && !done(); ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(SingleInstance, ASecondLaunchAsksTheFirstToShowItsWindowAndLeaves)
{
    TempDirectory folder;
    int shown = 0;
    app::SingleInstance first(uniqueName(folder));
    first.onShowRequest = [&] { ++shown; };
    ASSERT_TRUE(first.claim());

    app::SingleInstance second(uniqueName(folder));
    EXPECT_FALSE(second.claim());
    pumpUntil([&] { return shown == 1; });
    EXPECT_EQ(shown, 1);

    // A third launch, the same.
    app::SingleInstance third(uniqueName(folder));
    EXPECT_FALSE(third.claim());
    pumpUntil([&] { return shown == 2; });
    EXPECT_EQ(shown, 2);

    // Anything else on the socket shows nothing.
    QLocalSocket stranger;
    stranger.connectToServer(uniqueName(folder));
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write("hello\n");
    stranger.flush();
    stranger.waitForBytesWritten(1000);
    for (int round = 0; round < 20; ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(shown, 2);
}

TEST(SingleInstance, ASocketLeftByACopyThatDiedIsTakenOver)
{
    TempDirectory folder;
    // A killed copy leaves its socket's file behind, with nobody listening.
    std::ofstream(folder / "instance") << "";
    app::SingleInstance first(uniqueName(folder));
    EXPECT_TRUE(first.claim());
    int shown = 0;
    first.onShowRequest = [&] { ++shown; };
    app::SingleInstance second(uniqueName(folder));
    EXPECT_FALSE(second.claim());
    pumpUntil([&] { return shown == 1; });
    EXPECT_EQ(shown, 1);
}

TEST(SingleInstance, WithoutARuntimeFolderTheSocketSitsWhereNoOtherUserCanWrite)
{
    TempDirectory temp;
    TempDirectory home;
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnvironment tmpdir("TMPDIR", temp.path().string());
    ScopedEnvironment homeVariable("HOME", home.path().string());
    namespace fs = std::filesystem;
    const std::string file = "parlaro-" + std::to_string(::getuid());

    // A private folder of its own in the shared temporary folder.
    const fs::path folder = temp / file;
    EXPECT_EQ(app::SingleInstance::defaultName().toStdString(), (folder / file).string());
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

    // One that others can write into (as a folder another user made first
    // would be) is passed over for the home folder.
    fs::permissions(folder, fs::perms::all);
    const QString name = app::SingleInstance::defaultName();
    EXPECT_EQ(name.toStdString(), (home / ("." + file)).string());
    app::SingleInstance instance(name);
    EXPECT_TRUE(instance.claim());
}

}  // namespace
}  // namespace parlaro::test
