#include "speech/KoreanParticles.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <optional>
#include <string_view>

namespace parlaro {

namespace {

enum class Ending { vowel, consonant, rieul, unknown };

struct Hedge {
    std::string_view text;
    // After a final consonant, after a vowel, and after ㄹ.
    std::string_view consonant;
    std::string_view vowel;
    std::string_view rieul;
};

constexpr std::array<Hedge, 9> hedges{{
    {"을(를)", "을", "를", "을"},
    {"를(을)", "을", "를", "을"},
    {"이(가)", "이", "가", "이"},
    {"가(이)", "이", "가", "이"},
    {"은(는)", "은", "는", "은"},
    {"는(은)", "은", "는", "은"},
    {"과(와)", "과", "와", "과"},
    {"와(과)", "과", "와", "과"},
    // ㄹ takes the vowel's form here: "파일로", not "파일으로".
    {"(으)로", "으로", "로", "로"},
}};

// Quotes that may close the placeholder's word in the format or the word
// itself: the particle still follows the quoted word.
bool isClosingQuote(UChar32 c)
{
    return c == U'’' || c == U'”' || c == U'」' || c == U'』' || c == U'»' || c == U'"' || c == U'\'';
}

bool isIgnorable(UChar32 c)
{
    return u_isUWhiteSpace(c) || u_charType(c) == U_FORMAT_CHAR || isClosingQuote(c);
}

// Sino-Korean readings of 1-9 (일 이 삼 사 오 육 칠 팔 구); a number is read
// with its last non-zero digit last, whatever its size. A final 0 is read
// 영, 십, 백, 천 or 만 by position, so it stays unknown.
Ending digitEnding(int digit)
{
    static constexpr std::array<Ending, 10> endings{
        Ending::unknown, Ending::rieul,     Ending::vowel, Ending::consonant, Ending::vowel,
        Ending::vowel,   Ending::consonant, Ending::rieul, Ending::rieul,     Ending::vowel};
    return endings[static_cast<std::size_t>(digit)];
}

Ending endingOf(const std::string& word)
{
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(word);
    int32_t end = text.length();
    // Inside a bracketed aside, counted from the end.
    int depth = 0;
    while (end > 0) {
        const int32_t start = text.moveIndex32(end, -1);
        const UChar32 c = text.char32At(start);
        end = start;
        if (c == U')' || c == U'）') {
            ++depth;
            continue;
        }
        if (depth > 0) {
            if (c == U'(' || c == U'（')
                --depth;
            continue;
        }
        if (isIgnorable(c))
            continue;
        if (c >= 0xAC00 && c <= 0xD7A3) {
            const int finalConsonant = (c - 0xAC00) % 28;
            return finalConsonant == 0 ? Ending::vowel : finalConsonant == 8 ? Ending::rieul : Ending::consonant;
        }
        if (u_charType(c) == U_DECIMAL_DIGIT_NUMBER)
            return digitEnding(u_charDigitValue(c));
        return Ending::unknown;
    }
    return Ending::unknown;
}

struct Placeholder {
    std::size_t end = 0;
    std::size_t argument = 0;
};

// The placeholder starting at `i`, in the mode fillPlaceholders() uses.
std::optional<Placeholder> placeholderAt(std::string_view format, std::size_t i, bool positional, std::size_t& sequence)
{
    if (format[i] != '%')
        return std::nullopt;
    if (!positional) {
        if (format.substr(i, 2) != "%@")
            return std::nullopt;
        return Placeholder{i + 2, sequence++};
    }
    std::size_t j = i + 1;
    std::size_t number = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && number < 1000000)
        number = number * 10 + static_cast<std::size_t>(format[j++] - '0');
    if (j == i + 1 || format[i + 1] == '0' || format.substr(j, 2) != "$@")
        return std::nullopt;
    return Placeholder{j + 2, number - 1};
}

// The length of the closing quotes at `i` in the format.
std::size_t quotesAt(std::string_view format, std::size_t i)
{
    std::size_t length = 0;
    for (bool found = true; found;) {
        found = false;
        for (std::string_view quote : {"’", "”", "」", "』", "»", "\"", "'"}) {
            if (format.substr(i + length, quote.size()) == quote) {
                length += quote.size();
                found = true;
            }
        }
    }
    return length;
}

}  // namespace

std::string chooseKoreanParticles(const std::string& format, const std::vector<std::string>& arguments)
{
    const std::string_view text = format;
    const bool positional = text.find("%1$@") != std::string_view::npos;
    std::string out;
    out.reserve(format.size());
    std::size_t sequence = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto placeholder = placeholderAt(text, i, positional, sequence);
        if (!placeholder) {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t quoted = placeholder->end + quotesAt(text, placeholder->end);
        out.append(text, i, quoted - i);
        i = quoted;
        for (const Hedge& hedge : hedges) {
            if (text.substr(i, hedge.text.size()) != hedge.text)
                continue;
            const Ending ending =
                placeholder->argument < arguments.size() ? endingOf(arguments[placeholder->argument]) : Ending::unknown;
            if (ending == Ending::unknown)
                break;
            out += ending == Ending::vowel ? hedge.vowel : ending == Ending::rieul ? hedge.rieul : hedge.consonant;
            i += hedge.text.size();
            break;
        }
    }
    return out;
}

}  // namespace parlaro
