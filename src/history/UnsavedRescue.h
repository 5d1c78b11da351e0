#pragma once

#include "history/ConversationSession.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::UnsavedRescue {

// Where conversations the history could not write go when the program is
// ended without anyone to ask (a signal, the session ending): one folder
// per place, tried in order, each on the chance that it can be written
// where the history could not. Each session is a file as the history keeps
// it, so it can be put back into the history folder as it is.
inline constexpr const char* folderName = "Unsaved conversations";

// $XDG_STATE_HOME/parlaro (or ~/.local/state/parlaro), $XDG_CONFIG_HOME/parlaro
// (or ~/.config/parlaro) and the home folder itself, each with folderName
// in it; relative variables are ignored, and without a home only what the
// variables name.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
std::vector<std::filesystem::path> places(const EnvironmentLookup& environment);
// The same, from the process's environment.
std::vector<std::filesystem::path> places();

// Writes every session into the first place that takes them all; that
// folder, or none when no place could. The folder remembers that the user
// has not been told yet.
std::optional<std::filesystem::path> write(const std::vector<ConversationSession>& sessions,
                                           const std::vector<std::filesystem::path>& places);

// A folder written to since the user was last told, and how many
// conversations it holds.
struct Untold {
    std::filesystem::path folder;
    std::size_t sessions = 0;
};
// What a start did with the rescued conversations: how many went back into
// the history, and the first folder still holding some that could not, if
// the user has not heard of it yet (from then on it counts as told).
struct BroughtBack {
    std::size_t sessions = 0;
    std::optional<Untold> left;
};
// Hands every session file of every place to `save` (true once the
// history holds the session) and removes the file only then; a file that
// does not decode stays. What rescues killed mid-write left behind (hidden
// temporaries holding conversation text) is swept first: only one copy of
// the program runs, so no write is under way. A folder left empty goes.
BroughtBack bringBack(const std::vector<std::filesystem::path>& places,
                      const std::function<bool(const ConversationSession&)>& save);

}  // namespace parlaro::UnsavedRescue
