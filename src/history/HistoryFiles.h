#pragma once

#include "runtime/Time.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro::HistoryFiles {

// The whole file; nullopt when it cannot be read.
std::optional<std::string> read(const std::filesystem::path& file);

// Writes to a temporary file in the target's folder and renames it over the
// target, so the target holds either its old or its new content, never a
// part. The temporary name does not end in ".json", so a leftover one is
// never taken for a session. False (target untouched) on failure.
bool writeAtomically(const std::filesystem::path& file, std::string_view contents);

// File times as wall-clock dates. The conversion is exact in both
// directions for whole microseconds, and always the same for one file time,
// so a stored date compares equal to an unchanged file's.
rt::Date date(std::filesystem::file_time_type time);
std::filesystem::file_time_type fileTime(rt::Date date);

// The content-modification date; nullopt when it cannot be read.
std::optional<rt::Date> modificationDate(const std::filesystem::path& file);

} // namespace parlaro::HistoryFiles
