#pragma once

// Spanish as a Spanish reader writes it, around what the translators give.
// They leave a month they do not know in English ("tercer de March",
// "April"), take "March" for the common word ("Marcha"), keep a day in
// lower case as an unknown word ("*monday"), write a date's day as an
// ordinal ("en el tercer de marzo"), give the word after a name they do not
// know a capital ("Snyder Llamó"), keep a title's English capital inside a
// sentence ("con Señora Jackson"), and write a question with its closing
// mark only ("Es esto el número correcto?").

#include <string>
#include <string_view>

namespace parlaro::sys {

namespace ApertiumSpanish {

// English text for the translators: days, and months that are no other
// word, with their capital ("monday" -> "Monday", "april" -> "April"), as
// the translators know them. "march" and "may" stay: in lower case they
// are the verbs far more often.
std::string englishSource(std::string_view english);

// The translation of `english` with every day and month the English names
// written as its Spanish name, in lower case unless it opens a sentence
// ("marzo", "abril", "lunes"), a date's day in figures ("el 3 de marzo"),
// no capital after a name the source follows with a lower-case word, a
// title before a name in lower case inside a sentence, and every question
// and exclamation opened with "¿" and "¡".
std::string written(std::string_view english, std::string_view spanish);

// `spanish` with "¿" before each sentence that ends in "?", and "¡" before
// each that ends in "!", where it has none: at the sentence's start, or
// inside the quote or bracket that the closing mark ends. An abbreviation
// ("Sr. López", "Dr. Smith", "5 p.m. ahora") ends no sentence.
std::string withOpeningQuestionMarks(std::string_view spanish);

}  // namespace ApertiumSpanish
}  // namespace parlaro::sys
