#include "speech/HeldSentences.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

namespace parlaro {

namespace {

using Text = std::u16string_view;

// Ill-formed UTF-8 comes out as U+FFFD; `substitutions` counts how often.
std::u16string toUtf16(std::string_view text, int32_t* substitutions = nullptr)
{
    std::u16string result(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, substitutions, &status);
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
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
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

// A transcript in UTF-16, whole or only from `base` on, addressed by the
// offsets of the whole text either way. A walk over the tail never asks for
// anything before `base`.
struct Transcript {
    Text tail;
    std::size_t base = 0;

    std::size_t size() const { return base + tail.size(); }
    Text slice(std::size_t from, std::size_t to) const { return tail.substr(from - base, to - from); }
};

Text trimmedText(const Transcript& text, std::int64_t from, std::int64_t to)
{
    if (from < 0 || to <= from || static_cast<std::uint64_t>(to) > text.size())
        return {};
    return trimmed(text.slice(static_cast<std::size_t>(from), static_cast<std::size_t>(to)));
}

// Where a word starts, kept inside the text.
std::int64_t locationOf(const HeldSentences::Word& word, const Transcript& text)
{
    return static_cast<std::int64_t>(std::min(word.range.location, text.size()));
}

// The word's own text: its range clamped to the text, empty when the range
// lies wholly outside it.
Text wordText(const HeldSentences::Word& word, const Transcript& text)
{
    if (word.range.location >= text.size())
        return {};
    const std::size_t available = text.size() - word.range.location;
    return text.slice(word.range.location, word.range.location + std::min(word.range.length, available));
}

// Where a word's own text ends in the transcript; 0 when it has none.
std::size_t extentOf(const HeldSentences::Word& word, const Transcript& text)
{
    if (word.range.location >= text.size())
        return 0;
    return word.range.location + std::min(word.range.length, text.size() - word.range.location);
}

// How far the leading words cover a released key of `sentLength`
// characters: the first word not covered, and the key length of the words
// before it.
struct Covered {
    std::size_t words = 0;
    std::size_t keyCharacters = 0;
};

// Counts on from `from`, whose words are known not to cover the released
// key (a key that only grows stays uncovered by them).
Covered coveredWords(const Transcript& text, const std::vector<HeldSentences::Word>& words, std::size_t sentLength,
                     Covered from = {})
{
    if (sentLength == 0 || words.empty())
        return {};
    std::size_t total = from.keyCharacters;
    for (std::size_t n = from.words; n < words.size(); ++n) {
        const std::size_t count = keyLength(wordText(words[n], text));
        if (total >= sentLength && count > 0)
            return {n, total};
        total += count;
    }
    return {words.size(), total};
}

Text remainder(const Transcript& text, const std::vector<HeldSentences::Word>& words, std::size_t afterWord,
               bool nothingSent)
{
    if (!words.empty()) {
        if (afterWord < words.size())
            return trimmedText(text, locationOf(words[afterWord], text), static_cast<std::int64_t>(text.size()));
        return {};
    }
    if (nothingSent && text.size() > 0)
        return trimmed(text.slice(0, text.size()));
    return {};
}

// The bytes of valid UTF-16 text in UTF-8.
std::size_t utf8Length(Text text)
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        bytes += static_cast<std::size_t>(U8_LENGTH(c));
    }
    return bytes;
}

UChar32 lastCodePoint(std::string_view text)
{
    int32_t at = static_cast<int32_t>(text.size());
    UChar32 c = 0;
    U8_PREV(text.data(), 0, at, c);
    return c;
}

// The character count of `sent` once `key` is appended to it, given the
// count before. Characters join across the seam only where one side may
// join (a combining mark, a joiner, ...); then the whole is counted again.
std::size_t countAfterAppending(const std::string& sent, std::size_t count, Text key)
{
    if (key.empty())
        return count;
    if (sent.empty())
        return characterCount(key);
    if (mayJoin(lastCodePoint(sent)) || mayJoin(firstCodePoint(key)))
        return characterCount(toUtf16(sent + toUtf8(key)));
    return count + characterCount(key);
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
        if (piece.empty() || characterCount(piece) != 1
            || !u_hasBinaryProperty(firstCodePoint(piece), UCHAR_ALPHABETIC))
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

// The transcript in UTF-16 for the static helpers, converted once for the
// questions a final result asks about it in turn (its trimmed text, the
// words the released text covers, the rest after them) rather than once
// for each.
const std::u16string& convertedTranscript(const std::string& transcript)
{
    thread_local std::string source;
    thread_local std::u16string converted;
    if (transcript != source) {
        converted = toUtf16(transcript);
        source = transcript;
    }
    return converted;
}

}  // namespace

HeldSentences::Taken HeldSentences::take(const std::string& transcript, const std::vector<Word>& words)
{
    // Compared as bytes: this is the one part of a revision that reads the
    // whole transcript, so it must be as quick as memory allows.
    static_assert(std::has_unique_object_representations_v<Word>);
    const bool resumes = progress_.valid && !words.empty() && sent == progress_.sentSeen
        && words.size() >= progress_.words.size() && transcript.size() >= progress_.prefix.size()
        && std::string_view(transcript).substr(0, progress_.prefix.size()) == progress_.prefix
        && (progress_.words.empty()
            || std::memcmp(progress_.words.data(), words.data(), progress_.words.size() * sizeof(Word)) == 0);

    std::u16string converted;
    int32_t substitutions = 0;
    Transcript text;
    Covered from;
    std::size_t sentCharacters = 0;
    bool walksTail = false;
    if (resumes) {
        converted = toUtf16(std::string_view(transcript).substr(progress_.prefix.size()), &substitutions);
        text = Transcript{converted, progress_.prefixUnits};
        // Words that reach back into the covered text (ranges are not to be
        // trusted) need the whole of it.
        walksTail = std::all_of(
            words.begin() + static_cast<std::ptrdiff_t>(progress_.words.size()), words.end(),
            [&](const Word& word) { return locationOf(word, text) >= static_cast<std::int64_t>(text.base); });
        from = Covered{progress_.words.size(), progress_.keyCharacters};
        sentCharacters = progress_.sentCharacters;
    }
    bool remembers = true;
    if (!walksTail) {
        substitutions = 0;
        converted = toUtf16(transcript, &substitutions);
        text = Transcript{converted, 0};
        from = Covered{};
        int32_t sentSubstitutions = 0;
        sentCharacters = characterCount(toUtf16(sent, &sentSubstitutions));
        remembers = sentSubstitutions == 0;
        progress_ = Progress{};
    }

    const Covered covered = coveredWords(text, words, sentCharacters, from);
    const std::size_t first = covered.words;
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
            sentCharacters = countAfterAppending(sent, sentCharacters, sentenceKey);
            sent += toUtf8(sentenceKey);
        }
        start = i + 1;
    }
    taken.rest = toUtf8(parlaro::remainder(text, words, start, sent.empty()));

    // Remember the covered words for the next revision. Text with ill-formed
    // UTF-8 has no byte offset to match UTF-16 offsets by; it is walked whole.
    if (!remembers || substitutions > 0 || covered.words < progress_.words.size()) {
        progress_ = Progress{};
        return taken;
    }
    std::size_t units = progress_.prefixUnits;
    for (std::size_t n = progress_.words.size(); n < covered.words; ++n)
        units = std::max(units, extentOf(words[n], text));
    // Never between the halves of a surrogate pair.
    if (units > text.base && units < text.size() && U16_IS_LEAD(text.slice(units - 1, units)[0])
        && U16_IS_TRAIL(text.slice(units, units + 1)[0]))
        ++units;
    progress_.prefix.append(transcript, progress_.prefix.size(), utf8Length(text.slice(progress_.prefixUnits, units)));
    progress_.prefixUnits = units;
    progress_.words.insert(progress_.words.end(), words.begin() + static_cast<std::ptrdiff_t>(progress_.words.size()),
                           words.begin() + static_cast<std::ptrdiff_t>(covered.words));
    progress_.keyCharacters = covered.keyCharacters;
    progress_.sentSeen.append(sent, progress_.sentSeen.size());
    progress_.sentCharacters = sentCharacters;
    progress_.valid = true;
    return taken;
}

