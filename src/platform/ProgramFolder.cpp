#include "platform/ProgramFolder.h"

#include "platform/FolderWalk.h"
#include "runtime/Log.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <stdio.h>
#include <unistd.h>
#include <utility>

namespace parlaro {

namespace fs = std::filesystem;

namespace {

std::mutex notesMutex;
std::vector<EarlierEntryNote> pendingNotes;

// What is at the path: none when nothing is, the error when it cannot be
// looked at (a folder on the way that may not be read).
struct Presence {
    bool present = false;
    std::error_code error;
};

Presence look(const fs::path& path)
{
    Presence found;
    // A dangling link counts: it is something of the user's.
    const fs::file_status status = fs::symlink_status(path, found.error);
    if (found.error == std::errc::no_such_file_or_directory || found.error == std::errc::not_a_directory)
        found.error.clear();
    found.present = !found.error && status.type() != fs::file_type::not_found;
    return found;
}

bool present(const fs::path& path)
{
    return look(path).present;
}

// A relative link moved to another folder may lead nowhere from there; it
// is made to lead where it did.
void keepLinkPointing(const fs::path& moved, const fs::path& earlierFolder)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(moved, error)))
        return;
    const fs::path target = fs::read_symlink(moved, error);
    // Lexically: the folder the link was in may itself have moved.
    const fs::path absolute = (earlierFolder / target).lexically_normal();
    if (error || target.is_absolute() || present(moved.parent_path() / target) || !present(absolute))
        return;
    const fs::path replacement = moved.parent_path() / ("." + moved.filename().string() + ".link");
    fs::remove(replacement, error);
    fs::create_symlink(absolute, replacement, error);
    if (!error)
        fs::rename(replacement, moved, error);
    if (error)
        fs::remove(replacement, error);
}

// Moves without replacing what is there (false, `taken`, when something is).
bool moveWithoutReplacing(const fs::path& from, const fs::path& to, bool& taken, std::error_code& error)
{
    taken = false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    taken = errno == EEXIST;
    error = std::error_code(errno, std::generic_category());
    return false;
}

// String tables an earlier installation under ~/.local put beside its data:
// program files, not the user's, and of no use to this version.
bool onlyStringTables(const fs::path& folder)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error)))
        return false;
    for (fs::recursive_directory_iterator it(folder, error), end; it != end; it.increment(error)) {
        if (error)
            return false;
        const fs::path relative = it->path().lexically_relative(folder);
        if (*relative.begin() != "i18n")
            return false;
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_directory(status))
            continue;
        if (!fs::is_regular_file(status) || it->path().extension() != ".json")
            return false;
    }
    return !error;
}

// Removes the earlier folder when nothing of the user's is left in it.
void removeEmptiedFolder(const fs::path& legacyFolder)
{
    std::error_code error;
    if (onlyStringTables(legacyFolder / "resources"))
        fs::remove_all(legacyFolder / "resources", error);
    // Only when empty.
    fs::remove(legacyFolder, error);
}

// The new folder remembers that the user heard of an entry left behind, so
// later starts do not tell it again while it stays.
fs::path toldMark(const fs::path& current)
{
    return current.parent_path() / ("." + current.filename().string() + ".earlier-left");
}

// Made before an entry moves and removed once its links lead where they
// did: a start that finds it was killed in between.
fs::path movingMark(const fs::path& current)
{
    return current.parent_path() / ("." + current.filename().string() + ".moving");
}

// Beside a file kept aside that the user has not heard of yet.
constexpr std::string_view untoldSuffix = ".untold";

fs::path untoldMark(const fs::path& kept)
{
    return kept.parent_path() / ("." + kept.filename().string() + std::string(untoldSuffix));
}

