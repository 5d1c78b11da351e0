#pragma once

// How the decoder's hypothesis becomes written text. The models know
// neither case nor punctuation: a hypothesis is a row of lower-case words.
// A listener reads text as a writer spells it, so where a request asks for
// punctuation the words are written that way: a capital at each sentence
// start, the English pronoun "I", and a full stop where the speaker paused
// between words and the words read as two sentences (the decoder's
// segmentation tells where each word lies in time).

#include "platform/SpeechRecognizer.h"

#include <string>
#include <vector>

struct ps_decoder_s;
struct ps_seg_s;
struct ngram_model_s;

namespace parlaro::sys {

// The words of one utterance as a writer spells them, for models that know
// no case: the first begins with a capital, and in English the pronoun and
// its contractions are "I", "I'm", "I'll"..., and days and months are
// names ("Monday", "March").
std::vector<std::string> sphinxWrittenWords(std::vector<std::string> words, bool english);

// The language model of the search the decoder set up from its "-lm";
// none when it has none.
ngram_model_s* sphinxLanguageModel(ps_decoder_s* decoder);

// The decoder's best hypothesis as a transcription whose segments are its
// words, joined by single spaces. With punctuation the text is written as a
// person would write it, since the models know no case: a silence between
// two words ends a sentence there (a full stop after the first, or in
// English a question mark after a question) where the
// decoder's language model reads the words around it as two sentences
// rather than one (see SphinxSentenceEnds), each sentence begins with a
// capital, and in English the pronoun is "I". In a hypothesis not yet
// `complete`, a pause with fewer than two words after it stays open, and
// given the `liveStops` the previous live hypothesis left (which it
// replaces), so does one that did not end a sentence there between the
// same words: the first words after a pause are often misheard at first,
// and a sentence sent while the key is held cannot be taken back. The
// recognizer gives no other marks, and none after the last word, whose
// following silence may yet end in more of the same sentence (the caller
// closes it: see SpeechRecognizer::closingMark).
Transcription transcriptionOf(ps_decoder_s* decoder, const char* hypothesis, bool punctuate, bool english,
                              bool complete, std::vector<std::string>* liveStops = nullptr);
// The same for a hypothesis the decoder's own search did not give (one read
// off its lattice): `segments` is its segmentation, taken over and freed.
Transcription transcriptionOf(ps_decoder_s* decoder, const char* hypothesis, ps_seg_s* segments, bool punctuate,
                              bool english, bool complete, std::vector<std::string>* liveStops = nullptr);

}  // namespace parlaro::sys
