#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

enum class CharacterDirection { leftToRight, rightToLeft };

// Locale-aware text operations. Text is UTF-8; languages and locales are
// BCP-47 tags ("zh-Hans", "en-US"); POSIX forms such as "zh_CN" are accepted
// as input too.
class TextServices {
public:
    virtual ~TextServices() = default;

    // The tag with its likely script and region added: "zh-Hans" ->
    // "zh-Hans-CN", "en" -> "en-Latn-US", "zh-TW" -> "zh-Hant-TW". A tag
    // nothing is known about comes back as given.
    virtual std::string maximalIdentifier(std::string_view tag) const = 0;
    // The name of a language or locale in the language of inLocale:
    // ("ja", "zh-Hans") -> "日语", ("zh-Hant", "en") -> "Chinese (Traditional)".
    virtual std::string displayName(std::string_view tagOrLocale, std::string_view inLocale) const = 0;
    // The items joined as a list in the locale's style ("A, B, and C",
    // "A、B和C"); empty when the list cannot be formatted.
    virtual std::string listFormat(const std::vector<std::string>& items, std::string_view locale) const = 0;
    virtual CharacterDirection characterDirection(std::string_view locale) const = 0;
    // Applies a transform by ID; "Hant-Hans" turns Traditional Chinese into
    // Simplified ("漢語" -> "汉语"). Throws std::invalid_argument for an
    // unknown transform.
    virtual std::string transliterate(std::string_view text, std::string_view transformId) const = 0;
    // User-perceived characters (extended grapheme clusters).
    virtual std::size_t graphemeCount(std::string_view text) const = 0;
    virtual std::string lowercase(std::string_view text, std::string_view locale) const = 0;

    // Chooses among `available` localizations for a user who prefers
    // `preferences` in order, the way an application picks its interface
    // language. The first preference that matches anything decides:
    //  1. an available tag equal to it (ignoring case and "_" vs "-");
    //  2. otherwise the available tags of the same language and script, once
    //     both are maximized ("zh-CN" and "zh-Hans-CN" match "zh-Hans";
    //     "zh-TW" and "zh-HK" match "zh-Hant"; "zh-Hant" never matches
    //     "zh-Hans"). Among those, in order of preference: one naming the
    //     preference's region ("en" picks "en-US" over "en-GB"), one without a
    //     region ("pt-PT" picks "pt" over "pt-BR"), one in the language's
    //     default region ("pt-PT" picks "pt-BR" when there is no "pt"), then
    //     the first listed.
    // Returns the chosen tag as spelled in `available`, or an empty list when
    // no preference matches.
    std::vector<std::string> preferredLocalizations(const std::vector<std::string>& available,
                                                    const std::vector<std::string>& preferences) const;
};

}  // namespace parlaro
