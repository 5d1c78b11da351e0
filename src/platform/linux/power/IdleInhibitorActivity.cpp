#include "platform/linux/power/IdleInhibitorActivity.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace parlaro::sys {

namespace {

// A running helper: its id and the write end of its standard input.
struct Helper {
    pid_t pid = -1;
    int input = -1;
};

Helper startHelper(const std::vector<std::string>& command)
{
    if (command.empty())
        return {};
    int pipeEnds[2];
    // Close-on-exec, so no other child keeps the inhibitor alive by
    // inheriting the write end.
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[0]);
    if (failed != 0) {
        ::close(pipeEnds[1]);
        return {};
    }
    return {pid, pipeEnds[1]};
}

void endHelper(Helper& helper)
{
    if (helper.input >= 0)
        ::close(helper.input);
    if (helper.pid > 0) {
        int status = 0;
        while (::waitpid(helper.pid, &status, 0) < 0 && errno == EINTR) {}
    }
    helper = {};
}

}  // namespace

struct IdleInhibitorActivity::State {
    Command command;
    mutable std::mutex mutex;
    std::set<std::uint64_t> active;
    std::uint64_t next = 1;
    Helper helper;
};

std::vector<std::string> IdleInhibitorActivity::systemdInhibit(const std::string& reason)
{
    return {"systemd-inhibit", "--what=idle", "--who=Parlaro", "--why=" + reason, "--mode=block", "cat"};
}

IdleInhibitorActivity::IdleInhibitorActivity(Command command) : state_(std::make_shared<State>())
{
    state_->command = std::move(command);
}

IdleInhibitorActivity::~IdleInhibitorActivity()
{
    std::lock_guard lock(state_->mutex);
    state_->active.clear();
    endHelper(state_->helper);
}

ProcessActivity::Token IdleInhibitorActivity::begin(const std::string& reason)
{
    std::uint64_t id;
    {
        std::lock_guard lock(state_->mutex);
        id = state_->next++;
        state_->active.insert(id);
        if (state_->active.size() == 1)
            state_->helper = startHelper(state_->command(reason));
    }
    std::weak_ptr<State> weak = state_;
    return Token([weak, id] {
        auto state = weak.lock();
        if (!state)
            return;
        std::lock_guard lock(state->mutex);
        if (state->active.erase(id) == 1 && state->active.empty())
            endHelper(state->helper);
    });
}

bool IdleInhibitorActivity::isHoldingHelper() const
{
    std::lock_guard lock(state_->mutex);
    return state_->helper.pid > 0;
}

std::size_t IdleInhibitorActivity::activeCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->active.size();
}

}  // namespace parlaro::sys
