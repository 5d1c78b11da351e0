#include "app/SingleInstance.h"
#include "support/ConnectionFlood.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace parlaro::test {
namespace {

// A socket name no other test (or running copy) uses.
QString uniqueName(const TempDirectory& folder)
{
    return QString::fromStdString((folder / "instance").string());
}

// Handles events for up to five seconds, until `done`.
void pumpUntil(const std::function<bool()>& done)
{
    for (int round = 0; round < 500 && !done(); ++round) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// A later launch: it claims on a thread of its own while this thread goes on
// answering as the running copy does.
bool launch(app::SingleInstance& later)
{
    std::atomic<bool> done = false;
    bool claimed = false;
    std::thread launcher([&] {
        claimed = later.claim();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    launcher.join();
    return claimed;
}

// A socket of this user's at `path`, as a copy of the program leaves it.
int socketAt(const std::filesystem::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

ino_t inodeOf(const std::filesystem::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(SingleInstance, ASecondLaunchHandsOverItsTokenWaitsForTheWindowAndLeaves)
{
    TempDirectory folder;
    ScopedEnvironment noToken("XDG_ACTIVATION_TOKEN", std::nullopt);
    std::vector<std::string> tokens;
    app::SingleInstance first(uniqueName(folder));
    first.onShowRequest = [&] { tokens.push_back(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").toStdString()); };
    ASSERT_TRUE(first.claim());

    // Launched from a Wayland launcher: the running copy activates its
    // window with that launcher's token.
    app::SingleInstance second(uniqueName(folder));
    second.activationToken = QStringLiteral("launcher-7_a.b");
    EXPECT_FALSE(launch(second));
    EXPECT_FALSE(second.refused()) << second.refusal().toStdString();
    EXPECT_EQ(tokens, std::vector<std::string>{"launcher-7_a.b"});

    // A token that would break the line is not passed on.
    app::SingleInstance third(uniqueName(folder));
    third.activationToken = QStringLiteral("two words\nshow evil");
    EXPECT_FALSE(launch(third));
    EXPECT_FALSE(third.refused());
    EXPECT_EQ(tokens.size(), 2u);

    // Anything else on the socket shows nothing, and an endless line is cut off.
    QLocalSocket stranger;
    stranger.connectToServer(uniqueName(folder));
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write("hello\nshow two words\nshow\x01\n");
    stranger.write(QByteArray(4096, 'x'));
    stranger.flush();
    pumpUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; });
    EXPECT_EQ(stranger.state(), QLocalSocket::UnconnectedState);
    EXPECT_EQ(tokens.size(), 2u);
}

TEST(SingleInstance, ASocketLeftByACopyThatDiedIsTakenOverAndRemovedOnExit)
{
    TempDirectory folder;
    const auto path = folder / "instance";
    ::close(socketAt(path));
    {
        app::SingleInstance first(uniqueName(folder));
        EXPECT_TRUE(first.claim());
        int shown = 0;
        first.onShowRequest = [&] { ++shown; };
        app::SingleInstance second(uniqueName(folder));
        EXPECT_FALSE(launch(second));
        EXPECT_FALSE(second.refused());
        EXPECT_EQ(shown, 1);
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
}

TEST(SingleInstance, WhatElseIsAtThePathIsLeftAloneAndNamed)
{
    TempDirectory folder;
    const auto path = folder / "instance";
    const std::string shown = path.string();

    folder.write("instance", "notes");
    app::SingleInstance besideFile(uniqueName(folder));
    EXPECT_FALSE(besideFile.claim());
    EXPECT_EQ(besideFile.refusal().toStdString(),
              "parlaro: cannot start: " + shown
                  + " is a file, where the socket of the running copy belongs; it was left alone. Remove it if "
                    "nothing needs it.");
    EXPECT_EQ(folder.read("instance"), "notes");

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    app::SingleInstance besideFolder(uniqueName(folder));
    EXPECT_FALSE(besideFolder.claim());
    EXPECT_EQ(besideFolder.refusal().toStdString(),
              "parlaro: cannot start: " + shown
                  + " is a folder, where the socket of the running copy belongs; it was left alone. Remove it if "
                    "nothing needs it.");
    EXPECT_TRUE(std::filesystem::is_directory(path));

    // A socket of someone else's (only root can make one here).
    if (::geteuid() == 0) {
        std::filesystem::remove(path);
        ::close(socketAt(path));
        ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
        app::SingleInstance besideStranger(uniqueName(folder));
        EXPECT_FALSE(besideStranger.claim());
        EXPECT_EQ(besideStranger.refusal().toStdString(),
                  "parlaro: cannot start: " + shown + " is a socket of another user; it was left alone.");
        EXPECT_TRUE(std::filesystem::is_socket(std::filesystem::symlink_status(path)));
    }
}

TEST(SingleInstance, ACopyThatIsHungOrBusyKeepsItsSocketAndTheLaunchFailsSayingWhy)
{
    TempDirectory folder;
    const auto path = folder / "instance";
    const std::string shown = path.string();

    // Alive but never answering, as a stopped copy: the launch waits for
    // its answer, then gives up.
    const int hung = socketAt(path);
    ASSERT_EQ(::listen(hung, 8), 0);
    const ino_t socket = inodeOf(path);
    app::SingleInstance launcher(uniqueName(folder));
    launcher.answerWaitMs = 300;
    EXPECT_FALSE(launcher.claim());
    EXPECT_EQ(launcher.refusal().toStdString(),
              "parlaro: the copy already running (or another program listening at " + shown
                  + ") did not answer within 0.3 s; not starting a second copy.");
    EXPECT_EQ(inodeOf(path), socket);
    ::close(hung);
    std::filesystem::remove(path);

    // Its backlog full: not a stale socket either.
    const int busy = socketAt(path);
    ASSERT_EQ(::listen(busy, 0), 0);
    const ino_t busySocket = inodeOf(path);
    const int waiting = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(waiting, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    app::SingleInstance another(uniqueName(folder));
    another.answerWaitMs = 300;
    EXPECT_FALSE(another.claim());
    EXPECT_EQ(another.refusal().toStdString(),
              "parlaro: a copy is running at " + shown
                  + " but was too busy to take a connection for 0.3 s; not starting a second copy.");
    EXPECT_EQ(inodeOf(path), busySocket);
    ::close(waiting);
    ::close(busy);
}

// Connects without a word, as a flood of idle clients does.
int idleConnection(const std::filesystem::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    return fd;
}

bool closedByPeer(int fd)
{
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

TEST(SingleInstance, AFloodOfIdleConnectionsNeitherStopsTheRunningCopyNorLetsASecondOneStart)
{
    TempDirectory folder;
    int shown = 0;
    app::SingleInstance first(uniqueName(folder));
    first.idleCloseMs = 300;
    first.onShowRequest = [&] { ++shown; };
    ASSERT_TRUE(first.claim());

    // Far more idle connections than the copy keeps: the oldest go, and a
    // launch among them is still answered.
    std::vector<int> idle;
    for (int i = 0; i < 8 * app::SingleInstance::mostConnections; ++i) {
        idle.push_back(idleConnection(folder / "instance"));
        if (i % 8 == 0)
            QCoreApplication::processEvents();
    }
    pumpUntil([&] {
        return std::count_if(idle.begin(), idle.end(), closedByPeer)
            >= static_cast<long>(idle.size()) - app::SingleInstance::mostConnections;
    });
    EXPECT_GE(std::count_if(idle.begin(), idle.end(), closedByPeer),
              static_cast<long>(idle.size()) - app::SingleInstance::mostConnections);
    app::SingleInstance second(uniqueName(folder));
    EXPECT_FALSE(launch(second));
    EXPECT_FALSE(second.refused()) << second.refusal().toStdString();
    EXPECT_EQ(shown, 1);
    // The rest are closed once they have been idle a while.
    pumpUntil([&] { return std::all_of(idle.begin(), idle.end(), closedByPeer); });
    EXPECT_TRUE(std::all_of(idle.begin(), idle.end(), closedByPeer));
    for (int fd : idle)
        ::close(fd);

    // No descriptor left to take a connection with: the copy keeps
    // listening and answers once there is one again.
    const int waiting = idleConnection(folder / "instance");
    // Taken up to well above what the event loop polls, which a limit
    // below it would stop.
    std::vector<int> taken;
    while (taken.empty() || taken.back() < 128) {
        taken.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        ASSERT_GE(taken.back(), 0);
    }
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit starved = limit;
    starved.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &starved), 0);
    pumpUntil([&, round = 0]() mutable { return ++round > 20; });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    for (int fd : taken)
        ::close(fd);
    ::close(waiting);
    app::SingleInstance third(uniqueName(folder));
    EXPECT_FALSE(launch(third));
    EXPECT_FALSE(third.refused()) << third.refusal().toStdString();
    EXPECT_EQ(shown, 2);

    // A megabyte of requests on one connection: a few are answered, then it
    // goes, rather than every line showing the window in one turn.
    const int pouring = idleConnection(folder / "instance");
    std::string requests;
    while (requests.size() < 1024 * 1024)
        requests += "show\n";
    std::size_t sent = 0;
    pumpUntil([&] {
        const ssize_t wrote = ::send(pouring, requests.data() + sent, requests.size() - sent, MSG_NOSIGNAL);
        if (wrote > 0)
            sent += static_cast<std::size_t>(wrote);
        return (wrote < 0 && errno != EAGAIN) || sent == requests.size();
    });
    pumpUntil([&] { return closedByPeer(pouring); });
    EXPECT_TRUE(closedByPeer(pouring));
    EXPECT_LT(shown, 3 + 8 * app::SingleInstance::linesPerTurn) << "of " << sent / 5 << " sent";
    ::close(pouring);

    // A launch asks, and another process pours connections in right after:
    // that process gives up its own to make room, and the launch is
    // answered.
    const int asking = idleConnection(folder / "instance");
    ASSERT_EQ(::send(asking, "show\n", 5, MSG_NOSIGNAL), 5);
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const std::string path = (folder / "instance").string();
    const pid_t flooder = ::fork();
    if (flooder == 0) {
        ::close(ready[0]);
        ::close(done[1]);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        for (int i = 0; i < 8 * app::SingleInstance::mostConnections; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
                ::_exit(1);
        }
        char byte = 0;
        const bool told = ::write(ready[1], &byte, 1) == 1;
        // Held open until the launch is through.
        const bool waited = ::read(done[0], &byte, 1) >= 0;
        ::_exit(told && waited ? 0 : 1);
    }
    ASSERT_GT(flooder, 0);
    ::close(ready[1]);
    ::close(done[0]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the other process connected";
    std::string answer;
    pumpUntil([&] {
        char buffer[16];
        const ssize_t got = ::recv(asking, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            answer.append(buffer, static_cast<std::size_t>(got));
        return got == 0 || answer.find('\n') != std::string::npos;
    });
    ::close(done[1]);
    int status = 0;
    ::waitpid(flooder, &status, 0);
    EXPECT_EQ(answer, app::SingleInstance::shownAnswer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(asking);
    ::close(ready[0]);
}

TEST(SingleInstance, WithoutAPrivateRuntimeFolderTheSocketSitsWhereNoOtherUserCanWrite)
{
    TempDirectory temp;
    TempDirectory home;
    ScopedEnvironment tmpdir("TMPDIR", temp.path().string());
    ScopedEnvironment homeVariable("HOME", home.path().string());
    namespace fs = std::filesystem;
    const std::string file = "parlaro-" + std::to_string(::getuid());

    // A runtime folder others can write into, or another user's, is no
    // place of the user's own: a socket put there first would block every
    // launch.
    TempDirectory runtime;
    ScopedEnvironment sharedRuntime("XDG_RUNTIME_DIR", runtime.path().string());
    fs::permissions(runtime.path(), fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(app::SingleInstance::defaultName().toStdString(), (temp / file / file).string());
    fs::permissions(runtime.path(), fs::perms::owner_all);
    EXPECT_EQ(app::SingleInstance::defaultName().toStdString(), (runtime / file).string());
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(runtime.path().c_str(), 54321, 54321), 0);
        EXPECT_EQ(app::SingleInstance::defaultName().toStdString(), (temp / file / file).string());
    }
    fs::remove_all(temp / file);
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", std::nullopt);

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

// Another process of the user's pours connections in without pause, as fast
// as it can, so that the copy's queue is full nearly all the time: every
// launch waits for its turn and is answered, none is turned away.
TEST(SingleInstance, LaunchesAreAnsweredWhileAnotherProcessKeepsTheQueueFull)
{
    TempDirectory folder;
    int shown = 0;
    app::SingleInstance first(uniqueName(folder));
    first.onShowRequest = [&] { ++shown; };
    ASSERT_TRUE(first.claim());
    const std::string path = (folder / "instance").string();
    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);
    const pid_t flooder = ::fork();
    if (flooder == 0) {
        ::close(stop[1]);
        floodConnections(path, stop[0]);
    }
    ASSERT_GT(flooder, 0);
    ::close(stop[0]);
    constexpr int launches = 10;
    int refused = 0;
    std::string why;
    for (int round = 0; round < launches; ++round) {
        app::SingleInstance later(uniqueName(folder));
        EXPECT_FALSE(launch(later));
        if (later.refused()) {
            ++refused;
            why = later.refusal().toStdString();
        }
    }
    ::close(stop[1]);
    ::waitpid(flooder, nullptr, 0);
    EXPECT_EQ(refused, 0) << "of " << launches << ", the last saying: " << why;
    EXPECT_EQ(shown, launches - refused);
}

}  // namespace
}  // namespace parlaro::test
