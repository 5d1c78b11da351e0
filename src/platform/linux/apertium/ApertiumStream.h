#pragma once

#include <string>
#include <string_view>

namespace parlaro::sys {

// Plain text to and from the translators' stream format.
namespace ApertiumStream {

// The text as one record: the format's reserved characters escaped, the
// tilde kept out of post-generation as a blank, line breaks turned into
// spaces (the translators treat a line break as the end of a paragraph).
std::string encode(std::string_view text);

// A record of output as plain text: escapes undone, blanks unwrapped,
// surrounding white space trimmed.
std::string decode(std::string_view record);

} // namespace ApertiumStream
} // namespace parlaro::sys
