#pragma once

#include <string>
#include <string_view>

namespace parlaro::sys {

// The text as the speech engine can read it without overrunning its word
// buffers, which hold a few hundred bytes of one word and overflow when an
// abbreviation ("U.S.A", "a.b", "ก.ข") leads a long stretch without a space.
//
// Always: well-formed UTF-8 (a broken sequence, a control character or a NUL
// becomes a space); bidi controls and byte order marks, which say nothing,
// left out, and so are characters newer than the engine's tables; at most a
// few marks on one character (a letter under a hundred accents keeps the
// first ones); each emoji or symbol a word of its own, emoji joiners, tags
// and selectors only where they make a whole sequence; digits of scripts no
// voice reads its numbers in as plain digits; and room after the terminator,
// since the engine reads a whole sequence once it has seen its first byte.
// The engine has faults this cannot reach; the voice process contains them.
//
// Only in a stretch without a space far longer than any word written with
// spaces: a space after punctuation, a space where letters of a script
// written with spaces meet those of one written without (Thai, Chinese,
// Japanese...), and a cut at a character boundary where a stretch still runs
// on. A sentence in a script without spaces is one such stretch; it is left
// whole up to a length no sentence reaches, so it sounds the same.
std::string engineText(std::string_view text);

}  // namespace parlaro::sys
