#pragma once

#include <string>
#include <vector>

namespace parlaro::app {

// What the arguments ask of the program. The whole list is read before Qt
// starts, so help, the version and a usage error need no display; Qt's own
// options (such as -platform and its value) are left to Qt.
struct CommandLine {
    enum class Action { run, help, version, usageError };

    Action action = Action::run;
    bool simulated = false;
    // The first argument not understood, for the usage error.
    std::string unknown;
    // `unknown` is one of Qt's options, last in the list without its value.
    bool valueMissing = false;

    // Before Qt: `--help`/`-h` and `--version` anywhere in the list, else
    // the first argument that is neither ours nor one of Qt's options.
    static CommandLine early(const std::vector<std::string>& arguments);
    // Reads what Qt left over; anything but `--sim` is a usage error.
    static CommandLine parse(const std::vector<std::string>& arguments);

    static std::string usage();
    static std::string versionLine(const std::string& version);

    // Exit codes: help and version succeed, a usage error is 2.
    static constexpr int usageExitCode = 2;
};

}  // namespace parlaro::app
