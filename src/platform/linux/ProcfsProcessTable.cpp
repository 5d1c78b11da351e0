#include "platform/linux/ProcfsProcessTable.h"

#include <charconv>
#include <csignal>
#include <fstream>
#include <sys/stat.h>

namespace parlaro::sys {

std::vector<pid_t> ProcfsProcessTable::pids() const
{
    std::vector<pid_t> result;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
        const std::string name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (failure == std::errc() && end == name.data() + name.size() && pid >= 1)
            result.push_back(pid);
    }
    return result;
}

std::optional<std::string> ProcfsProcessTable::name(pid_t pid) const
{
    std::ifstream comm(root_ / std::to_string(pid) / "comm");
    std::string line;
    if (!comm || !std::getline(comm, line))
        return std::nullopt;
    return line;
}

std::optional<uid_t> ProcfsProcessTable::owner(pid_t pid) const
{
    struct stat info {};
    if (::stat((root_ / std::to_string(pid)).c_str(), &info) != 0)
        return std::nullopt;
    return info.st_uid;
}

void ProcfsProcessTable::terminate(pid_t pid)
{
    if (pid >= 1)
        ::kill(pid, SIGTERM);
}

}  // namespace parlaro::sys
