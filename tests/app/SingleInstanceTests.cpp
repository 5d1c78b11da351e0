#include "app/SingleInstance.h"
#include "support/TempDirectory.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <fstream>

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

}  // namespace
}  // namespace parlaro::test
