#pragma once

// Whether a pause between words ends a sentence. People pause inside
// sentences all the time (after "I think", before a number, while they
// look for a word), so the pause alone cannot tell; nor can the words
// before it, which score an end after "the weather" as high as after
// "I agree". The words on both sides can: the recognizer's own language
// model compares the sentence going on over the pause with one ending
// before it and a new one beginning after it. A pause of ordinary length
// adds little to that: people pause as long inside a sentence as between
// two, and a full stop inside one changes what the other party reads ("I
// want to order. If..."), while two sentences read as one still read right.
// Only a quiet longer than people keep while they look for a word counts
// as much as the words.
//
// A trigram model sees two words back, too few for what the whole sentence
// says, so in English three things read from the language's word lists
// come first, for any pause shorter than a long quiet: no sentence ends
// before a word that joins its halves ("and", "but", "or"), nor after an
// opening subordinate clause whose main clause has not come ("If you have
// time | we can talk"), nor before a subordinator that does not open a
// question ("the plan | after lunch"); and a sentence that is a whole short
// reply ("Yes of course", "Thank you") reads as ended unless the words
// after it plainly carry it on ("Thank you | for calling").

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ngram_model_s;
struct logmath_s;

namespace parlaro::sys {

struct SphinxEnglishWords;

// Reads one language model; not safe for two threads at once (the model's
// lookups keep scratch state), so each user holds its own or a lock.
class SphinxSentenceEnds {
public:
    // Borrowed; all must outlive this. `english`: the lists of an English
    // model, none for another language.
    SphinxSentenceEnds(ngram_model_s* model, logmath_s* logmath, const SphinxEnglishWords* english = nullptr);

    // The shortest pause that may end a sentence: a breath between words of
    // one sentence is shorter.
    static constexpr double shortestPause = 0.6;
    // The longest pause people make inside a sentence as often as between
    // two (after "I think", before a time, while they find a word).
    static constexpr double ordinaryPause = 1.5;
    // A quiet people keep only between sentences: from here on the pause
    // and the model's words decide alone.
    static constexpr double longQuiet = 2.5;
    // Log10 odds a pause of `seconds` adds for a break: none under the
    // shortest, a quarter up to an ordinary pause, rising evenly from there
    // to one and a half at a long quiet, and a little more for a longer
    // one. It has no step, so a pause a hair longer never turns a verdict.
    static double pauseEvidence(double seconds);
    // Log10 odds a sentence that is a whole short reply adds for a break.
    static constexpr double shortReplyEvidence = 2.0;

    // Whether a sentence whose words so far are `before` ends at a pause of
    // `pause` seconds after which `after` was said (at least one word, the
    // first two count). Words in the model's spelling, lower case. None
    // when a word is not in the model, or either side is empty.
    std::optional<bool> endsSentence(const std::vector<std::string>& before, const std::vector<std::string>& after,
                                     double pause) const;

private:
    // Log10 P(word | older newer); an empty history word is left out.
    double probability(const std::string& word, const std::string& newer, const std::string& older) const;
    bool knows(const std::string& word) const;

    ngram_model_s* model_;
    logmath_s* logmath_;
    const SphinxEnglishWords* english_;
};

// The mark that closes a sentence of `words` (the model's spelling): "?"
// for an English question (it opens with a question word, or with an
// auxiliary or modal and then a subject: "Is this the right number"), "."
// for anything else and in another language (`english` none).
std::string_view sphinxSentenceMark(const std::vector<std::string>& words, const SphinxEnglishWords* english);

// The words of written text as the model spells them: lower case, without
// the marks around them. Only the words after the text's last sentence end
// (its last "." "?" "!") when `lastSentence` is set.
std::vector<std::string> sphinxModelWords(std::string_view text, bool lastSentence);

// A language model file of its own, read on first use, for callers on any
// thread (one at a time).
class SphinxSentenceEndsFile {
public:
    SphinxSentenceEndsFile(std::string path, const SphinxEnglishWords* english = nullptr);
    ~SphinxSentenceEndsFile();
    SphinxSentenceEndsFile(const SphinxSentenceEndsFile&) = delete;
    SphinxSentenceEndsFile& operator=(const SphinxSentenceEndsFile&) = delete;

    // Reads the file now, when it was not read yet.
    void load();
    // As SphinxSentenceEnds::endsSentence; none when the file cannot be read.
    std::optional<bool> endsSentence(const std::vector<std::string>& before, const std::vector<std::string>& after,
                                     double pause);

private:
    const std::string path_;
    const SphinxEnglishWords* const english_;
    std::mutex mutex_;
    bool tried_ = false;
    logmath_s* logmath_ = nullptr;
    ngram_model_s* model_ = nullptr;
};

}  // namespace parlaro::sys
