#pragma once

// The English word lists the recognizer's written text is judged by, read
// from the language's data file (en-us-words.txt, compiled in) rather than
// spelt out in the code that judges: which words are kept out of the
// search, and which open a question, a subordinate clause or a short reply.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace parlaro::sys {

struct SphinxEnglishWords {
    using Words = std::unordered_set<std::string>;

    Words keptOut;
    Words joining;
    Words subordinators;
    Words questionWords;
    Words auxiliaries;
    Words subjects;
    Words clauseSubjects;
    // Each reply as its words.
    std::vector<std::vector<std::string>> shortReplies;

    // The lists of a data file's text: "[name]" headings, one entry a line,
    // "#" comments; a heading it does not know is skipped.
    static SphinxEnglishWords parse(std::string_view text);
    // The lists of the compiled-in data file, read once.
    static const SphinxEnglishWords& shared();
};

}  // namespace parlaro::sys
