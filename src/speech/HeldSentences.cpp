#include "speech/HeldSentences.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <memory>

namespace parlaro {

namespace {

using Text = std::u16string_view;

std::u16string toUtf16(std::string_view text)
{
    std::u16string result(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    result.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return result;
}

// A cut between the halves of a surrogate pair leaves a lone half; it comes
// out as U+FFFD rather than as invalid UTF-8.
std::string toUtf8(Text text)
{
    std::string result(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    result.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return result;
}

bool isAscii(Text text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; });
}

std::u16string lowercased(Text text)
{
    std::u16string result(text.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = u_strToLower(result.data(), static_cast<int32_t>(result.size()), text.data(),
                                      static_cast<int32_t>(text.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            result.resize(static_cast<std::size_t>(length));
            continue;
        }
        result.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
        return result;
    }
    return {};
}

// The text lowercased, in `storage` only when lowercasing changes it: most
// scripts have no case.
Text lowercased(Text text, std::u16string& storage)
{
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        if (u_hasBinaryProperty(c, UCHAR_CHANGES_WHEN_LOWERCASED)) {
            storage = lowercased(text);
            return storage;
        }
    }
    return text;
}

bool isKeyCharacter(UChar32 c)
{
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

std::u16string keyOf(Text text)
{
    std::u16string key;
    if (isAscii(text)) {
        key.reserve(text.size());
        for (char16_t unit : text) {
            if (unit >= u'A' && unit <= u'Z')
                key.push_back(static_cast<char16_t>(unit - u'A' + u'a'));
            else if ((unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9'))
                key.push_back(unit);
        }
        return key;
    }
    // Lowercasing depends on context (a final sigma), so the whole text is
    // lowercased before anything is dropped.
    std::u16string storage;
    const Text lower = lowercased(text, storage);
    key.reserve(lower.size());
    for (std::size_t i = 0; i < lower.size();) {
        const std::size_t begin = i;
        UChar32 c;
        U16_NEXT(lower.data(), i, lower.size(), c);
        if (isKeyCharacter(c))
            key.append(lower.substr(begin, i - begin));
    }
    return key;
}

icu::BreakIterator* characterBreaks()
{
    thread_local std::unique_ptr<icu::BreakIterator> breaks = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return breaks.get();
}

// Points the shared character iterator at `text`; null when there is none.
icu::BreakIterator* breaksOver(Text text)
{
    icu::BreakIterator* breaks = characterBreaks();
    if (!breaks)
        return nullptr;
    UText ut = UTEXT_INITIALIZER;
    UErrorCode status = U_ZERO_ERROR;
    utext_openUChars(&ut, text.data(), static_cast<int64_t>(text.size()), &status);
    breaks->setText(&ut, status);  // keeps a shallow clone; ut may close now
    utext_close(&ut);
    return U_SUCCESS(status) ? breaks : nullptr;
}

std::size_t codePointCount(Text text)
{
    return static_cast<std::size_t>(u_countChar32(text.data(), static_cast<int32_t>(text.size())));
}

// Whether a code point may join its neighbours in one user-perceived
// character (combining marks, Hangul jamo and syllables, joiners, ...).
bool mayJoin(UChar32 c)
{
    return u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK) != U_GCB_OTHER;
}

// User-perceived characters.
std::size_t characterCount(Text text)
{
    std::size_t codePoints = 0;
    bool joins = false;
    for (std::size_t i = 0; i < text.size() && !joins;) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        joins = mayJoin(c);
        ++codePoints;
    }
    if (!joins)
        return codePoints;
    icu::BreakIterator* breaks = breaksOver(text);
    if (!breaks)
        return codePointCount(text);
    std::size_t count = 0;
    for (int32_t at = breaks->next(); at != icu::BreakIterator::DONE; at = breaks->next())
        ++count;
    return count;
}

// The character count of a text's key, without building the key when
// nothing in it can join.
std::size_t keyLength(Text text)
{
    if (isAscii(text)) {
        return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char16_t unit) {
            return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9');
        }));
    }
    std::u16string storage;
    const Text lower = lowercased(text, storage);
    std::size_t count = 0;
    for (std::size_t i = 0; i < lower.size();) {
        UChar32 c;
        U16_NEXT(lower.data(), i, lower.size(), c);
        if (!isKeyCharacter(c))
            continue;
        if (mayJoin(c))
            return characterCount(keyOf(text));
        ++count;
    }
    return count;
}

