#include "platform/linux/espeak/EngineText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace parlaro::sys {

namespace {

// Longer than any word of a language written with spaces, shorter than
// what the engine's abbreviation path overruns with (about 170 bytes).
constexpr std::size_t maxSpacedRunBytes = 96;
// Two hundred characters of Thai or Chinese without a space or a stop are no
// sentence; the engine itself reads thousands of them safely.
constexpr std::size_t maxUnspacedRunBytes = 600;
// Vietnamese puts two marks on a letter, Tibetan stacks four, an emoji family
// joins seven code points; nothing written needs more.
constexpr int maxCodePointsPerCharacter = 9;

bool isSpace(UChar32 c)
{
    return c == ' ' || c == '\n' || c == '\t' || u_isUWhiteSpace(c);
}

bool isUnsaid(UChar32 c)
{
    // Bidi marks, embeddings, overrides and isolates, the byte order mark,
    // and code points no character is assigned to, or none was in the
    // Unicode the engine's tables follow (12.1): it hands those of a script's
    // block to that script's language, and one switch there and back read
    // freed memory. It has no name for the emoji among them either.
    if (c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)
        || c == 0xFEFF || u_charType(c) == U_UNASSIGNED) {
        return true;
    }
    UVersionInfo age;
    u_charAge(c, age);
    return age[0] > 12 || (age[0] == 12 && age[1] > 1);
}

// Punctuation the engine reads as the end of a clause, after which a dot
// cannot start an abbreviation; Chinese and Japanese write it between words
// without a space.
bool endsClause(UChar32 c)
{
    return (c >= 0x3000 && c <= 0x303F) || c == 0xFF01 || c == 0xFF0C || c == 0xFF1A || c == 0xFF1B || c == 0xFF1F;
}

bool isControl(UChar32 c)
{
    return (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c <= 0x9F);
}

// A digit of a script the voices do not read their numbers in: the engine
// hands it to that script's language, whose number rules then read freed
// memory (Bengali, Gurmukhi, Gujarati, Tamil, Kannada, Malayalam, Sinhala...).
// As a plain digit it is read as a number in the reply's language.
bool isForeignDigit(UChar32 c)
{
    if (u_charType(c) != U_DECIMAL_DIGIT_NUMBER || c < 0x80) {
        return false;
    }
    const bool read = (c >= 0x0660 && c <= 0x0669) || (c >= 0x06F0 && c <= 0x06F9) || (c >= 0x0966 && c <= 0x096F)
        || (c >= 0x0E50 && c <= 0x0E59) || (c >= 0xFF10 && c <= 0xFF19);
    return !read;
}

// Number, currency and abbreviation signs of the Indic scripts after
// Devanagari, which reach the same number rules.
bool isForeignIndicSign(UChar32 c)
{
    if (c == 0x0970) {
        return true;
    }
    return c >= 0x0980 && c <= 0x0DFF && !u_isalpha(c) && (U_GET_GC_MASK(c) & U_GC_M_MASK) == 0;
}

bool isTag(UChar32 c)
{
    return c >= 0xE0001 && c <= 0xE007F;
}

// The end of the run of tags at `from` when a cancel tag ends it, else -1.
int32_t endedTags(const std::uint8_t* bytes, int32_t from, int32_t length)
{
    for (int32_t i = from; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c == 0xE007F) {
            return i;
        }
        if (!isTag(c)) {
            break;
        }
    }
    return -1;
}

// Well-formed, without controls or unsaid marks.
std::string wellFormed(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    UChar32 previous = 0;
    int32_t tagsKeptTo = -1;
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (isTag(c)) {
            // Tags name a flag after a black flag, ended by a cancel tag,
            // and nothing elsewhere; a stray or unended run sent the engine
            // past the names it holds, or to another language's names, and
            // it read freed memory when the voice changed next.
            if (previous == 0x1F3F4) {
                tagsKeptTo = endedTags(bytes, start, length);
            }
            if (i > tagsKeptTo) {
                continue;
            }
            previous = c;
            out.append(text.substr(std::size_t(start), std::size_t(i - start)));
            continue;
        }
        if (c == 0x200D) {
            int32_t next = i;
            UChar32 following = 0;
            if (next < length) {
                U8_NEXT(bytes, next, length, following);
            }
            const bool before = u_hasBinaryProperty(previous, UCHAR_EXTENDED_PICTOGRAPHIC);
            const bool after = u_hasBinaryProperty(following, UCHAR_EXTENDED_PICTOGRAPHIC);
            if (before != after) {
                // A joiner joins two emoji into one, or letters of a script
                // that shapes them; one that joins an emoji to anything else
                // sent the engine looking for a sequence past what it holds.
                previous = c;
                continue;
            }
        }
        previous = c;
        if (c < 0 || isControl(c)) {
            out += ' ';
        } else if (c == 0xFE0E || c == 0xFE0F) {
            // Text or emoji presentation says nothing to hear; after a heart
            // it sent the Hindi voice's emoji names past their end.
        } else if (u_hasBinaryProperty(c, UCHAR_EMOJI_MODIFIER)) {
            // A skin tone is named as a word of its own: joined to an emoji,
            // the Hindi voice overran its buffers on a few of them.
            out += ' ';
            out.append(text.substr(std::size_t(start), std::size_t(i - start)));
            out += ' ';
        } else if (isForeignDigit(c)) {
            out += static_cast<char>('0' + u_charDigitValue(c));
        } else if (!isUnsaid(c) && !isForeignIndicSign(c)) {
            out.append(text.substr(std::size_t(start), std::size_t(i - start)));
        }
    }
    return out;
}

