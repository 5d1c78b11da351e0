#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// The code of a text that ends in a bracketed code ("…（SR-5）", "… (SR-5)"):
// the last bracket pair, both full-width or both ASCII, holding upper-case
// ASCII letters, a hyphen and ASCII digits; none otherwise.
std::optional<std::string> splitMessageCode(const std::optional<std::string>& text);

// Whether a text carries a code of that prefix, valid or not ("…（SR-x）").
bool carriesCodePrefix(std::string_view text, std::string_view prefix);

}  // namespace parlaro
