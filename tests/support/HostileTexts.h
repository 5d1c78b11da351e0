#pragma once

// Replies as translation may hand them to the voice, each once the cause of
// a misreading, an overrun or a crash (or the plain sentence such a cause
// hides in). The synthesizer's tests speak every one; its fuzz target starts
// from them, each written as a first byte that picks the language and then
// the text.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro::test {

// A piece many times over, as the long runs of hostile replies are made.
inline std::string repeated(std::string_view piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

// The voices the fuzz target's first byte picks from.
inline constexpr std::array<std::string_view, 12> speechLanguages = {"en", "th", "ja", "zh", "de", "ar",
                                                                     "hi", "ru", "ko", "vi", "es", "fr"};

struct HostileText {
    enum Kind {
        ordinary,  // a plain sentence: the cleaning leaves it alone
        hostile,   // spoken, whatever the cleaning made of it
        silent,    // nothing to say: not even the pause after it
    };
    std::string_view name;
    std::string_view language;
    std::string text;
    Kind kind = hostile;

    // As the fuzz target reads it.
    std::string seed() const
    {
        const auto index =
            std::find(speechLanguages.begin(), speechLanguages.end(), language) - speechLanguages.begin();
        return char(index) + text;
    }
};

inline std::vector<HostileText> hostileTexts()
{
    using K = HostileText;
    const std::string longWord(200, 'x');
    const std::string accents = repeated("\xcc\x81", 100);
    const std::string thaiRun = repeated("\xe0\xb8\x81", 100);
    const std::string symbols = "€$£¥©®™±×÷∞≈≠≤≥";
    return {
        // Sentences in scripts written without spaces are one long run
        // each; cut, they would sound different.
        {"thai-sentence", "th", "วันนี้อากาศดีมากและผมอยากจะไปเที่ยวที่ทะเลกับครอบครัวของผมในวันหยุดสุดสัปดาห์นี้", K::ordinary},
        {"thai-long", "th", "ฉันคิดว่าเราควรจะส่งเอกสารทั้งหมดให้กับลูกค้าภายในวันศุกร์นี้เพื่อที่พวกเขาจะได้มีเวลาตรวจสอบก่อนการประชุม",
         K::ordinary},
        {"chinese", "zh",
         "我们下周三下午两点在三楼的大会议室开会，请大家提前准备好上个季度的销售报告和明年的预算计划。", K::ordinary},
        {"japanese", "ja",
         "来週の水曜日の午後二時に三階の大会議室で会議を行いますので、皆さん前の四半期の売上報告書と来年の予算計画を準備"
         "しておいてください。",
         K::ordinary},
        {"vietnamese", "vi", "Xin chào, đây là bản nghe thử giọng của tôi.", K::ordinary},
        {"german", "de", "Die Rindfleischetikettierungsüberwachungsaufgabenübertragungsgesetz-Debatte ist beendet.",
         K::ordinary},
        {"hindi", "hi", "नमस्ते, यह मेरी आवाज़ का नमूना है।", K::ordinary},
        {"emoji-sequences", "en", "👨‍👩‍👧‍👦 🏴󠁧󠁢󠁳󠁣󠁴󠁿 done.", K::ordinary},
        // An abbreviation before a very long word overran the engine's
        // stack, whether the word is letters, a letter under many accents
        // or a script written without spaces.
        {"abbreviation-letters", "en", "U.S.A" + longWord},
        {"abbreviation-word", "en", "A.B" + longWord + " and more."},
        {"abbreviation-accents", "en", "U.S.Ax" + accents + " and more."},
        {"thai-after-abbreviation", "th", "U.S.A" + thaiRun},
        {"thai-abbreviation", "th", "\xe0\xb8\x81.\xe0\xb8\x82" + thaiRun + thaiRun},
        {"dots", "ko", repeated("a.", 150)},
        // A broken last character, a NUL or a control character must not
        // make it read past the text.
        {"broken-last-character", "es", "Hola, se\xc3"},
        {"broken-last-sequence", "es", "Buenos d\xc3\xad\xe2\x82"},
        {"nul", "es", std::string("Hola\0 se\xc3\xb1or", 12)},
        {"controls-and-broken-bytes", "es", "Hola\x01\x1b se\xf0\x9f\x98\x80\xff\xfe amigo"},
        {"broken-utf8", "ru", "Hola\xc3 se\xf0\x9f\x98\xff\xfe amigo"},
        {"bidi-controls", "hi", "\u202eمرحبا\u202c \u2066abc\u2069 \u200f\x01\x1b\x7f text"},
        {"symbols", "ar", repeated(symbols + "\x05", 9) + symbols},
        {"emoji-run", "de",
         repeated("😀🎉👨‍👩‍👧‍👦🏴\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F",
                  20)},
        // Code points the engine reads past (unassigned, or newer than its
        // tables), a tag or a joiner with nothing to join, a flag's tags
        // without their end; each followed, in the fuzz target, by a
        // switch to the voice five further on. Alone, some say nothing.
        {"bengali-sign-then-thai", "ko", "\u09F8", K::silent},
        {"newer-malayalam-sign", "ko", "\u0D04", K::silent},
        {"unassigned-greek-then-english", "ru", "\xce\x81", K::silent},
        {"joiner-after-emoji", "th", "👨\u200dphrase"},
        {"joiner-before-emoji", "th", "\u200d👧ext"},
        {"stray-tag-before-emoji", "zh", "\U000E007F😑", K::silent},
        {"flag-tags-without-end", "th",
         std::string("\xe0\xb8\xa7\xe0\xf0\x9f\x98\x80\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\x0e\x00\x00\xf0\x9f\x8f\xb4"
                     "\xf3\xa0\x81\x81\xa7\xf3\xa0\x81\xa0\x81\xf0\x9f\x8f\xb4\xf3\xa0\x81\xa7\xf3\xa0\x81\xa0\x81",
                     47)},
        {"empty", "en", "", K::silent},
        {"blanks", "en", "   ", K::silent},
        {"stop-alone", "en", ".", K::silent},
        {"ideographic-space", "en", "\xe3\x80\x80", K::silent},
    };
}

}  // namespace parlaro::test
