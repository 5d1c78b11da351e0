#include "platform/linux/Environment.h"

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

}  // namespace parlaro::sys
