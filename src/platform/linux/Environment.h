#pragma once

#include <functional>
#include <optional>
#include <string>

namespace parlaro::sys {

// Reads one environment variable; nullopt when it is not set. Real backends
// take one so that tests can hand them a made-up environment.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// The environment of this process.
Environment processEnvironment();

}  // namespace parlaro::sys
