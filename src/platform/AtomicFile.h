#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// What a write does with a symbolic link at the path.
enum class AtALink {
    // The link is replaced and the file it leads to never opened: the
    // program's own records, where a link is nothing the program made and
    // may lead to any file of the user's.
    replace,
    // The link stays when it leads to a regular file of this user's (or to
    // nothing, in a folder of this user's), which is then the one replaced,
    // in its own folder: a settings file kept with the user's other
    // dotfiles. Any other link is replaced, and so is one that lies, or
    // leads through a link that lies, in a folder another user may change
    // (see whyNotTheUsers()), or whose file is in such a folder.
    followToOwnFile,
};

// Replaces the file's contents so that a reader (or a crash) sees either the
// old or the new contents, never a mix: a temporary file in the same folder
// is written and synced, then renamed over the target. Creates missing
// folders. Throws std::system_error, leaving the old file untouched.
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         AtALink atALink = AtALink::replace);

// The file that writeFileAtomically(file, ..., AtALink::followToOwnFile)
// replaces.
std::filesystem::path ownLinkTarget(const std::filesystem::path& file);

// The file at the end of any chain of symbolic links at the path (a relative link counts from its own
// folder). Throws std::system_error (ELOOP) on a chain that never ends.
std::filesystem::path followLinks(const std::filesystem::path& file);

// Older than any write still in progress (seconds): a temporary of
// writeFileAtomically() last changed this long ago was left by a write that
// was killed before its rename.
inline constexpr double staleTemporaryAge = 60.0;

// Removes from `folder` the temporaries that writes killed before their
// rename left behind, of the targets whose file name `isTarget` accepts:
// regular files last changed at least `minimumAge` seconds ago (younger ones
// may belong to a write under way). With no minimum age, every entry named
// as such a temporary goes, whatever it is and however recent. Errors are
// ignored.
void removeStaleTemporaries(const std::filesystem::path& folder,
                            const std::function<bool(const std::string& target)>& isTarget,
                            std::optional<double> minimumAge);

// The name of the file that a temporary of writeFileAtomically() with this
// name was to replace; none when the name is not one of its temporaries. A
// write killed before its rename leaves its temporary behind, holding the
// new contents.
std::optional<std::string> atomicWriteTarget(std::string_view temporaryName);

}  // namespace parlaro