Text lastCharacter(Text text)
{
    if (text.empty())
        return text;
    icu::BreakIterator* breaks = breaksOver(text);
    std::size_t begin = text.size() - 1;
    if (breaks) {
        breaks->last();
        begin = static_cast<std::size_t>(std::max(0, breaks->previous()));
    } else if (begin > 0 && U16_IS_TRAIL(text[begin]) && U16_IS_LEAD(text[begin - 1])) {
        --begin;
    }
    return text.substr(begin);
}

UChar32 firstCodePoint(Text text)
{
    UChar32 c = 0;
    std::size_t i = 0;
    U16_NEXT(text.data(), i, text.size(), c);
    return c;
}

bool isTrimmable(UChar32 c)
{
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    const int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

// The text without the leading and trailing characters `strip` accepts.
template <class Predicate>
Text trimWhile(Text text, Predicate strip)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        UChar32 c;
        U16_NEXT(text.data(), next, text.size(), c);
        if (!strip(c))
            break;
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t previous = end;
        UChar32 c;
        U16_PREV(text.data(), begin, previous, c);
        if (!strip(c))
            break;
        end = previous;
    }
    return text.substr(begin, end - begin);
}

Text trimmed(Text text)
{
    return trimWhile(text, isTrimmable);
}

Text trimmedText(Text text, std::int64_t from, std::int64_t to)
{
    if (from < 0 || to <= from || static_cast<std::uint64_t>(to) > text.size())
        return {};
    return trimmed(text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)));
}

// Where a word starts, kept inside the text.
std::int64_t locationOf(const HeldSentences::Word& word, Text text)
{
    return static_cast<std::int64_t>(std::min(word.range.location, text.size()));
}

// The word's own text: its range clamped to the text, empty when the range
// lies wholly outside it.
Text wordText(const HeldSentences::Word& word, Text text)
{
    if (word.range.location >= text.size())
        return {};
    const std::size_t available = text.size() - word.range.location;
    return text.substr(word.range.location, std::min(word.range.length, available));
}

std::size_t sentWordCount(Text text, const std::vector<HeldSentences::Word>& words, std::size_t sentLength)
{
    if (sentLength == 0 || words.empty())
        return 0;
    std::size_t total = 0;
    for (std::size_t n = 0; n < words.size(); ++n) {
        const std::size_t count = keyLength(wordText(words[n], text));
        if (total >= sentLength && count > 0)
            return n;
        total += count;
    }
    return words.size();
}

Text remainder(Text text, const std::vector<HeldSentences::Word>& words, std::size_t afterWord, bool nothingSent)
{
    if (!words.empty()) {
        if (afterWord < words.size())
            return trimmedText(text, locationOf(words[afterWord], text), static_cast<std::int64_t>(text.size()));
        return {};
    }
    if (nothingSent && !text.empty())
        return trimmed(text);
    return {};
}

bool isWhiteSpace(UChar32 c)
{
    return u_isUWhiteSpace(c);
}

bool isQuoteOrOpening(UChar32 c)
{
    switch (c) {
    case u'"':
    case u'\'':
    case u'“':
    case u'”':
    case u'‘':
    case u'’':
    case u'(':
    case u'[':
    case u'{':
        return true;
    default:
        return false;
    }
}

// The last white-space separated piece of the text.
Text lastPiece(Text text)
{
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t previous = end;
        UChar32 c;
        U16_PREV(text.data(), 0, previous, c);
        if (!isWhiteSpace(c))
            break;
        end = previous;
    }
    std::size_t begin = end;
    while (begin > 0) {
        std::size_t previous = begin;
        UChar32 c;
        U16_PREV(text.data(), 0, previous, c);
        if (isWhiteSpace(c))
            break;
        begin = previous;
    }
    return text.substr(begin, end - begin);
}

