#include "history/HistoryText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <memory>
#include <stdexcept>

namespace parlaro::HistoryText {

namespace {

bool isAscii(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

// One character iterator per thread: the index rebuild and searches run off
// the main thread, and cloning per call would dominate short texts.
icu::BreakIterator& characterIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made)
            throw std::runtime_error("ICU character break iterator unavailable");
        return made;
    }();
    return *iterator;
}

} // namespace

std::string prefixCharacters(std::string_view text, std::size_t count)
{
    // A character takes at least one byte, so short texts need no breaking.
    if (text.size() <= count)
        return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status))
        return std::string(text);
    icu::BreakIterator& iterator = characterIterator();
    iterator.setText(utext, status);
    std::size_t end = text.size();
    if (U_SUCCESS(status)) {
        int32_t at = iterator.first();
        for (std::size_t taken = 0; taken < count && at != icu::BreakIterator::DONE; ++taken)
            at = iterator.next();
        if (at != icu::BreakIterator::DONE)
            end = static_cast<std::size_t>(at);
    }
    // Leave the iterator pointing at nothing that is about to be freed.
    icu::UnicodeString empty;
    iterator.setText(empty);
    utext_close(utext);
    return std::string(text.substr(0, end));
}

std::string foldForSearch(std::string_view text)
{
    if (isAscii(text)) {
        std::string folded(text);
        for (char& c : folded) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return folded;
    }
    icu::UnicodeString string =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    // Folding first: some folded forms ("İ" -> "i̇") bring marks of their own.
    string.foldCase();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_SUCCESS(status) && nfd) {
        icu::UnicodeString decomposed = nfd->normalize(string, status);
        if (U_SUCCESS(status))
            string = std::move(decomposed);
    }
    icu::UnicodeString stripped;
    for (int32_t i = 0; i < string.length();) {
        const UChar32 c = string.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK)
            stripped.append(c);
        i += U16_LENGTH(c);
    }
    // Composed again, so that a Korean syllable is one code point and a
    // query syllable cannot match the first jamo of a longer one ("가" is not
    // in "각").
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status) && nfc) {
        icu::UnicodeString composed = nfc->normalize(stripped, status);
        if (U_SUCCESS(status))
            stripped = std::move(composed);
    }
    std::string folded;
    stripped.toUTF8String(folded);
    return folded;
}

SearchPattern::SearchPattern(std::string_view query) : folded_(foldForSearch(query)) {}

bool SearchPattern::isFoundIn(std::string_view text) const
{
    if (folded_.empty())
        return false;
    return foldForSearch(text).find(folded_) != std::string::npos;
}

} // namespace parlaro::HistoryText
