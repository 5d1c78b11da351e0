#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace parlaro::HistoryText {

// The first `count` user-perceived characters (extended grapheme clusters)
// of UTF-8 text; the whole text when it is shorter.
std::string prefixCharacters(std::string_view text, std::size_t count);

// A search query prepared once for many containment tests that ignore case
// and diacritics ("cafe" finds "Café", "STRASSE" finds "Straße").
class SearchPattern {
public:
    explicit SearchPattern(std::string_view query);

    // False for an empty query, as nothing is looked for.
    bool isFoundIn(std::string_view text) const;

private:
    std::string folded_;
};

// The form both sides of a search are compared in: case folded, decomposed,
// with nonspacing marks removed, composed again. UTF-8 in and out.
std::string foldForSearch(std::string_view text);
// The same through ICU alone, without foldForSearch's shortcuts for text
// that folding leaves as it is; what the shortcuts must agree with.
std::string foldForSearchInFull(std::string_view text);

}  // namespace parlaro::HistoryText
