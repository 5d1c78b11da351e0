#pragma once

#include <string>
#include <vector>

namespace parlaro {

// A table value may word a count in the forms its language needs, in the
// plural syntax of message formats:
//
//     "{0, plural, one {# sentence} other {# sentences}}"
//
// The number names the argument, counted from 0; the keywords are the
// language's plural categories (zero, one, two, few, many, other), and "=N"
// matches one exact value. "#" stands for the argument as given. Blocks may
// nest (16 deep; a deeper one stays as written) and sit anywhere in the
// text; "other" is required. A value with such blocks words any further
// arguments as "%N$@", so that no "%@" takes the wrong one.
//
// Returns `text` with every block replaced by its chosen form for `locale`
// (a BCP 47 tag); text without blocks comes back unchanged. An argument that
// is not a number, a missing argument or a block that cannot be read takes
// "other", or the block stays as written.
std::string choosePluralForms(const std::string& text, const std::vector<std::string>& arguments,
                              const std::string& locale);

}  // namespace parlaro
