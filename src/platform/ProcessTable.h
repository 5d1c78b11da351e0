#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace parlaro {

// The running processes, as far as this user may see and signal them.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    virtual std::vector<pid_t> pids() const = 0;
    // The short command name; nullopt once the process is gone.
    virtual std::optional<std::string> name(pid_t pid) const = 0;
    virtual std::optional<uid_t> owner(pid_t pid) const = 0;
    virtual void terminate(pid_t pid) = 0;
};

}  // namespace parlaro
