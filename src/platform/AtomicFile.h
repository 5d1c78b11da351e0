#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// Replaces the file's contents so that a reader (or a crash) sees either the
// old or the new contents, never a mix: a temporary file in the same folder
// is written and synced, then renamed over the target. Creates missing
// folders. Throws std::system_error, leaving the old file untouched.
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents);

// The name of the file that a temporary of writeFileAtomically() with this
// name was to replace; none when the name is not one of its temporaries. A
// write killed before its rename leaves its temporary behind, holding the
// new contents.
std::optional<std::string> atomicWriteTarget(std::string_view temporaryName);

}  // namespace parlaro
