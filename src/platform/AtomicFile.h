#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// Replaces the file's contents so that a reader (or a crash) sees either the
// old or the new contents, never a mix: a temporary file in the same folder
// is written and synced, then renamed over the target. A symbolic link at
// the path stays a link: the file it leads to is the one replaced, in its
// own folder. Creates missing folders. Throws std::system_error, leaving
// the old file untouched.
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents);

// Where writeFileAtomically(file) writes: the file at the end of any chain
// of symbolic links at the path (a relative link counts from its own
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
