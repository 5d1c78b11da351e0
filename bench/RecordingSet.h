#pragma once

#include "platform/PcmBuffer.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::bench {

// A pause the speaker made after a word: inside a sentence, or between two.
struct Pause {
    std::size_t afterWord = 0;
    bool betweenSentences = false;
};

// One spoken recording and what was said in it.
struct Recording {
    std::string name;
    std::vector<std::string> words;  // lower case, without punctuation
    std::vector<Pause> pauses;       // in replies made for where sentences end
    PcmBuffer at16k{AudioFormat{16000, 1, SampleType::int16, true}, 0};
    std::vector<float> at48k;  // mono
};

// Who spoke the sets made at build time: espeak-ng's formant voices, or
// festival's voices made from recordings of a person (which people sound
// far more like).
enum class VoiceFamily { espeakNg, festival };

// The recordings a table of the sets made at build time lists ("file<TAB>
// text" a line, the text SSML markup whose breaks are the pauses), spoken by
// `family`: the sentences (sentences.tsv), the replies with pauses both
// inside sentences and between them (replies.tsv), the more made later
// (more-replies.tsv) or the held-out ones (held-out-replies.tsv). Empty
// when the US English model is missing or the family did not speak them.
std::vector<Recording> spokenRecordings(const std::string& table, VoiceFamily family);

// pocketsphinx's own test recordings of continuous English speech and the
// sentences `family` spoke at build time; empty when the US English model
// or the recordings are missing.
std::vector<Recording> recordingSet(VoiceFamily family = VoiceFamily::espeakNg);

// The recordings one after another with `gapSeconds` of silence before each,
// as 48 kHz interleaved stereo.
std::vector<float> farEndStream(const std::vector<Recording>& set, double gapSeconds);

// Every word of the set in order.
std::vector<std::string> allWords(const std::vector<Recording>& set);

inline constexpr std::size_t MicCapture4096 = 4096;
// A recording as a microphone gives it: 48 kHz mono float buffers of
// `frames` frames.
std::vector<std::shared_ptr<const PcmBuffer>> microphoneBuffers(const Recording& recording, std::size_t frames);

// Words substituted, inserted or left out, against the reference's length.
struct WordErrors {
    std::size_t errors = 0;
    std::size_t reference = 0;
    double rate() const { return reference == 0 ? 0.0 : static_cast<double>(errors) / static_cast<double>(reference); }
    WordErrors& operator+=(const WordErrors& other)
    {
        errors += other.errors;
        reference += other.reference;
        return *this;
    }
};

// The recognized text's words (case and punctuation ignored) against the
// reference words, by edit distance.
WordErrors wordErrors(const std::vector<std::string>& reference, const std::string& recognized);
// The same against a text as it was written.
WordErrors wordErrors(const std::string& said, const std::string& recognized);

// How many of a reply's pauses inside sentences, and of those between
// them, the recognized text ends a sentence at. A pause counts where the
// word before it was recognized (the words are aligned by edit distance)
// and the text goes on after it.
struct SentenceEnds {
    std::size_t inside = 0;
    std::size_t insideEnded = 0;
    std::size_t between = 0;
    std::size_t betweenEnded = 0;
    SentenceEnds& operator+=(const SentenceEnds& other)
    {
        inside += other.inside;
        insideEnded += other.insideEnded;
        between += other.between;
        betweenEnded += other.betweenEnded;
        return *this;
    }
};
SentenceEnds sentenceEnds(const Recording& recording, const std::string& recognized);

}  // namespace parlaro::bench
