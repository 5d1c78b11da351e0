#pragma once

#include <string>
#include <string_view>

namespace parlaro::sys {

// Plain text to and from the translators' stream format.
namespace ApertiumStream {

// The text as one record: the format's reserved characters escaped, the
// tilde kept out of post-generation as a blank, line breaks turned into
// spaces (the translators treat a line break as the end of a paragraph),
// and every invalid UTF-8 sequence replaced by U+FFFD (the translators drop
// the rest of a record after a malformed byte).
std::string encode(std::string_view text);

// The text with every ill-formed UTF-8 sequence (each maximal ill-formed
// part) replaced by U+FFFD.
std::string validUtf8(std::string_view text);

// True when the text holds nothing but white space (any Unicode space or
// line break, and the null character); there is nothing in it to translate.
bool isBlank(std::string_view text);

// A record of output as plain text: escapes undone, blanks unwrapped,
// surrounding white space trimmed.
std::string decode(std::string_view record);

// The text as the record sent to a chain: encoded, then closed by a full
// stop the translators take for the end of the sentence, tagged by an empty
// blank so that it can be found again in the answer. Without it the
// transfer stages hold back the words of an unfinished sentence at the end
// of a record and never give them out ("i do" comes back as "i").
std::string request(std::string_view text);

// The answer to a request as plain text: the closing full stop taken out
// again, then decoded.
std::string answer(std::string_view record);

// The translation with the spacing the translators make when they drop a
// word taken out again: a run of spaces longer than any in the source comes
// down to the longest the source has (one when it has none), and spaces
// before a closing mark go unless the source puts a space before that mark
// too. Other white space (a no-break space before a mark, say) is the
// target language's own and stays.
std::string spacedLike(std::string_view source, std::string_view translation);

}  // namespace ApertiumStream
}  // namespace parlaro::sys
