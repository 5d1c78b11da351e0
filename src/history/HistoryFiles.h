#pragma once

#include "runtime/Time.h"
#include "runtime/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace parlaro::HistoryFiles {

// A session of weeks of unbroken talk stays far below this; a larger
// history file is damage (a sparse or runaway file) that reading whole would
// cost its size in memory and time at every start.
inline constexpr std::uintmax_t largestFile = 64 * 1024 * 1024;

// The whole file; nullopt when it cannot be read or is larger than
// largestFile (errno EFBIG).
std::optional<std::string> read(const std::filesystem::path& file);

// Writes to a temporary file in the target's folder and renames it over the
// target, so the target holds either its old or its new content, never a
// part. The temporary name does not end in ".json", so a leftover one is
// never taken for a session. False (target untouched) on failure.
bool writeAtomically(const std::filesystem::path& file, std::string_view contents);

// Makes the history folder and those above it that are missing, for the
// user alone (0700), and keeps an existing one to the user (see
// keepToTheUser()). The system's reason when it cannot be made.
std::error_code makeFolder(const std::filesystem::path& folder);

// A history folder that others may open (list the conversations' names,
// sizes and times) is narrowed to the user alone, and the log says so: a
// folder an earlier version made 0755. Nothing else is changed. Once a run
// for each folder, from when it is there.
void keepToTheUser(const std::filesystem::path& folder);

// File times as wall-clock dates. The conversion is exact in both
// directions for whole microseconds, and always the same for one file time,
// so a stored date compares equal to an unchanged file's.
rt::Date date(std::filesystem::file_time_type time);
std::filesystem::file_time_type fileTime(rt::Date date);

// The content-modification date; nullopt when it cannot be read.
std::optional<rt::Date> modificationDate(const std::filesystem::path& file);

// The session's id when the name is a session file's: a UUID in either case
// followed by ".json".
std::optional<rt::Uuid> sessionId(const std::filesystem::path& file);

// Where a session's file is: its upper-case name, unless only the lower-case
// one exists. Readers accept either, so a session listed from a lower-case
// file is saved back into that file rather than beside it.
std::filesystem::path sessionFile(const std::filesystem::path& folder, const rt::Uuid& id);

// Removes every file of these sessions, whatever the case of its name, and
// what unfinished writes to them left behind. Why a file of theirs could not
// be removed ("Read-only file system"), or nothing when none failed.
std::optional<std::string> removeSessionFiles(const std::filesystem::path& folder,
                                              const std::unordered_set<rt::Uuid>& ids);

// Whether the session has a file in the folder, in either case.
bool hasSessionFile(const std::filesystem::path& folder, const rt::Uuid& id);

// Whether the history writes a file of this name: a session file or the
// index. What unfinished writes of them leave behind are hidden temporaries
// holding conversation text (see removeStaleTemporaries in
// platform/AtomicFile.h).
bool isHistoryFileName(const std::string& name);

}  // namespace parlaro::HistoryFiles
