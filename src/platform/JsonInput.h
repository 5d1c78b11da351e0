#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string_view>

namespace parlaro {

// Nothing this program writes nests half as deep; a deeper value is damage
// or an attack, and copying, printing or comparing it would recurse once per
// level.
inline constexpr std::size_t jsonDepthLimit = 64;

// Whether no array or object in the text lies more than `limit` levels deep
// (the outermost one is level 1), up to where the parser stops reading. One
// pass, no recursion, so any input is safe; text that is not JSON at all may
// pass, for the parser to refuse.
bool jsonNestsWithin(std::string_view text, std::size_t limit = jsonDepthLimit);

// JSON that comes from outside the program (a file, the network, a stored
// value): nullopt when it is not JSON or nests deeper than the limit. Every
// such reader goes through here, so none can be handed a value that is
// dangerous to keep.
std::optional<nlohmann::json> parseJsonInput(std::string_view text);

}  // namespace parlaro
