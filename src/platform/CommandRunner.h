#pragma once

#include <string>
#include <vector>

namespace parlaro {

// Runs a program to its end with its output discarded.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // The exit status; -1 when the program could not be started or did not
    // exit normally.
    virtual int run(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

}  // namespace parlaro
