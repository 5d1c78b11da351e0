#pragma once

#include "speech/Utf16Range.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace parlaro {

// Cuts finished sentences out of live recognized text that keeps growing and
// being revised, releasing each sentence exactly once although every new
// revision repeats the whole text from its start.
//
// What has been released is remembered as its key (lowercased, letters,
// marks and digits only) and new text is aligned against it by length, so
// revisions that only change punctuation, case or spacing release nothing
// twice. Texts are UTF-8; word ranges and offsets are UTF-16 code units of
// the transcript, the way recognizers report them. Ranges that do not lie in
// the text are clamped to it, never trusted.
struct HeldSentences {
    struct Word {
        Utf16Range range;

        bool operator==(const Word&) const = default;
    };

    struct Taken {
        std::vector<std::string> sentences;
        std::string rest;

        bool operator==(const Taken&) const = default;
    };

    // The concatenated keys of every sentence released so far.
    std::string sent;

    // The sentences finished since the last call, in order, and the
    // unfinished rest; remembers the released sentences.
    Taken take(const std::string& transcript, const std::vector<Word>& words);

    // How many leading words the released key text `text` already covers:
    // the shortest run whose keys add up to at least its length in
    // characters, plus any key-less words right after.
    static std::size_t sentWordCount(const std::string& transcript, const std::vector<Word>& words,
                                     const std::string& text);
    // The transcript from word `afterWord` to the end, trimmed. Without
    // words, the whole trimmed transcript while nothing is released.
    static std::string remainder(const std::string& transcript, const std::vector<Word>& words, std::size_t afterWord,
                                 const std::string& text);
    // Whether a trimmed piece of text ends a sentence: "?!。？！", or a "."
    // that does not close an abbreviation or initials.
    static bool endsSentence(std::string_view piece);
    // The transcript between two UTF-16 offsets, trimmed of white space and
    // new lines; empty unless 0 <= from < to <= the UTF-16 length.
    static std::string trimmedText(const std::string& transcript, std::int64_t from, std::int64_t to);
    // The text lowercased with everything but letters, marks and digits
    // removed.
    static std::string key(std::string_view text);
    // Lower-case titles whose full stop never ends a sentence ("mr.", "dr.").
    static const std::unordered_set<std::string>& abbreviations();

private:
    // Where the released text ended in the revision take() last saw. A new
    // revision that leaves everything up to there as it was (and `sent` as
    // take() left it) is walked from there on only: the covered words keep
    // their key lengths, and only the rest of the text is converted.
    // Anything else starts over from the first word.
    struct Progress {
        bool valid = false;
        std::string sentSeen;            // `sent` as take() left it
        std::size_t sentCharacters = 0;  // its length in characters
        std::vector<Word> words;         // the leading words already covered
        std::size_t keyCharacters = 0;   // the length of their keys together
        std::string prefix;              // the transcript through those words
        std::size_t prefixUnits = 0;     // the same in UTF-16 units
    };
    Progress progress_;
};

}  // namespace parlaro
