#include "PulseTestServer.h"

#include "support/Patience.h"
#include "support/ServerLogOnFailure.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace parlaro::test {

namespace {

[[maybe_unused]] const bool serverLogsShown =
    showServerLogsOnFailure([] { return std::filesystem::path(pulseTestDir()); });

}  // namespace

SoundServer testSoundServer()
{
    const char* server = std::getenv("PULSE_SERVER");
    return server && std::string(server).find("/pipewire-test/") != std::string::npos ? SoundServer::pipewire
                                                                                      : SoundServer::pulseaudio;
}

const char* soundServerName(SoundServer server)
{
    return server == SoundServer::pipewire ? "PipeWire" : "PulseAudio";
}

std::string pulseTestDir()
{
    return std::string(PARLARO_SOUND_TEST_ROOT)
        + (testSoundServer() == SoundServer::pipewire ? "/pipewire-test" : "/pulseaudio-test");
}

std::string daemonScript()
{
    return testSoundServer() == SoundServer::pipewire ? PARLARO_PIPEWIRE_DAEMON : PARLARO_PULSE_DAEMON;
}

std::string missingServerProgram()
{
    const std::vector<std::string> programs = testSoundServer() == SoundServer::pipewire
        ? std::vector<std::string>{"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pw-metadata", "pactl"}
        : std::vector<std::string>{"pulseaudio", "pactl"};
    for (const auto& program : programs)
        if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0)
            return program;
    return {};
}

std::string pactl(const std::string& arguments)
{
    std::string command = "pactl " + arguments + " 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

Child::Child(const std::vector<std::string>& argv, Pipe pipe)
{
    // A child that ends early makes writes fail instead of ending the tests.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        if (pipe == Pipe::output)
            dup2(fds[1], STDOUT_FILENO);
        else
            dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    fd_ = pipe == Pipe::output ? fds[0] : fds[1];
    close(pipe == Pipe::output ? fds[1] : fds[0]);
}

Child::~Child()
{
    stop();
    if (fd_ >= 0)
        close(fd_);
}

void Child::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

bool Child::read(float* data, std::size_t count)
{
    auto* bytes = reinterpret_cast<char*>(data);
    std::size_t left = count * sizeof(float);
    while (left > 0) {
        const ssize_t n = ::read(fd_, bytes, left);
        if (n <= 0)
            return false;
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool Child::write(const float* data, std::size_t count)
{
    const auto* bytes = reinterpret_cast<const char*>(data);
    std::size_t left = count * sizeof(float);
    while (left > 0) {
        const ssize_t n = ::write(fd_, bytes, left);
        if (n <= 0)
            return false;
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

double measuredFrequency(const std::vector<float>& samples, double rate, double low, double high)
{
    // The strongest component between low and high, to a hundredth of a
    // hertz: a gap in the sound (a late cycle on a loaded machine) lowers
    // the peak but does not move it.
    double best = low;
    double strongest = -1;
    for (double step : {1.0, 0.1, 0.01}) {
        const double from = strongest < 0 ? low : best - 10 * step;
        const double to = strongest < 0 ? high : best + 10 * step;
        for (double f = from; f <= to; f += step) {
            const double a = amplitudeAt(samples, rate, f);
            if (a > strongest) {
                strongest = a;
                best = f;
            }
        }
    }
    return best;
}

double amplitudeAt(const std::vector<float>& samples, double rate, double frequency)
{
    const double w = 2 * M_PI * frequency / rate;
    double re = 0;
    double im = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        re += samples[i] * std::cos(w * i);
        im -= samples[i] * std::sin(w * i);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(samples.size());
}

}  // namespace parlaro::test
