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

// Puts the folders the program uses in place of the config, data and state
// folders it refuses, in this process's environment (see
// settleFolderVariables()). Called first thing in main(), while no other
// thread runs and before any library has read them.
void settleProcessFolderVariables();

}  // namespace parlaro::sys
