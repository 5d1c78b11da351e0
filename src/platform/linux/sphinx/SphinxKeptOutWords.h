#pragma once

// Words the recognizer never writes. A recognizer that mishears puts words
// in the speaker's mouth; where such a word is a slur against a group of
// people or an obscene sexual word, it is sent to the other party in the
// user's name, spoken in their voice and kept in the history. The models'
// dictionaries hold such words, so they are taken out of the search when a
// decoder is loaded (the installed files stay as they are). A word with a
// common harmless meaning ("chink" of light, "cock" of a rooster, "bitch"
// of a dog) stays: the speaker may have said it.

#include <string>
#include <string_view>

namespace parlaro::sys {

// Whether `word` (in the dictionary's spelling, lower case, without the
// "(2)" of an alternative pronunciation) is kept out of the search.
bool sphinxKeptOut(std::string_view word);

// The dictionary text `dictionary` without the entries of the words kept
// out, every other line as it was.
std::string sphinxDictionaryWithoutKeptOut(std::string_view dictionary);

// A path to read the dictionary file at `path` from, without the words kept
// out: a file in memory made once per dictionary and kept for the process.
// Empty when the dictionary cannot be read.
std::string sphinxSearchDictionary(const std::string& path);

}  // namespace parlaro::sys
