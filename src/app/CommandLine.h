#pragma once

#include <string>
#include <vector>

namespace parlaro::app {

// What the arguments ask of the program. Qt takes its own options (such as
// -platform) out of the list before the rest is read; `--help` and
// `--version` are answered before Qt starts, so they need no display.
struct CommandLine {
    enum class Action { run, help, version, usageError };

    Action action = Action::run;
    bool simulated = false;
    // The first argument not understood, for the usage error.
    std::string unknown;

    // Before Qt: `--help`/`-h` and `--version` anywhere in the list, else a
    // two-dash option that is neither ours nor Qt's.
    static CommandLine early(const std::vector<std::string>& arguments);
    // Reads what Qt left over; anything but `--sim` is a usage error.
    static CommandLine parse(const std::vector<std::string>& arguments);

    static std::string usage();
    static std::string versionLine(const std::string& version);

    // Exit codes: help and version succeed, a usage error is 2.
    static constexpr int usageExitCode = 2;
};

}  // namespace parlaro::app
