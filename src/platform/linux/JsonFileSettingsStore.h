#pragma once

#include "platform/AtomicFile.h"
#include "platform/SettingsStore.h"
#include "platform/linux/Environment.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro::sys {

// Settings kept in one JSON object file. Every change rewrites the file
// atomically before it becomes visible to readers, so a crash never leaves a
// half-written file and a failed write changes nothing.
//
// A file that is read but is no JSON object, nests deeper than any settings
// value does, or is far larger than settings ever are (largestFile), is
// damaged: it is renamed to
// "<file>.corrupt-<timestamp>" (with "-2", "-3"... when that name is taken;
// nothing is ever overwritten) and the store starts empty. A file that
// cannot be read at all (no permission, an I/O error, not a regular file)
// may be perfectly good, so it stays where it is and the store runs on
// defaults without writing over it. Either way openProblem() says what
// happened, for the user to be told. If a damaged file cannot even be moved,
// writes fail rather than destroy it.
//
// A symbolic link at the path stays a link where it leads to a file of the
// user's through folders of the user's alone: that file is read, replaced
// and set aside where it is. Any other link is neither read nor written
// through: the user is told once (a passedOver note, see
// takeEarlierEntryNotes()), the defaults are in use and the first save
// replaces the link. Where the file is, is decided once as the store is
// opened, and every read and write goes through the folder then judged.
// Temporaries of saves that were killed are removed when the store is
// opened.
//
// Entries this version cannot decode are kept in the file untouched.
// Thread-safe.
class JsonFileSettingsStore : public SettingsStore {
public:
    static constexpr const char* errorDomain = "SettingsStore";
    // Writes that fail throw SettingsWriteError, of this domain.
    using ErrorCode = SettingsWriteError::Kind;

    // Settings take a few kilobytes; a file larger than this is damage (a
    // sparse or runaway file), set aside without being read.
    static constexpr std::uintmax_t largestFile = 16 * 1024 * 1024;

    // Why the file's settings are not in use.
    struct OpenProblem {
        enum class Kind {
            // Read, but no settings object; moved to `keptAt`.
            setAside,
            // Damaged and could not be moved; it stays at `keptAt`.
            damagedInPlace,
            // Could not be read; it stays at `keptAt`.
            unreadable,
        };
        Kind kind;
        std::filesystem::path keptAt;
        // What went wrong, in plain words (for standard error).
        std::string reason;
        bool operator==(const OpenProblem&) const = default;
    };

    // Returns the text put into names of set-aside files (UTC, "20250131T235959Z").
    using Timestamp = std::function<std::string()>;

    explicit JsonFileSettingsStore(std::filesystem::path file, Timestamp timestamp = utcTimestamp);

    // $XDG_CONFIG_HOME/parlaro/<name>.json, or ~/.config/... when that
    // variable is unset or not absolute; an earlier version's folder is
    // moved there first (see programPath()). Throws std::invalid_argument
    // unless name is a plain file name, and std::runtime_error when that
    // needs a home folder and there is none (no absolute HOME, no account
    // entry).
    static std::filesystem::path defaultPath(std::string_view name,
                                             const Environment& environment = processEnvironment());
    static std::string utcTimestamp();

    const std::filesystem::path& path() const { return file_; }
    // Where a damaged file was moved when the store was opened.
    std::optional<std::filesystem::path> setAsidePath() const;
    // What kept the file's settings out when the store was opened; none when
    // there was no file or it was read whole.
    std::optional<OpenProblem> openProblem() const;

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    bool has(std::string_view key) const override;

private:
    void load(const Timestamp& timestamp);
    void setAside(const Timestamp& timestamp, const std::string& reason);
    // Writes the settings with one entry changed (set, or removed when
    // `changedValue` is null); throws DomainError and changes nothing when
    // that fails.
    void save(std::string_view changedKey, const nlohmann::json* changedValue);
    static std::string serialize(const nlohmann::json& root, std::string_view changedKey,
                                 const nlohmann::json* changedValue);

    std::filesystem::path file_;
    // Where the file is read, written and set aside, decided as it is opened.
    FilePlace place_;
    mutable std::mutex mutex_;
    nlohmann::json root_ = nlohmann::json::object();
    std::optional<OpenProblem> problem_;
};

}  // namespace parlaro::sys
