#pragma once

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace parlaro::bench {

constexpr int virtualMicRate = 48000;
// A sample this loud (about -40 dBFS) is audible; the virtual microphone is
// digital silence otherwise.
constexpr int audible = 320;

// Reads the virtual microphone as a call application would, timing each
// sample by when it arrived: the sample that ends a read arrived at the
// read's return, the ones before it a sample period apart.
class VirtualMicReader {
public:
    // Samples at least `level` loud count as heard.
    explicit VirtualMicReader(int level = audible) : level_(level)
    {
        // Close-on-exec: a program the graph starts meanwhile (the
        // translator's chain) must not hold the pipe open past parec.
        int link[2];
        if (::pipe2(link, O_CLOEXEC) != 0)
            return;
        const std::string rate = "--rate=" + std::to_string(virtualMicRate);
        std::vector<std::string> args{"parec", "--raw", "--format=s16le",          "--channels=1", "--latency-msec=10",
                                      rate,    "-d",    "parlaro_virtualmic_input"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, link[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, link[0]);
        const bool spawned = ::posix_spawnp(&parec_, "parec", &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(link[1]);
        if (!spawned) {
            ::close(link[0]);
            parec_ = 0;
            return;
        }
        fd_ = link[0];
        thread_ = std::thread([this] { read(); });
    }
    ~VirtualMicReader()
    {
        if (parec_ <= 0)
            return;
        ::kill(parec_, SIGTERM);
        thread_.join();
        ::close(fd_);
        int status = 0;
        ::waitpid(parec_, &status, 0);
    }

    bool running() const { return parec_ > 0; }

    // From now on, the arrival of the first audible sample is kept, and the
    // audible samples counted.
    void arm()
    {
        first_ = 0;
        heardSamples_ = 0;
        armed_ = true;
    }
    void disarm() { armed_ = false; }
    std::optional<std::chrono::steady_clock::time_point> firstAudible() const
    {
        const auto at = first_.load();
        if (at == 0)
            return std::nullopt;
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(at));
    }
    double heardSeconds() const { return static_cast<double>(heardSamples_.load()) / virtualMicRate; }

private:
    void read()
    {
        std::int16_t samples[480];
        for (;;) {
            const auto got = ::read(fd_, samples, sizeof samples);
            if (got <= 0)
                return;
            const auto arrived = std::chrono::steady_clock::now();
            if (!armed_)
                continue;
            const auto count = static_cast<std::size_t>(got) / sizeof(std::int16_t);
            for (std::size_t i = 0; i < count; ++i) {
                if (std::abs(static_cast<int>(samples[i])) < level_)
                    continue;
                ++heardSamples_;
                if (first_.load() == 0) {
                    const auto before = std::chrono::duration<double>(double(count - 1 - i) / virtualMicRate);
                    first_ = (arrived - std::chrono::duration_cast<std::chrono::steady_clock::duration>(before))
                                 .time_since_epoch()
                                 .count();
                }
            }
        }
    }

    const int level_;
    pid_t parec_ = 0;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> armed_{false};
    std::atomic<std::chrono::steady_clock::rep> first_{0};
    std::atomic<std::size_t> heardSamples_{0};
};

}  // namespace parlaro::bench