bool makeMark(const fs::path& mark)
{
    const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Mends what an entry brought over may hold: the entry itself, and each
// file of a folder.
void mendMovedLinks(const fs::path& current, const fs::path& legacyFolder, const fs::path& legacy)
{
    keepLinkPointing(current, legacyFolder);
    std::error_code ignored;
    if (!fs::is_directory(fs::symlink_status(current, ignored)))
        return;
    for (fs::directory_iterator it(current, ignored), end; !ignored && it != end; it.increment(ignored))
        keepLinkPointing(it->path(), legacy);
}

// What a start killed halfway left: links to mend, files kept aside that
// were never told.
void finishInterrupted(const fs::path& current, const fs::path& legacyFolder, const fs::path& legacy)
{
    std::error_code error;
    if (present(movingMark(current))) {
        mendMovedLinks(current, legacyFolder, legacy);
        // Still there: what is left of it moves below, and the mark goes
        // once that is done.
        if (!present(legacy))
            fs::remove(movingMark(current), error);
    }
    const std::string prefix = "." + current.filename().string() + ".earlier";
    std::vector<fs::path> untold;
    for (fs::directory_iterator it(current.parent_path(), error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(untoldSuffix))
            untold.push_back(it->path());
    }
    for (const fs::path& mark : untold) {
        const std::string name = mark.filename().string();
        const fs::path kept = mark.parent_path() / name.substr(1, name.size() - 1 - untoldSuffix.size());
        if (present(kept))
            addEarlierEntryNote({EarlierEntryNote::Kind::keptAside, legacy, kept, current, {}});
        else
            fs::remove(mark, error);
    }
}

void leftBehind(const fs::path& legacy, const fs::path& current, const std::error_code& why)
{
    rt::logMessage("could not bring " + legacy.string() + " over to " + current.string() + " (" + why.message()
                   + "); it stays there and " + current.string() + " is used.");
    const fs::path mark = toldMark(current);
    if (present(mark))
        return;
    makeFolders(mark.parent_path());
    makeMark(mark);
    addEarlierEntryNote({EarlierEntryNote::Kind::leftBehind, legacy, {}, current, why.message()});
}

// Both folders exist: what the earlier one holds moves in beside what the
// new one holds, never over it. The index is a cache the next listing
// rebuilds with the newcomers in it.
std::error_code mergeFolder(const fs::path& legacy, const fs::path& current, const FolderRename& rename)
{
    std::error_code failure;
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(legacy, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    if (error)
        return error;
    for (const fs::path& from : entries) {
        const fs::path to = current / from.filename();
        if (from.filename() == "index.json") {
            fs::remove(from, error);
            continue;
        }
        if (present(to)) {
            failure = std::make_error_code(std::errc::file_exists);
            continue;
        }
        std::error_code moved;
        rename(from, to, moved);
        if (moved)
            failure = moved;
        else
            keepLinkPointing(to, legacy);
    }
    fs::remove(legacy, error);
    return failure;
}

// Both files exist: the new one is in force, the earlier one goes beside
// it under a name of its own.
std::optional<fs::path> keepAside(const fs::path& legacy, const fs::path& current, std::error_code& error)
{
    const std::string base = current.string() + ".earlier";
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const fs::path kept = attempt == 1 ? fs::path(base) : fs::path(base + "-" + std::to_string(attempt));
        if (present(kept))
            continue;
        // Made first: the user hears of the file even if this start is
        // killed right after the move.
        const fs::path mark = untoldMark(kept);
        makeMark(mark);
        bool taken = false;
        if (moveWithoutReplacing(legacy, kept, taken, error)) {
            error.clear();
            keepLinkPointing(kept, legacy.parent_path());
            return kept;
        }
        std::error_code ignored;
        fs::remove(mark, ignored);
        if (!taken)
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

fs::path programPath(const fs::path& base, const fs::path& entry)
{
    return programPath(base, entry, [](const fs::path& from, const fs::path& to, std::error_code& error) {
        fs::rename(from, to, error);
    });
}

fs::path programPath(const fs::path& base, const fs::path& entry, const FolderRename& rename)
{
    const fs::path current = base / programFolderName / entry;
    const fs::path legacyFolder = base / legacyProgramFolderName;
    const fs::path legacy = legacyFolder / entry;
    finishInterrupted(current, legacyFolder, legacy);
    const Presence earlier = look(legacy);
    if (earlier.error) {
        // An earlier folder this user may not look into holds nothing that
        // could be used: the new place is.
        leftBehind(legacy, current, earlier.error);
        return current;
    }
    if (!earlier.present)
        return current;
    // For the user alone, as every folder the program makes.
    std::error_code error = makeFolders(current.parent_path());
    std::error_code ignored;
    if (!present(current)) {
        if (!error)
            makeMark(movingMark(current));
        if (!error)
            rename(legacy, current, error);
        if (!error)
            mendMovedLinks(current, legacyFolder, legacy);
        fs::remove(movingMark(current), ignored);
    } else {
        const bool earlierFolder = fs::is_directory(fs::symlink_status(legacy, ignored));
        const bool folders = earlierFolder && fs::is_directory(fs::symlink_status(current, ignored));
        if (folders) {
            if (!error) {
                makeMark(movingMark(current));
                error = mergeFolder(legacy, current, rename);
                fs::remove(movingMark(current), ignored);
            }
        } else if (earlierFolder) {
            // A folder where a file now is: nothing to merge it with.
            error = std::make_error_code(std::errc::file_exists);
        } else if (!error) {
            if (const auto kept = keepAside(legacy, current, error))
                addEarlierEntryNote({EarlierEntryNote::Kind::keptAside, legacy, *kept, current, {}});
        }
    }
    if (error) {
        leftBehind(legacy, current, error);
        return current;
    }
    fs::remove(toldMark(current), error);
    removeEmptiedFolder(legacyFolder);
    return current;
}

std::vector<EarlierEntryNote> takeEarlierEntryNotes()
{
    std::lock_guard lock(notesMutex);
    return std::exchange(pendingNotes, {});
}

void addEarlierEntryNote(EarlierEntryNote note)
{
    std::lock_guard lock(notesMutex);
    if (std::find(pendingNotes.begin(), pendingNotes.end(), note) == pendingNotes.end())
        pendingNotes.push_back(std::move(note));
}

void earlierEntryNoteTold(const EarlierEntryNote& note)
{
    if (note.kind != EarlierEntryNote::Kind::keptAside)
        return;
    std::error_code ignored;
    fs::remove(untoldMark(note.keptAt), ignored);
}

}  // namespace parlaro