// The engine reads an emoji or a symbol by its name, several words long in
// some languages, and in some (Hindi) two names in one word overrun its
// buffers: each symbol stands alone. An emoji sequence (a family, a flag, a
// skin tone) is one symbol, which the engine names as a whole.
constexpr int maxSymbolsTogether = 1;

bool isSymbol(UChar32 c)
{
    const auto category = U_GET_GC_MASK(c);
    return (category & (U_GC_SO_MASK | U_GC_SM_MASK | U_GC_SC_MASK | U_GC_SK_MASK)) != 0
        || u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC);
}

enum class Writing { neutral, spaced, unspaced };

Writing writingOf(UChar32 c)
{
    if (!u_isalpha(c)) {
        return Writing::neutral;
    }
    UErrorCode status = U_ZERO_ERROR;
    switch (uscript_getScript(c, &status)) {
    case USCRIPT_THAI:
    case USCRIPT_LAO:
    case USCRIPT_KHMER:
    case USCRIPT_MYANMAR:
    case USCRIPT_HAN:
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_TIBETAN:
        return Writing::unspaced;
    default:
        return Writing::spaced;
    }
}

struct Character {
    std::string_view bytes;
    UChar32 first = 0;
};

// Walks user-perceived characters; ICU's boundaries keep a letter with its
// marks and an emoji sequence whole.
class Characters {
public:
    explicit Characters(std::string_view text) : text_(text)
    {
        UErrorCode status = U_ZERO_ERROR;
        utext_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        iterator_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_SUCCESS(status)) {
            iterator_->setText(utext_, status);
        }
        if (U_FAILURE(status)) {
            iterator_.reset();
        }
    }
    ~Characters() { utext_close(utext_); }
    Characters(const Characters&) = delete;
    Characters& operator=(const Characters&) = delete;

    bool next(Character& out)
    {
        if (at_ >= text_.size()) {
            return false;
        }
        std::size_t end = text_.size();
        if (iterator_) {
            const int32_t boundary = iterator_->following(static_cast<int32_t>(at_));
            if (boundary != icu::BreakIterator::DONE) {
                end = std::size_t(boundary);
            }
        } else {
            // Without ICU's data, one code point at a time.
            auto i = static_cast<int32_t>(at_);
            UChar32 c = 0;
            U8_NEXT(reinterpret_cast<const std::uint8_t*>(text_.data()), i, static_cast<int32_t>(text_.size()), c);
            end = std::size_t(i);
        }
        out.bytes = text_.substr(at_, end - at_);
        int32_t i = 0;
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(out.bytes.data()), i, static_cast<int32_t>(out.bytes.size()),
                out.first);
        at_ = end;
        return true;
    }

private:
    std::string_view text_;
    UText* utext_ = nullptr;
    std::unique_ptr<icu::BreakIterator> iterator_;
    std::size_t at_ = 0;
};

// The character with at most maxCodePointsPerCharacter code points.
std::string_view capped(std::string_view character)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(character.data());
    const auto length = static_cast<int32_t>(character.size());
    int32_t i = 0;
    for (int count = 0; i < length && count < maxCodePointsPerCharacter; ++count) {
        U8_FWD_1(bytes, i, length);
    }
    return character.substr(0, std::size_t(i));
}

// A stretch without a space longer than maxSpacedRunBytes, with the breaks
// the engine needs.
void appendLongRun(std::string& out, const std::vector<Character>& run)
{
    Writing writing = Writing::neutral;
    bool afterPunctuation = false;
    std::size_t stretch = 0;
    for (const Character& character : run) {
        const Writing mine = writingOf(character.first);
        const bool punctuation = u_ispunct(character.first) && !endsClause(character.first);
        const bool meets = mine != Writing::neutral && writing != Writing::neutral && mine != writing;
        const std::size_t limit =
            (mine == Writing::unspaced || (mine == Writing::neutral && writing == Writing::unspaced))
            ? maxUnspacedRunBytes
            : maxSpacedRunBytes;
        if (stretch > 0 && (meets || (afterPunctuation && !punctuation) || stretch + character.bytes.size() > limit)) {
            out += ' ';
            stretch = 0;
        }
        out.append(character.bytes);
        stretch += character.bytes.size();
        afterPunctuation = punctuation;
        if (mine != Writing::neutral) {
            writing = mine;
        }
    }
}

}  // namespace

std::string engineText(std::string_view text)
{
    const std::string clean = wellFormed(text);
    std::string out;
    out.reserve(clean.size() + 8);
    std::vector<Character> run;
    std::size_t runBytes = 0;
    auto endRun = [&] {
        if (runBytes > maxSpacedRunBytes) {
            appendLongRun(out, run);
        } else {
            for (const Character& character : run) {
                out.append(character.bytes);
            }
        }
        run.clear();
        runBytes = 0;
    };
    Characters characters(clean);
    int symbols = 0;
    for (Character character; characters.next(character);) {
        character.bytes = capped(character.bytes);
        if (isSpace(character.first)) {
            endRun();
            out.append(character.bytes);
            symbols = 0;
            continue;
        }
        if (!isSymbol(character.first)) {
            symbols = 0;
        } else if (++symbols > maxSymbolsTogether) {
            endRun();
            out += ' ';
            symbols = 1;
        }
        run.push_back(character);
        runBytes += character.bytes.size();
    }
    endRun();
    out.append(3, '\0');
    return out;
}

}  // namespace parlaro::sys
