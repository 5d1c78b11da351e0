#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

class FolderWalk;

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

// Where a file is written, decided once: the folder it lies in, walked
// and held open (see FolderWalk), and its name there. Every read, write and
// rename through it is made relative to that folder, so a folder or link
// swapped in on the way after the decision is never used.
struct FilePlace {
    // A link at the path that is not followed (AtALink::followToOwnFile).
    struct RefusedLink {
        // The folder, or file, that made it refused.
        std::filesystem::path at;
        std::string why;
        // Another may have put it there or chosen where it leads: what it
        // leads to is no file of the user's to read.
        bool untrusted = true;
    };

    std::shared_ptr<FolderWalk> folder;
    std::string name;
    std::optional<RefusedLink> refusedLink;
    // What kept the place from being decided (ELOOP for a chain of links
    // that never ends); 0 when nothing did.
    int error = 0;

    // As walked, links resolved.
    std::filesystem::path path() const;
};

// Decides where writes to `file` go: its own folder, or for a link that
// AtALink::followToOwnFile follows, the folder of the file at the end of
// its chain, each hop judged on the way.
FilePlace placeOf(const std::filesystem::path& file, AtALink atALink = AtALink::replace);

// Replaces the file's contents so that a reader (or a crash) sees either the
// old or the new contents, never a mix: a temporary file (0600) in the same
// folder is written and synced, then renamed over the target. Missing
// folders are made for the user alone (0700). Throws std::system_error,
// leaving the old file untouched, also when a step on the way is one
// another may swap.
void writeFileAtomically(FilePlace& place, std::string_view contents);
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         AtALink atALink = AtALink::replace);

// Moves the file `name` of `folder` (damaged contents kept for the user)
// aside to `base`, else `base-2`, `base-3`... up to `base-<most>`, never
// over a file there: a copy set aside earlier must not be lost to a later
// one. The copy is read by the user alone, as the file it was: others lose
// their read and write bits. The name it was given; none when it could not
// be moved.
std::optional<std::string> moveAside(int folder, const std::string& name, const std::string& base, int most);

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
