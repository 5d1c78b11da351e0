#pragma once

#include <string>
#include <vector>

namespace parlaro {

// Korean writes a particle in the form the word before it asks for: "영어를"
// after a vowel, "파일을" after a final consonant, "파일로" after ㄹ as
// "영어로" after a vowel, but "책으로" after any other consonant. A Korean table
// value cannot know the word a placeholder brings, so it hedges the particle
// right after the placeholder, optionally after a closing quote: "%@을(를)",
// "‘%@’은(는)", "%@(으)로"; also "이(가)" and "과(와)", in either order.
//
// Returns `format` with each such hedge replaced by the form its argument's
// last sound asks for: the last Hangul syllable's final consonant, or for a
// number its last digit as read aloud. White space, invisible marks, closing
// quotes and a trailing bracketed aside ("중국어(간체)") are looked past.
// Where the last sound cannot be told (a Latin word, a number ending in 0, a
// path's symbols) the hedge stays, which reads correctly either way.
// Placeholders are found as fillPlaceholders() finds them.
std::string chooseKoreanParticles(const std::string& format, const std::vector<std::string>& arguments);

}  // namespace parlaro
