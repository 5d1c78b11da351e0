#include "platform/linux/JsonFileSettingsStore.h"

#include "platform/AtomicFile.h"
#include "platform/FolderWalk.h"
#include "platform/JsonInput.h"
#include "platform/ProgramFolder.h"
#include "platform/UserFolders.h"
#include "platform/linux/DefaultsJson.h"
#include "runtime/Error.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace parlaro::sys {
namespace {

// What reading the settings file found: nothing there, its whole contents,
// why it could not be read, or that it is larger than any settings file.
struct FileRead {
    bool absent = false;
    std::optional<std::string> contents;
    std::string failure;
    bool oversized = false;
};

FileRead readSettingsFile(const FilePlace& place)
{
    FileRead result;
    const FolderWalk& folder = *place.folder;
    if (place.error || folder.error() || folder.refusal()) {
        // A folder on the way that is a file leaves no settings file to keep.
        result.absent = !place.error && folder.error() == ENOTDIR;
        result.failure =
            folder.refusal() ? *folder.refusal() : std::strerror(place.error ? place.error : folder.error());
        return result;
    }
    // Not written through, so not read through: another may have put it
    // there, or chosen what it leads to.
    if (!folder.missing().empty() || (place.refusedLink && place.refusedLink->untrusted)) {
        result.absent = true;
        return result;
    }
    // Non-blocking, so that a FIFO at the path cannot hang the start. Where
    // the decision was to follow no link, none put there since is followed;
    // a link of the user's to something of theirs that is no file is looked
    // at, and kept, as that thing.
    const int noFollow = place.refusedLink ? 0 : O_NOFOLLOW;
    const int fd = ::openat(folder.descriptor(), place.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow);
    if (fd < 0) {
        // A folder on the way that is a file leaves no settings file to keep.
        result.absent = errno == ENOENT || errno == ENOTDIR;
        result.failure = std::strerror(errno);
        return result;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        result.failure = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        result.failure = S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file";
    } else if (static_cast<std::uintmax_t>(status.st_size) > JsonFileSettingsStore::largestFile) {
        // Reading it would take the memory and time of its size, at every
        // start (a sparse file costs no disk for it).
        result.oversized = true;
    } else {
        std::string contents;
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result.failure = std::strerror(errno);
                break;
            }
            if (got == 0) {
                result.contents = std::move(contents);
                break;
            }
            contents.append(buffer, static_cast<std::size_t>(got));
            // A file that grows while it is read is held to the same limit.
            if (contents.size() > JsonFileSettingsStore::largestFile) {
                result.oversized = true;
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

JsonFileSettingsStore::JsonFileSettingsStore(std::filesystem::path file, Timestamp timestamp) : file_(std::move(file))
{
    load(timestamp);
}

std::filesystem::path JsonFileSettingsStore::defaultPath(std::string_view name, const Environment& environment)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos
        || name.find('\0') != std::string_view::npos) {
        throw std::invalid_argument("Settings store name must be a plain file name: " + std::string(name));
    }
    // Never the folder the program was started from.
    const std::optional<std::filesystem::path> base = userFolder(UserFolder::config, environment);
    if (!base)
        throw std::runtime_error(
            "no config folder: HOME is not an absolute path and the account has none, or the folder is not the user's alone");
    return programPath(*base, std::string(name) + ".json");
}

std::string JsonFileSettingsStore::utcTimestamp()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

void JsonFileSettingsStore::load(const Timestamp& timestamp)
{
    // Decided once for the store's life: every read, save and setting aside
    // goes through the folder judged here. A linked file of the user's (say,
    // kept with other dotfiles in a repository) is written, and set aside,
    // where it is; the link stays. A loop of links is no file: the read
    // below fails and says so.
    place_ = placeOf(file_, AtALink::followToOwnFile);
    if (const auto& refused = place_.refusedLink; refused && refused->untrusted)
        addEarlierEntryNote({EarlierEntryNote::Kind::passedOver, refused->at, {}, file_, refused->why});
    // What a save killed before its rename left behind; younger ones may be
    // another process's save under way.
    const FolderWalk& folder = *place_.folder;
    if (!place_.error && !folder.error() && !folder.refusal() && folder.missing().empty())
        removeStaleTemporaries(
            folder.path(), [&](const std::string& name) { return name == place_.name; }, staleTemporaryAge);
    FileRead read = readSettingsFile(place_);
    if (read.absent)
        return;
    if (read.oversized) {
        setAside(timestamp, "is larger than " + std::to_string(largestFile / (1024 * 1024)) + " MiB");
        return;
    }
    if (!read.contents) {
        problem_ = OpenProblem{OpenProblem::Kind::unreadable, file_, "cannot be read: " + read.failure};
        return;
    }
    std::optional<nlohmann::json> parsed = parseJsonInput(*read.contents);
    if (parsed && parsed->is_object()) {
        root_ = std::move(*parsed);
        return;
    }
    std::string reason = "holds no JSON object";
    if (!jsonNestsWithin(*read.contents))
        reason = "is nested more than " + std::to_string(jsonDepthLimit) + " levels deep";
    else if (!parsed)
        reason = "is not valid JSON";
    setAside(timestamp, reason);
}

void JsonFileSettingsStore::setAside(const Timestamp& timestamp, const std::string& reason)
{
    const std::string base = place_.name + ".corrupt-" + timestamp();
    if (const auto kept = moveAside(place_.folder->descriptor(), place_.name, base, 999)) {
        problem_ = OpenProblem{OpenProblem::Kind::setAside, place_.folder->path() / *kept, reason};
        return;
    }
    problem_ = OpenProblem{OpenProblem::Kind::damagedInPlace, place_.path(), reason + " and cannot be moved aside"};
}

std::optional<std::filesystem::path> JsonFileSettingsStore::setAsidePath() const
{
    std::lock_guard lock(mutex_);
    if (problem_ && problem_->kind == OpenProblem::Kind::setAside)
        return problem_->keptAt;
    return std::nullopt;
}

std::optional<JsonFileSettingsStore::OpenProblem> JsonFileSettingsStore::openProblem() const
{
    std::lock_guard lock(mutex_);
    return problem_;
}

std::string JsonFileSettingsStore::serialize(const nlohmann::json& root, std::string_view changedKey,
                                             const nlohmann::json* changedValue)
{
    // The settings as they will be, without copying the tree: entries in
    // key order, the changed one put in, replaced or left out.
    std::vector<std::pair<std::string_view, const nlohmann::json*>> entries;
    entries.reserve(root.size() + 1);
    bool placed = changedValue == nullptr;
    for (const auto& [key, value] : root.items()) {
        const std::string_view name = key;
        if (!placed && changedKey < name) {
            entries.emplace_back(changedKey, changedValue);
            placed = true;
        }
        if (name == changedKey) {
            if (changedValue)
                entries.emplace_back(changedKey, changedValue);
            placed = true;
            continue;
        }
        entries.emplace_back(name, &value);
    }
    if (!placed)
        entries.emplace_back(changedKey, changedValue);
    if (entries.empty())
        return "{}\n";
    // One entry a line, each value compact: the file stays easy to read and
    // diff, and never larger than a few times what it holds (an indented
    // value grows with the square of its depth).
    std::string text = "{\n";
    for (std::size_t at = 0; at < entries.size(); ++at) {
        text += "  ";
        text += nlohmann::json(std::string(entries[at].first)).dump();
        text += ": ";
        text += entries[at].second->dump();
        text += at + 1 < entries.size() ? ",\n" : "\n";
    }
    text += "}\n";
    return text;
}

void JsonFileSettingsStore::save(std::string_view changedKey, const nlohmann::json* changedValue)
{
    using Kind = SettingsWriteError::Kind;
    if (problem_ && problem_->kind == OpenProblem::Kind::damagedInPlace) {
        throw SettingsWriteError(errorDomain, Kind::damagedFileKept, file_, problem_->reason,
                                 "The settings file " + file_.string()
                                     + " is damaged and could not be moved aside; settings cannot be saved until it"
                                       " is repaired or removed.");
    }
    // Writing would replace settings the user may still want with defaults.
    if (problem_ && problem_->kind == OpenProblem::Kind::unreadable) {
        throw SettingsWriteError(errorDomain, Kind::unreadableFileKept, file_, problem_->reason,
                                 "The settings file " + file_.string() + " " + problem_->reason
                                     + "; settings cannot be saved until it can be read.");
    }
    std::string text;
    try {
        text = serialize(root_, changedKey, changedValue);
    } catch (const nlohmann::json::exception& error) {
        throw SettingsWriteError(errorDomain, Kind::writeFailed, file_, error.what(),
                                 "Cannot save settings: " + std::string(error.what()));
    }
    try {
        // A folder removed since the store opened (the user cleared their
        // settings, a home folder made anew) is looked for afresh, as a new
        // start would; one renamed stays where it is held.
        if (place_.folder->removed())
            place_ = placeOf(file_, AtALink::followToOwnFile);
        writeFileAtomically(place_, text);
    } catch (const std::system_error& error) {
        // The temporary the write went through is no name the user knows:
        // the settings file and the system's reason are what is told.
        throw SettingsWriteError(errorDomain, Kind::writeFailed, file_, error.code().message(),
                                 "Cannot save settings in " + file_.string() + ": " + std::string(error.what()));
    }
}

std::optional<DefaultsValue> JsonFileSettingsStore::value(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto found = root_.find(key);
    if (found == root_.end()) {
        return std::nullopt;
    }
    return decodeDefaultsValue(*found);
}

void JsonFileSettingsStore::set(std::string_view key, DefaultsValue value)
{
    std::lock_guard lock(mutex_);
    auto found = root_.find(key);
    if (found != root_.end() && decodeDefaultsValue(*found) == value) {
        return;
    }
    nlohmann::json encoded = encodeDefaultsValue(value);
    save(key, &encoded);
    root_[std::string(key)] = std::move(encoded);
}

void JsonFileSettingsStore::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    if (root_.find(key) == root_.end()) {
        return;
    }
    save(key, nullptr);
    root_.erase(std::string(key));
}

bool JsonFileSettingsStore::has(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    return root_.contains(key);
}

}  // namespace parlaro::sys
