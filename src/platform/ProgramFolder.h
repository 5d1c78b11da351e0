#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace parlaro {

inline constexpr const char* programFolderName = "parlaro";
inline constexpr const char* legacyProgramFolderName = "wenmora";

using FolderRename =
    std::function<void(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error)>;

// Where the program keeps one of its entries (a settings file, the history
// folder) inside a base folder such as $XDG_CONFIG_HOME or $XDG_DATA_HOME:
// <base>/parlaro/<entry>. Earlier versions kept them in <base>/wenmora, and
// what is there is brought over, entry by entry, because <base>/parlaro may
// already hold other files (an installation under ~/.local puts its string
// tables there):
//  - only the earlier entry exists: it is moved to the new place;
//  - both exist (an earlier copy ran during the upgrade): the files of an
//    earlier folder (the sessions of a history, each named by its own id)
//    move in beside the new ones, never over one; an earlier file (the
//    settings) is kept aside beside the new one as "<entry>.earlier",
//    "<entry>.earlier-2"... and the new one stays in force;
//  - a link among what moves that would point nowhere from its new place
//    is made to point where it did.
// The earlier folder goes once nothing of the user's is left in it (string
// tables an earlier installation left in it are none of the user's).
//
// An earlier entry that cannot be read or moved (another owner, another
// file system) stays where it is and the new place is used all the same,
// so saving works; the user is told once (a note, see takeEarlierEntryNotes(),
// remembered in the new folder) and the move is tried again at each start.
//
// A start killed halfway through is finished by the next one: marks in the
// new folder say that links may still need mending, and which file kept
// aside the user has not heard of yet (its note comes again at each start
// until earlierEntryNoteTold()).
std::filesystem::path programPath(const std::filesystem::path& base, const std::filesystem::path& entry);
// The same, renaming through `rename` (tests make it fail).
std::filesystem::path programPath(const std::filesystem::path& base, const std::filesystem::path& entry,
                                  const FolderRename& rename);

// What bringing an earlier entry over did, or what else became of the
// program's folders and files, that the user must hear of.
struct EarlierEntryNote {
    enum class Kind {
        // Could not be read or moved; it stays at `earlier`.
        leftBehind,
        // An earlier settings file beside a newer one, kept aside at `keptAt`.
        keptAside,
        // A config, data or state folder (`earlier`) that is not the user's
        // alone, passed over for `inUse` (empty: none is left); `reason`
        // says why. Also a settings file at `inUse` that is a link through
        // such a folder, or to another's file (`earlier`): it is not read,
        // and a save replaces the link.
        passedOver,
        // A conversation file (`earlier`) that cannot be read: it stays as
        // it is, unlisted; `reason` says why.
        conversationUnreadable,
        // The recognition cache (`earlier`) that cannot be read: damaged
        // contents are kept aside at `keptAt` and a new cache is started;
        // anything else (`keptAt` empty) stays as it is and is not written
        // over. `reason` says why.
        cacheUnreadable,
    };
    Kind kind;
    std::filesystem::path earlier;
    // Where the earlier file went (keptAside).
    std::filesystem::path keptAt;
    // The entry's new place, which is in use.
    std::filesystem::path inUse;
    // The system's words, for leftBehind.
    std::string reason;
    bool operator==(const EarlierEntryNote&) const = default;
};

// The notes gathered since the last call, oldest first. Any thread.
std::vector<EarlierEntryNote> takeEarlierEntryNotes();

// Adds a note for takeEarlierEntryNotes(), unless the same one waits.
void addEarlierEntryNote(EarlierEntryNote note);

// The user has seen the note: a file kept aside is not told again.
void earlierEntryNoteTold(const EarlierEntryNote& note);

}  // namespace parlaro
