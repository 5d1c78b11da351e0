#pragma once

// Words the recognizer never writes. A recognizer that mishears puts words
// in the speaker's mouth, and what it writes is sent to the other party in
// the user's name, spoken in their voice and kept in the history: a word a
// mishearing would put there as an insult (a slur, an obscene word,
// swearing at someone) is out, while a harmless everyday meaning keeps a
// word in ("chink" of light, "cock" of a rooster), since the speaker may
// have said it. The list is the "kept-out" one of the language's data file
// (en-us-words.txt). The models' dictionaries hold such words, so they are
// taken out of the search when a decoder is loaded (the installed files
// stay as they are).

#include <string>
#include <string_view>
#include <vector>

namespace parlaro::sys {

// `word` and what it may be a form of: without a possessive ("'s", "'"),
// and without a plural ending ("s", "es", "ies" for "y").
std::vector<std::string> sphinxWordForms(std::string_view word);

// Whether `word` (in the dictionary's spelling, lower case, without the
// "(2)" of an alternative pronunciation) is kept out of the search: it, or
// what it is a form of, is on the list.
bool sphinxKeptOut(std::string_view word);

// The dictionary text `dictionary` without the entries of the words kept
// out, every other line as it was.
std::string sphinxDictionaryWithoutKeptOut(std::string_view dictionary);

// A path to read the dictionary file at `path` from, without the words kept
// out: a file in memory made once per dictionary and kept for the process.
// Empty when the dictionary cannot be read.
std::string sphinxSearchDictionary(const std::string& path);

}  // namespace parlaro::sys