std::size_t HeldSentences::sentWordCount(const std::string& transcript, const std::vector<Word>& words,
                                         const std::string& text)
{
    return coveredWords(Transcript{convertedTranscript(transcript), 0}, words, characterCount(toUtf16(text))).words;
}

std::string HeldSentences::remainder(const std::string& transcript, const std::vector<Word>& words,
                                     std::size_t afterWord, const std::string& text)
{
    return toUtf8(parlaro::remainder(Transcript{convertedTranscript(transcript), 0}, words, afterWord, text.empty()));
}

bool HeldSentences::endsSentence(std::string_view piece)
{
    return parlaro::endsSentence(toUtf16(piece));
}

std::string HeldSentences::trimmedText(const std::string& transcript, std::int64_t from, std::int64_t to)
{
    return toUtf8(parlaro::trimmedText(Transcript{convertedTranscript(transcript), 0}, from, to));
}

std::string HeldSentences::key(std::string_view text)
{
    return toUtf8(keyOf(toUtf16(text)));
}

const std::unordered_set<std::string>& HeldSentences::abbreviations()
{
    static const std::unordered_set<std::string> set{
        "adm.", "brig.", "capt.", "cmdr.", "col.",  "dr.",  "gen.", "gov.", "hon.", "jr.",  "lt.", "maj.",
        "mr.",  "mrs.",  "ms.",   "pres.", "prof.", "rep.", "rev.", "sec.", "sen.", "sgt.", "sr.", "st.",
    };
    return set;
}

}  // namespace parlaro
