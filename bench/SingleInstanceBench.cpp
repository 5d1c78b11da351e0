// The running copy's single-instance socket under a connection that pours
// out a megabyte of "show" lines, and under connections that one process
// pours in while others launch: the longest the main thread is held at
// once (one turn of the event loop), and the launches left unanswered.

#include "app/SingleInstance.h"

#include "BenchApplication.h"
#include "support/ConnectionFlood.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parlaro;

namespace {

using Clock = std::chrono::steady_clock;

using bench::application;

void BM_SingleInstanceFlood(benchmark::State& state)
{
    application();
    std::string folder = (std::filesystem::temp_directory_path() / "parlaro-instance-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        std::abort();
    const std::string path = folder + "/instance";
    QWidget window;
    app::SingleInstance instance(QString::fromStdString(path));
    // As the program answers: the window shown and raised.
    instance.onShowRequest = [&] {
        window.show();
        window.raise();
        window.activateWindow();
    };
    if (!instance.claim())
        std::abort();
    std::string requests;
    while (requests.size() < 1024 * 1024)
        requests += "show\n";
    double longest = 0;
    for (auto _ : state) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            std::abort();
        // Written from a thread of its own, as another program would.
        std::thread writer([&] {
            for (std::size_t sent = 0; sent < requests.size();) {
                const ssize_t wrote = ::send(fd, requests.data() + sent, requests.size() - sent, MSG_NOSIGNAL);
                if (wrote <= 0)
                    break;
                sent += static_cast<std::size_t>(wrote);
            }
            ::shutdown(fd, SHUT_WR);
        });
        const auto start = Clock::now();
        char byte = 0;
        for (;;) {
            const auto before = Clock::now();
            QApplication::processEvents();
            longest = std::max(longest, std::chrono::duration<double>(Clock::now() - before).count());
            const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                break;
            if (got < 0)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        writer.join();
        ::close(fd);
    }
    state.counters["longest_block_ms"] = longest * 1000;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SingleInstanceFlood)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

int connectTo(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Asks as a later launch does: "show", and up to five seconds for the
// answer. Allocates nothing: it runs in a forked process.
bool askToShow(const std::string& path)
{
    const int fd = connectTo(path);
    if (fd < 0)
        return false;
    const bool asked = ::send(fd, "show\n", 5, MSG_NOSIGNAL) == 5;
    char answer[16] = {};
    std::size_t filled = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (asked && filled < sizeof answer - 1 && std::memchr(answer, '\n', filled) == nullptr) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t got = ::recv(fd, answer + filled, sizeof answer - 1 - filled, 0);
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return std::strcmp(answer, app::SingleInstance::shownAnswer) == 0;
}

// The running copy's socket while one process pours connections in (each
// held until a few hundred newer ones are open) and another launches 200
// times, one after another: how many launches went unanswered, and the
// longest the main thread was held at once.
void BM_SingleInstanceConnectionFlood(benchmark::State& state)
{
    application();
    std::string folder = (std::filesystem::temp_directory_path() / "parlaro-instance-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        std::abort();
    const std::string path = folder + "/instance";
    app::SingleInstance instance(QString::fromStdString(path));
    int shown = 0;
    instance.onShowRequest = [&] { ++shown; };
    if (!instance.claim())
        std::abort();
    constexpr int launches = 200;
    double longest = 0;
    int unanswered = 0;
    for (auto _ : state) {
        int stop[2];
        int report[2];
        if (::pipe(stop) != 0 || ::pipe(report) != 0)
            std::abort();
        const pid_t flooder = ::fork();
        if (flooder == 0) {
            ::close(stop[1]);
            test::floodConnections(path, stop[0]);
        }
        const pid_t launcher = ::fork();
        if (launcher == 0) {
            ::close(stop[1]);
            int failed = 0;
            for (int launch = 0; launch < launches; ++launch) {
                if (!askToShow(path))
                    ++failed;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            const bool told = ::write(report[1], &failed, sizeof failed) == sizeof failed;
            ::_exit(told ? 0 : 1);
        }
        ::close(report[1]);
        const auto start = Clock::now();
        for (;;) {
            // A turn of an event loop, which also deletes the connections
            // closed in it, as the program's does.
            const auto before = Clock::now();
            QEventLoop turn;
            QTimer::singleShot(0, &turn, &QEventLoop::quit);
            turn.exec();
            longest = std::max(longest, std::chrono::duration<double>(Clock::now() - before).count());
            pollfd entry{report[0], POLLIN, 0};
            if (::poll(&entry, 1, 0) > 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (::read(report[0], &unanswered, sizeof unanswered) != sizeof unanswered)
            unanswered = launches;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        ::close(stop[1]);
        ::waitpid(flooder, nullptr, 0);
        ::waitpid(launcher, nullptr, 0);
        ::close(stop[0]);
        ::close(report[0]);
    }
    state.counters["launches"] = launches;
    state.counters["unanswered"] = unanswered;
    state.counters["longest_block_ms"] = longest * 1000;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SingleInstanceConnectionFlood)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
