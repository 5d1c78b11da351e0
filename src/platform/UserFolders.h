#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro {

// The user's folders that the program keeps its files under.
enum class UserFolder {
    config,  // $XDG_CONFIG_HOME, or ~/.config
    data,    // $XDG_DATA_HOME, or ~/.local/share
    state,   // $XDG_STATE_HOME, or ~/.local/state
};

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
using HomeLookup = std::function<std::optional<std::string>()>;

// The account's home folder in the password database; none when it has no
// entry there.
std::optional<std::string> accountHomeFolder();

// Why the program may not keep its files in `folder`: another user owns
// it, or others may write in it (and so plant a link there, or a folder of
// their own). A folder that is not there yet is judged by the nearest one
// above it that is, owner and write bits, since whoever may write there may
// make it first and its owner may swap it for one of their own. The
// folders above count too: one that another user owns, or that others may
// write in (a sticky one aside, when the step below is the user's), lets
// them put a folder of their own in its place, and so does every folder a
// link on the way lies in, each hop of a chain (see FolderWalk). None when
// it may. A folder its group may write in is the user's alone when that
// group is the user's own, with nobody else in it.
std::optional<std::string> whyNotTheUsers(const std::filesystem::path& folder);

// The user's config, data or state folder: the variable when it holds an
// absolute path, else the one under the home folder ($HOME when absolute,
// else `accountHome()`). A folder that whyNotTheUsers() refuses, or whose
// "parlaro" folder it refuses, is passed over for the one under the home
// folder, and the user is told once (see takeEarlierEntryNotes()). None
// when no folder is left. Each folder is judged once for the run, so every
// part that looks it up gets the same answer, whatever was made since.
std::optional<std::filesystem::path> userFolder(UserFolder kind, const EnvironmentLookup& environment,
                                                const HomeLookup& accountHome = accountHomeFolder);

// What the program puts in its own environment before any library reads it,
// so that every library in the process (the sound server's, which keeps a
// cookie in the config folder; the toolkit's) keeps to what userFolder()
// decides: each set variable whose folder is not the one the program uses,
// with the one it uses, or with a path under which nothing can be made when
// it uses none. The folders are judged, and the user told, as userFolder()
// does; a later lookup that finds a value given here answers as this
// decision did, not by a new judgement.
std::vector<std::pair<std::string, std::string>>
settleFolderVariables(const EnvironmentLookup& environment, const HomeLookup& accountHome = accountHomeFolder);

// The program's own folder in it: userFolder(...)/parlaro.
std::optional<std::filesystem::path> programFolder(UserFolder kind, const EnvironmentLookup& environment,
                                                   const HomeLookup& accountHome = accountHomeFolder);

}  // namespace parlaro