Text trimQuotes(Text text)
{
    return trimWhile(text, isQuoteOrOpening);
}

// "u.s." and "j." are initials: every piece before the final "." is one
// letter.
bool isInitials(Text word)
{
    std::size_t begin = 0;
    bool sawPiece = false;
    for (std::size_t dot = word.find(u'.'); dot != Text::npos; dot = word.find(u'.', begin)) {
        const Text piece = word.substr(begin, dot - begin);
        if (piece.empty() || characterCount(piece) != 1 || !u_hasBinaryProperty(firstCodePoint(piece), UCHAR_ALPHABETIC))
            return false;
        sawPiece = true;
        begin = dot + 1;
    }
    // Pieces split at "." keep empties, so "a.b" has a last piece "b" that
    // is never examined; a caller only asks about words ending in ".".
    return sawPiece;
}

bool endsSentence(Text text)
{
    const Text last = lastCharacter(text);
    if (last.empty())
        return false;
    if (last == u"?" || last == u"!" || last == u"。" || last == u"？" || last == u"！")
        return true;
    if (last != u".")
        return false;
    const std::u16string word(trimQuotes(lowercased(lastPiece(text))));
    if (HeldSentences::abbreviations().count(toUtf8(word)) > 0)
        return false;
    return !isInitials(word);
}

} // namespace

HeldSentences::Taken HeldSentences::take(const std::string& transcript, const std::vector<Word>& words)
{
    const std::u16string text = toUtf16(transcript);
    const std::size_t first = parlaro::sentWordCount(text, words, characterCount(toUtf16(sent)));
    std::size_t start = first;
    Taken taken;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::int64_t end =
            i + 1 < words.size() ? locationOf(words[i + 1], text) : static_cast<std::int64_t>(text.size());
        const Text token = parlaro::trimmedText(text, locationOf(words[i], text), end);
        if (!parlaro::endsSentence(token))
            continue;
        const Text sentence = parlaro::trimmedText(text, locationOf(words[start], text), end);
        const std::u16string sentenceKey = keyOf(sentence);
        // Punctuation alone is never released.
        if (!sentenceKey.empty()) {
            taken.sentences.push_back(toUtf8(sentence));
            sent += toUtf8(sentenceKey);
        }
        start = i + 1;
    }
    taken.rest = toUtf8(parlaro::remainder(text, words, start, sent.empty()));
    return taken;
}

std::size_t HeldSentences::sentWordCount(const std::string& transcript, const std::vector<Word>& words,
                                         const std::string& text)
{
    return parlaro::sentWordCount(toUtf16(transcript), words, characterCount(toUtf16(text)));
}

std::string HeldSentences::remainder(const std::string& transcript, const std::vector<Word>& words,
                                     std::size_t afterWord, const std::string& text)
{
    return toUtf8(parlaro::remainder(toUtf16(transcript), words, afterWord, text.empty()));
}

bool HeldSentences::endsSentence(std::string_view piece)
{
    return parlaro::endsSentence(toUtf16(piece));
}

std::string HeldSentences::trimmedText(const std::string& transcript, std::int64_t from, std::int64_t to)
{
    return toUtf8(parlaro::trimmedText(toUtf16(transcript), from, to));
}

std::string HeldSentences::key(std::string_view text)
{
    return toUtf8(keyOf(toUtf16(text)));
}

const std::unordered_set<std::string>& HeldSentences::abbreviations()
{
    static const std::unordered_set<std::string> set{
        "adm.", "brig.", "capt.", "cmdr.", "col.", "dr.",   "gen.",  "gov.", "hon.", "jr.", "lt.",  "maj.",
        "mr.",  "mrs.",  "ms.",   "pres.", "prof.", "rep.", "rev.", "sec.", "sen.", "sgt.", "sr.", "st.",
    };
    return set;
}

} // namespace parlaro
