#include "platform/linux/Environment.h"

#include "platform/UserFolders.h"

#include <cstdlib>

namespace parlaro::sys {

Environment processEnvironment()
{
    return [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str())) {
            return std::string(value);
        }
        return std::nullopt;
    };
}

void settleProcessFolderVariables()
{
    for (const auto& [name, value] : settleFolderVariables(processEnvironment()))
        ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace parlaro::sys
