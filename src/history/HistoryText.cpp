#include "history/HistoryText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
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

// Whether folding and normalising leave a character alone wherever it
// stands: its full case folding is itself, it is inert under both
// normalisations (never composes with or reorders against a neighbour) and
// it is no nonspacing mark. Worked out with ICU per block of 256 on first
// use; only the basic plane is covered.
class StableCharacters {
public:
    static bool contains(UChar32 c)
    {
        static StableCharacters table;
        const auto block = static_cast<std::size_t>(c >> 8);
        std::call_once(table.made_[block], [&] { table.make(block); });
        return table.stable_[block][static_cast<std::size_t>(c & 0xFF)];
    }

private:
    void make(std::size_t block)
    {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
        const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status) || !nfd || !nfc)
            return;
        for (std::size_t low = 0; low < 256; ++low) {
            const auto c = static_cast<UChar32>((block << 8) | low);
            if (U_IS_SURROGATE(c) || !nfd->isInert(c) || !nfc->isInert(c) || u_charType(c) == U_NON_SPACING_MARK)
                continue;
            UChar single[1] = {static_cast<UChar>(c)};
            UChar folded[8];
            UErrorCode foldStatus = U_ZERO_ERROR;
            const int32_t length = u_strFoldCase(folded, 8, single, 1, U_FOLD_CASE_DEFAULT, &foldStatus);
            stable_[block][low] = U_SUCCESS(foldStatus) && length == 1 && folded[0] == single[0];
        }
    }

    std::array<std::once_flag, 256> made_;
    std::array<std::bitset<256>, 256> stable_;
};

// The folded form without ICU when it is the text itself but for ASCII
// capitals, as for most Chinese and Japanese: valid UTF-8 of ASCII and
// stable basic-plane characters only. None otherwise.
std::optional<std::string> foldStable(std::string_view text)
{
    std::string folded(text);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t at = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || c > 0xFFFF)
            return std::nullopt;
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z')
                folded[static_cast<std::size_t>(at)] = static_cast<char>(c - 'A' + 'a');
        } else if (!StableCharacters::contains(c)) {
            return std::nullopt;
        }
    }
    return folded;
}

}  // namespace

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
    if (auto folded = foldStable(text))
        return *folded;
    return foldForSearchInFull(text);
}

std::string foldForSearchInFull(std::string_view text)
{
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

SearchPattern::SearchPattern(std::string_view query) : folded_(foldForSearch(query))
{
}

bool SearchPattern::isFoundIn(std::string_view text) const
{
    if (folded_.empty())
        return false;
    return foldForSearch(text).find(folded_) != std::string::npos;
}

}  // namespace parlaro::HistoryText
