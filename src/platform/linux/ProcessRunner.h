#pragma once

#include "platform/CommandRunner.h"

namespace parlaro::sys {

// fork and exec by path, standard output and error to /dev/null.
class ProcessRunner final : public CommandRunner {
public:
    int run(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace parlaro::sys
