// A held state that walks only the new end of each revision against a fresh
// state for every revision, which walks the whole text: on seeded random live
// transcripts they must agree exactly.

#include "speech/HeldSentences.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace parlaro {
namespace {

using Word = HeldSentences::Word;

std::size_t utf16Length(const std::string& text)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

// A transcript as a recognizer revises it: pieces of text, each one word
// (its range covering the piece without trailing punctuation) joined by a
// separator.
struct Live {
    std::vector<std::string> pieces;
    std::vector<std::size_t> letters;  // UTF-16 units of each piece's word
    std::string separator;

    std::pair<std::string, std::vector<Word>> revision() const
    {
        std::string text;
        std::vector<Word> words;
        std::size_t units = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) {
                text += separator;
                units += utf16Length(separator);
            }
            words.push_back(Word{{units, letters[i]}});
            text += pieces[i];
            units += utf16Length(pieces[i]);
        }
        return {text, words};
    }
};

struct Vocabulary {
    std::vector<std::string> words;
    std::vector<std::string> endings;  // what may follow a word
    std::string separator;
};

const Vocabulary english{
    {"so",    "We", "met",     "Mr", "Smith", "at", "the",  "U.S", "station", "café", "naïve",  "e\u0301te\u0301",
     "ΣΟΦΟΣ", "3",  "o'clock", "J",  "etc",   "Dr", "über", "👋",   "don't",   "ok",   "\u0301a"},
    {"", "", "", "", ",", ".", ".", "?", "!", ".\"", "…", " -"},
    " "};
const Vocabulary chinese{
    {"我们", "今天", "在", "车站", "见面", "你", "看到", "了", "吗", "好", "的", "ＡＢ", "𠀀字", "三"},
    {"", "", "", "", "", "。", "？", "！", "，", "」"},
    ""};

TEST(HeldSentencesRevisions, WalkingOnlyTheNewEndMatchesTheWholeWalk)
{
    int released = 0;
    int resumedOverReleased = 0;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        std::mt19937 random(seed);
        const Vocabulary& vocabulary = seed % 2 ? english : chinese;
        Live live{{}, {}, vocabulary.separator};
        HeldSentences held;
        std::string plainSent;
        auto newPiece = [&] {
            const std::string word = vocabulary.words[random() % vocabulary.words.size()];
            const std::string ending = vocabulary.endings[random() % vocabulary.endings.size()];
            return std::pair<std::string, std::size_t>{word + ending, utf16Length(word)};
        };

        for (int step = 0; step < 400; ++step) {
            const unsigned change = random() % 100;
            if (change < 70 || live.pieces.size() < 3) {
                auto [piece, letters] = newPiece();
                live.pieces.push_back(piece);
                live.letters.push_back(letters);
            } else if (change < 78) {
                // The recognizer rewrites a word, often one already released.
                const std::size_t at = random() % live.pieces.size();
                auto [piece, letters] = newPiece();
                live.pieces[at] = piece;
                live.letters[at] = letters;
            } else if (change < 84) {
                // Another case or punctuation for an early word.
                std::string& piece = live.pieces[random() % live.pieces.size()];
                if (!piece.empty() && piece[0] >= 'a' && piece[0] <= 'z')
                    piece[0] = static_cast<char>(piece[0] - 'a' + 'A');
                else
                    piece += ",";
            } else if (change < 90) {
                // The same text cut into words another way: two neighbours
                // become one.
                const std::size_t at = random() % (live.pieces.size() - 1);
                live.letters[at] = utf16Length(live.pieces[at]) + utf16Length(live.separator) + live.letters[at + 1];
                live.pieces[at] += live.separator + live.pieces[at + 1];
                live.pieces.erase(live.pieces.begin() + static_cast<std::ptrdiff_t>(at) + 1);
                live.letters.erase(live.letters.begin() + static_cast<std::ptrdiff_t>(at) + 1);
            } else if (change < 95) {
                live.pieces.pop_back();
                live.letters.pop_back();
            }
            auto [text, words] = live.revision();
            if (change >= 95 && change < 97 && !words.empty()) {
                // Ranges that do not fit the text.
                words[random() % words.size()].range.location += 1000;
            }
            if (change == 99) {
                // The caller edits the released key.
                held.sent = held.sent.empty() ? "x" : held.sent.substr(1);
                plainSent = held.sent;
            }

            HeldSentences fresh;
            fresh.sent = plainSent;
            const auto expected = fresh.take(text, words);
            plainSent = fresh.sent;
            const std::size_t sentBefore = held.sent.size();
            const auto taken = held.take(text, words);
            ASSERT_EQ(taken, expected) << "seed " << seed << " step " << step << ": " << text;
            ASSERT_EQ(held.sent, plainSent) << "seed " << seed << " step " << step;
            released += static_cast<int>(taken.sentences.size());
            resumedOverReleased += sentBefore > 0 && change < 70;
        }
    }
    // The comparison saw sentences released, and many revisions that only
    // grew after something had been released.
    EXPECT_GT(released, 500);
    EXPECT_GT(resumedOverReleased, 3000);
}

}  // namespace
}  // namespace parlaro
