#include "platform/linux/apertium/ApertiumPipeline.h"

#include "platform/linux/apertium/ApertiumStream.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace parlaro::sys {

namespace {

using Reason = TranslationPlatformError::Reason;
using SteadyClock = std::chrono::steady_clock;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The translators read and write UTF-8 only under a UTF-8 locale, whatever
// the program's own environment says.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        if (entry.starts_with("LC_ALL=") || entry.starts_with("LC_CTYPE="))
            continue;
        env.emplace_back(entry);
    }
    env.emplace_back("LC_ALL=C.UTF-8");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

ApertiumPipeline::ApertiumPipeline(std::vector<ApertiumStage> stages, double stallSeconds)
    : stages_(std::move(stages)), stallSeconds_(stallSeconds)
{
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
    }
    thread_ = std::thread([this] { work(); });
}

ApertiumPipeline::~ApertiumPipeline()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (wakeWrite_ >= 0) {
        char byte = 1;
        [[maybe_unused]] auto ignored = ::write(wakeWrite_, &byte, 1);
    }
    thread_.join();
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

void ApertiumPipeline::submit(std::string text, Done done)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(Job{std::move(text), std::move(done)});
    }
    wake_.notify_one();
}

void ApertiumPipeline::warmUp()
{
    submit({}, nullptr);
}

std::size_t ApertiumPipeline::launches() const
{
    std::lock_guard lock(mutex_);
    return launches_;
}

std::vector<pid_t> ApertiumPipeline::processes() const
{
    std::lock_guard lock(mutex_);
    return published_;
}

void ApertiumPipeline::publishProcesses()
{
    std::lock_guard lock(mutex_);
    published_ = processes_;
}

void ApertiumPipeline::work()
{
    pthread_setname_np(pthread_self(), "apertium");
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (!job.done) {
            if (output_ >= 0 && reapEnded())
                stopChain();
            if (output_ < 0)
                launch();
            continue;
        }
        Outcome outcome = translate(job.text);
        job.done(std::move(outcome));
    }
    stopChain();
    std::deque<Job> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(jobs_);
    }
    for (auto& job : left)
        if (job.done)
            job.done(Outcome{std::nullopt, Reason::cancelled, {}});
}

std::optional<std::string> ApertiumPipeline::launch()
{
    int input[2];
    // A socket rather than a pipe feeds the first stage, so that writing to
    // a chain that died fails with an error instead of a signal.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0)
        return std::string(std::strerror(errno));
    input_ = input[0];
    int previous = input[1];
    auto env = childEnvironment();
    auto envp = pointers(env);
    for (const auto& stage : stages_) {
        int link[2];
        if (::pipe2(link, O_CLOEXEC) != 0) {
            std::string reason = std::strerror(errno);
            ::close(previous);
            stopChain();
            return reason;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, previous, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, link[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        // A translator lives as long as the chain: a descriptor others left
        // open across exec (a pipe whose reader waits for its end, a lock)
        // would live on in it.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        auto args = stage;
        auto argv = pointers(args);
        pid_t pid = 0;
        int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(previous);
        ::close(link[1]);
        previous = link[0];
        if (failed != 0) {
            ::close(previous);
            stopChain();
            return stage.front() + ": " + std::strerror(failed);
        }
        processes_.push_back(pid);
    }
    output_ = previous;
    carry_.clear();
    std::lock_guard lock(mutex_);
    ++launches_;
    published_ = processes_;
    return std::nullopt;
}

bool ApertiumPipeline::reapEnded()
{
    bool ended = false;
    for (auto it = processes_.begin(); it != processes_.end();) {
        int status = 0;
        pid_t reaped = ::waitpid(*it, &status, WNOHANG);
        // A reaped stage leaves the list at once: its number may be reused.
        if (reaped == *it || (reaped < 0 && errno == ECHILD)) {
            it = processes_.erase(it);
            ended = true;
        } else {
            ++it;
        }
    }
    if (ended)
        publishProcesses();
    return ended;
}

void ApertiumPipeline::stopChain()
{
    closeFd(input_);
    closeFd(output_);
    for (pid_t pid : processes_)
        ::kill(pid, SIGKILL);
    for (pid_t pid : processes_) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }
    processes_.clear();
    carry_.clear();
    publishProcesses();
}

ApertiumPipeline::Outcome ApertiumPipeline::translate(const std::string& text)
{
    // The translators answer blank text with nothing, which would pass for
    // a broken chain.
    if (ApertiumStream::isBlank(text))
        return Outcome{std::string(), Reason::noOutput, {}};

    // The record ends like a line of text: some stages only finish a word
    // once they see the blank after it, and would sit on the last word of a
    // record that ended right after it.
    std::string record = ApertiumStream::request(text);
    record += "\n";
    record.push_back('\0');

    // A chain that died while idle is replaced before it is given the text.
    if (output_ >= 0 && reapEnded())
        stopChain();
    for (int attempt = 0;; ++attempt) {
        if (output_ < 0) {
            if (auto failure = launch())
                return Outcome{std::nullopt, Reason::failedToStart, *failure};
        }
        bool died = false;
        Outcome outcome = exchange(record, died);
        // Once more on a fresh chain when the old one went away without a
        // word of answer (it may have died just before the text arrived);
        // only once, since a text that kills the chain would kill it again.
        if (!died || attempt > 0) {
            // A dropped word leaves the blanks on both of its sides behind.
            if (outcome.text)
                outcome.text = ApertiumStream::spacedLike(text, *outcome.text);
            return outcome;
        }
    }
}

ApertiumPipeline::Outcome ApertiumPipeline::exchange(const std::string& record, bool& died)
{
    died = false;
    std::size_t written = 0;
    bool answered = false;
    const auto stall = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(stallSeconds_));
    auto deadline = SteadyClock::now() + stall;

    for (;;) {
        if (auto end = carry_.find('\0'); end != std::string::npos) {
            std::string answer = ApertiumStream::answer(std::string_view(carry_).substr(0, end));
            carry_.erase(0, end + 1);
            if (answer.empty()) {
                // A stage that crashed still lets the rest of the chain end
                // its record: nothing is never a translation.
                stopChain();
                return Outcome{std::nullopt, Reason::noOutput, {}};
            }
            return Outcome{std::move(answer), Reason::noOutput, {}};
        }

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{output_, POLLIN, 0};
        fds[count++] = pollfd{wakeRead_, POLLIN, 0};
        const bool writing = written < record.size() && input_ >= 0;
        if (writing)
            fds[count++] = pollfd{input_, POLLOUT, 0};

        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        int ready = ::poll(fds, count, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            stopChain();
            return Outcome{std::nullopt, Reason::notResponding, {}};
        }
        if (fds[1].revents != 0) {
            stopChain();
            return Outcome{std::nullopt, Reason::cancelled, {}};
        }
        bool progress = false;
        if (writing && fds[2].revents != 0) {
            auto sent = ::send(input_, record.data() + written, record.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                written += static_cast<std::size_t>(sent);
                progress = true;
            } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                closeFd(input_);  // the chain is gone; read what it left
            }
        }
        if (fds[0].revents != 0) {
            char buffer[4096];
            auto got = ::read(output_, buffer, sizeof buffer);
            if (got > 0) {
                carry_.append(buffer, static_cast<std::size_t>(got));
                progress = true;
                answered = true;
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                stopChain();
                died = !answered;
                return Outcome{std::nullopt, Reason::noOutput, {}};
            }
        }
        if (progress)
            deadline = SteadyClock::now() + stall;
    }
}

}  // namespace parlaro::sys
