#pragma once

#include "platform/ProcessTable.h"

#include <filesystem>

namespace parlaro::sys {

// Reads /proc (or another root, for tests) and signals with kill().
class ProcfsProcessTable final : public ProcessTable {
public:
    explicit ProcfsProcessTable(std::filesystem::path root = "/proc") : root_(std::move(root)) {}
    std::vector<pid_t> pids() const override;
    std::optional<std::string> name(pid_t pid) const override;
    std::optional<uid_t> owner(pid_t pid) const override;
    void terminate(pid_t pid) override;

private:
    std::filesystem::path root_;
};

}  // namespace parlaro::sys
