// The running copy's single-instance socket under a connection that pours
// out a megabyte of "show" lines: the longest the main thread is held at
// once (one turn of the event loop) until the connection is gone.

#include "app/SingleInstance.h"

#include "BenchApplication.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
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

}  // namespace
