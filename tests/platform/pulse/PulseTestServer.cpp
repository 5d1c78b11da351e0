#include "PulseTestServer.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace parlaro::test {

bool pulseaudioInstalled()
{
    return std::system("command -v pulseaudio >/dev/null 2>&1") == 0;
}

bool waitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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

double measuredFrequency(const std::vector<float>& samples, double rate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double at = (i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) / ((last - first) / rate);
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

} // namespace parlaro::test
