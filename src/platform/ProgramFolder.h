#pragma once

#include <filesystem>
#include <functional>
#include <system_error>

namespace parlaro {

// The program's own folder inside a base folder such as $XDG_CONFIG_HOME or
// $XDG_DATA_HOME: "parlaro". Earlier versions kept their files in
// "wenmora"; the first time the folder is asked for while only that one
// exists, it is renamed to the new name, so settings and history come along.
// If the rename fails (another file system, no permission), the old folder
// stays where it is with everything in it and is returned, and the failure
// is logged; the move is tried again at the next start.
using FolderRename =
    std::function<void(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error)>;
std::filesystem::path programFolder(const std::filesystem::path& base);
// The same, renaming through `rename` (tests make it fail).
std::filesystem::path programFolder(const std::filesystem::path& base, const FolderRename& rename);

inline constexpr const char* programFolderName = "parlaro";
inline constexpr const char* legacyProgramFolderName = "wenmora";

}  // namespace parlaro
