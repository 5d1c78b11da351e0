#pragma once

#include <filesystem>
#include <functional>
#include <system_error>

namespace parlaro {

inline constexpr const char* programFolderName = "parlaro";
inline constexpr const char* legacyProgramFolderName = "wenmora";

using FolderRename =
    std::function<void(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error)>;

// Where the program keeps one of its entries (a settings file, the history
// folder) inside a base folder such as $XDG_CONFIG_HOME or $XDG_DATA_HOME:
// <base>/parlaro/<entry>. Earlier versions kept them in <base>/wenmora; the
// first time an entry is asked for while only the earlier one exists, it is
// moved over, so settings and history come along, and the earlier folder
// goes once it is empty. Entry by entry, because <base>/parlaro may already
// hold other files (an installation under ~/.local puts its string tables
// there). If the move fails (another file system, no permission), the
// earlier entry stays where it is with everything in it and is returned, the
// failure is logged, and the move is tried again at the next start. An
// entry already at the new place is the user's: it is used, never replaced.
std::filesystem::path programPath(const std::filesystem::path& base, const std::filesystem::path& entry);
// The same, renaming through `rename` (tests make it fail).
std::filesystem::path programPath(const std::filesystem::path& base, const std::filesystem::path& entry,
                                  const FolderRename& rename);

}  // namespace parlaro
