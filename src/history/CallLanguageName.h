#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// Names a stored call-language id for the reader; nullopt when no call
// language has the id. The history takes this as a function so that tests
// and callers can name languages their own way.
using LanguageNamer = std::function<std::optional<std::string>(std::string_view id)>;

// The call language's name in the current interface language: the name of
// its language code ("pt-BR" is named as "pt", no region), and "zh-Hant" as
// the name of Traditional Chinese with any ", qualifier" put in parentheses.
std::optional<std::string> callLanguageName(std::string_view id);

}  // namespace parlaro
