#include "speech/HeldSentences.h"

#include <gtest/gtest.h>

#include <limits>

namespace parlaro {
namespace {

using Word = HeldSentences::Word;
using Strings = std::vector<std::string>;

// Words as a recognizer gives them for text separated by spaces: one per
// piece, its range in UTF-16 units. Only ASCII text, where bytes and UTF-16
// units agree.
std::vector<Word> spacedWords(const std::string& text)
{
    std::vector<Word> words;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t end = std::min(text.find(' ', at), text.size());
        words.push_back(Word{{at, end - at}});
        at = end;
    }
    return words;
}

std::vector<Word> wordsAt(std::initializer_list<std::pair<std::size_t, std::size_t>> ranges)
{
    std::vector<Word> words;
    for (auto [location, length] : ranges)
        words.push_back(Word{{location, length}});
    return words;
}

HeldSentences::Taken take(HeldSentences& held, const std::string& text)
{
    return held.take(text, spacedWords(text));
}

TEST(HeldSentences, ReleasesEachSentenceOnceAsTheTextGrows)
{
    HeldSentences held;
    auto first = held.take("Hello there. How are you", wordsAt({{0, 5}, {6, 6}, {13, 3}, {17, 3}, {21, 3}}));
    EXPECT_EQ(first.sentences, Strings{"Hello there."});
    EXPECT_EQ(first.rest, "How are you");
    EXPECT_EQ(held.sent, "hellothere");

    auto second = take(held, "Hello there. How are you? I'm");
    EXPECT_EQ(second.sentences, Strings{"How are you?"});
    EXPECT_EQ(second.rest, "I'm");
    EXPECT_EQ(held.sent, "hellotherehowareyou");

    // A revision that only changes punctuation, case or spacing of what was
    // released releases nothing again.
    auto revised = take(held, "hello, There!  How are you. I'm here");
    EXPECT_EQ(revised.sentences, Strings{});
    EXPECT_EQ(revised.rest, "I'm here");

    // Everything covered: nothing new, nothing left.
    auto covered = take(held, "Hello there. How are you?");
    EXPECT_EQ(covered.sentences, Strings{});
    EXPECT_EQ(covered.rest, "");

    auto more = take(held, "Hello there. How are you? I'm fine! And you?");
    EXPECT_EQ(more.sentences, (Strings{"I'm fine!", "And you?"}));
    EXPECT_EQ(more.rest, "");
}

TEST(HeldSentences, AbbreviationsAndInitialsDoNotEndSentences)
{
    HeldSentences held;
    auto partial = take(held, "Mr. Smith");
    EXPECT_EQ(partial.sentences, Strings{});
    EXPECT_EQ(partial.rest, "Mr. Smith");
    auto whole = take(held, "Mr. Smith arrived. Then");
    EXPECT_EQ(whole.sentences, Strings{"Mr. Smith arrived."});
    EXPECT_EQ(whole.rest, "Then");

    for (const char* token :
         {"Mr.", "(Dr.", "“Prof.", "a.", "U.S.", "e.g.", "J.", "ж.", "é.", "中.", "word.\"", "it.”", "what", ""})
        EXPECT_FALSE(HeldSentences::endsSentence(token)) << token;
    for (const char* token :
         {"etc.", "3.", "U.S.A", "arrived.", ".", "a..", "no?", "yes!", "好。", "吗？", "啊！", "Mr. Smith left."})
        EXPECT_EQ(HeldSentences::endsSentence(token), std::string(token) != "U.S.A") << token;
    EXPECT_EQ(HeldSentences::abbreviations().size(), 24u);
}

TEST(HeldSentences, ChineseEndMarks)
{
    HeldSentences held;
    // A recognizer's Chinese words: 你好 | 我们 | 走 | 吧, the full stop
    // between them.
    auto taken = held.take("你好。我们走吧", wordsAt({{0, 2}, {3, 2}, {5, 1}, {6, 1}}));
    EXPECT_EQ(taken.sentences, Strings{"你好。"});
    EXPECT_EQ(taken.rest, "我们走吧");
    EXPECT_EQ(held.sent, "你好");

    // A text ending in an end mark is released at once.
    HeldSentences fresh;
    auto ended = fresh.take("你好。", wordsAt({{0, 2}}));
    EXPECT_EQ(ended.sentences, Strings{"你好。"});
    EXPECT_EQ(ended.rest, "");
}

TEST(HeldSentences, TextsWithoutWordsOrLetters)
{
    HeldSentences held;
    auto noWords = held.take("  partial text \n", {});
    EXPECT_EQ(noWords.sentences, Strings{});
    EXPECT_EQ(noWords.rest, "partial text");

    // Punctuation alone is dropped, never released.
    auto dots = held.take("... Okay.", wordsAt({{0, 3}, {4, 5}}));
    EXPECT_EQ(dots.sentences, Strings{"Okay."});
    EXPECT_EQ(dots.rest, "");
    EXPECT_EQ(held.sent, "okay");

    // Once something was released, a text without words has no rest.
    EXPECT_EQ(held.take("still talking", {}).rest, "");
    EXPECT_EQ(HeldSentences::remainder("", {}, 0, ""), "");
    EXPECT_EQ(HeldSentences::remainder("a b", spacedWords("a b"), 2, ""), "");
}

TEST(HeldSentences, KeysCountCharactersNotCodeUnits)
{
    EXPECT_EQ(HeldSentences::key("Hello, World! 3 o'clock"), "helloworld3oclock");
    EXPECT_EQ(HeldSentences::key("ÉCOLE Straße"), "écolestraße");
    EXPECT_EQ(HeldSentences::key("你好，世界。"), "你好世界");
    EXPECT_EQ(HeldSentences::key("e\u0301t\u00e9 👋"), "e\u0301t\u00e9");

    // "é" written as e + combining accent is two code points but one
    // character, so a released key "é" covers exactly the first word.
    const std::string text = "e\u0301 x y";
    const auto words = wordsAt({{0, 2}, {3, 1}, {5, 1}});
    EXPECT_EQ(HeldSentences::sentWordCount(text, words, "e\u0301"), 1u);
    EXPECT_EQ(HeldSentences::sentWordCount(text, words, "e\u0301x"), 2u);
    // A word straddling the released length is covered, and so are
    // key-less words right after it.
    EXPECT_EQ(HeldSentences::sentWordCount("abc - de", wordsAt({{0, 3}, {4, 1}, {6, 2}}), "ab"), 2u);
    EXPECT_EQ(HeldSentences::sentWordCount("abc", wordsAt({{0, 3}}), ""), 0u);
    EXPECT_EQ(HeldSentences::sentWordCount("abc de", wordsAt({{0, 3}, {4, 2}}), "abcdefgh"), 2u);
}

TEST(HeldSentences, WordRangesOutsideTheTextAreClamped)
{
    constexpr std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::string text = "Hi there. Bye";  // 13 UTF-16 units

    // Ranges past the end have empty keys; one running over the end is cut
    // at it.
    EXPECT_EQ(HeldSentences::sentWordCount(text, wordsAt({{0, 2}, {50, 4}, {3, huge}}), "hi"), 2u);
    EXPECT_EQ(HeldSentences::sentWordCount(text, wordsAt({{huge, huge}, {huge, 1}}), "x"), 2u);

    HeldSentences held;
    auto taken = held.take(text, wordsAt({{0, 2}, {3, 6}, {10, huge}, {huge, 3}}));
    EXPECT_EQ(taken.sentences, Strings{"Hi there."});
    EXPECT_EQ(taken.rest, "Bye");

    // A recognizer revising its text can hand over ranges of a longer,
    // older text.
    HeldSentences stale;
    auto shorter = stale.take("Hi.", wordsAt({{0, 3}, {4, 5}, {200, 2}}));
    EXPECT_EQ(shorter.sentences, Strings{"Hi."});
    EXPECT_EQ(shorter.rest, "");
    EXPECT_EQ(HeldSentences::remainder("Hi.", wordsAt({{huge, 1}}), 0, ""), "");

    EXPECT_EQ(HeldSentences::trimmedText(text, 0, 9), "Hi there.");
    EXPECT_EQ(HeldSentences::trimmedText(text, 9, 13), "Bye");
    EXPECT_EQ(HeldSentences::trimmedText(text, -1, 4), "");
    EXPECT_EQ(HeldSentences::trimmedText(text, 4, 4), "");
    EXPECT_EQ(HeldSentences::trimmedText(text, 5, 2), "");
    EXPECT_EQ(HeldSentences::trimmedText(text, 0, 14), "");
    EXPECT_EQ(HeldSentences::trimmedText(text, 0, std::numeric_limits<std::int64_t>::max()), "");

    // Offsets count UTF-16 units: the emoji takes two, and a cut through it
    // gives a replacement character, never broken UTF-8.
    const std::string emoji = "👋 ok.";
    EXPECT_EQ(HeldSentences::trimmedText(emoji, 0, 2), "👋");
    EXPECT_EQ(HeldSentences::trimmedText(emoji, 3, 6), "ok.");
    EXPECT_EQ(HeldSentences::trimmedText(emoji, 1, 2), "\uFFFD");
    HeldSentences wave;
    auto waved = wave.take(emoji, wordsAt({{0, 2}, {3, 3}}));
    EXPECT_EQ(waved.sentences, Strings{"👋 ok."});
}

}  // namespace
}  // namespace parlaro
