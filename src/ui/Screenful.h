#pragma once

#include <QString>

#include <string>

namespace parlaro::ui {

// What a view shows of a text at first, in UTF-16 units: a screenful of the
// widest window. Laying out a text costs its length, and one sentence of a
// million characters (a recognizer left running on noise) would hold the
// program for seconds and outgrow the room its row was measured for.
inline constexpr qsizetype screenfulLength = 2000;

// The text as shown after `screenfuls` screenfuls: whole when it fits, else
// cut between two characters as the user sees them and ended by "…". Only
// the part shown is converted.
QString screenfulsOf(const std::string& text, qsizetype screenfuls = 1);

}  // namespace parlaro::ui
