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

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ngram_model_s;
struct logmath_s;

namespace parlaro::sys {

// Reads one language model; not safe for two threads at once (the model's
// lookups keep scratch state), so each user holds its own or a lock.
class SphinxSentenceEnds {
public:
    // Borrowed; both must outlive this.
    SphinxSentenceEnds(ngram_model_s* model, logmath_s* logmath);

    // The shortest pause that may end a sentence: a breath between words of
    // one sentence is shorter.
    static constexpr double shortestPause = 0.6;
    // The longest pause people make inside a sentence as often as between
    // two (after "I think", before a time, while they find a word).
    static constexpr double ordinaryPause = 1.5;
    // Log10 odds a pause of `seconds` adds for a break: none under the
    // shortest, a quarter up to an ordinary pause, one beyond it, and more
    // for a longer quiet.
    static double pauseEvidence(double seconds);

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
};

// The words of written text as the model spells them: lower case, without
// the marks around them. Only the words after the text's last sentence end
// (its last "." "?" "!") when `lastSentence` is set.
std::vector<std::string> sphinxModelWords(std::string_view text, bool lastSentence);

// A language model file of its own, read on first use, for callers on any
// thread (one at a time).
class SphinxSentenceEndsFile {
public:
    explicit SphinxSentenceEndsFile(std::string path);
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
    std::mutex mutex_;
    bool tried_ = false;
    logmath_s* logmath_ = nullptr;
    ngram_model_s* model_ = nullptr;
};

}  // namespace parlaro::sys
