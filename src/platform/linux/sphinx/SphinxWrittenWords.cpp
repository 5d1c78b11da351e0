#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include "platform/linux/sphinx/SphinxEnglishWords.h"
#include "platform/linux/sphinx/SphinxSentenceEnds.h"

#include <pocketsphinx.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace parlaro::sys {

namespace {

// The words of a hypothesis, in order.
std::vector<std::string> wordsOf(const std::string& hypothesis)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < hypothesis.size()) {
        while (i < hypothesis.size() && hypothesis[i] == ' ')
            ++i;
        auto start = i;
        while (i < hypothesis.size() && hypothesis[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(hypothesis.substr(start, i - start));
    }
    return words;
}

// The decoder's segmentation gives the words at either side of a pause some
// of its quiet: a speaker's pause of 0.8-1.0 s shows as a gap of 0.5-0.65 s
// between them. A gap this much shorter than a sentence's pause is still
// looked at, but only the words decide there: the gap itself counts as
// evidence only from the full length on.
constexpr double segmentedQuietShortfall = 0.15;

// Where each word of the hypothesis lies in the decoder's segmentation, in
// frames; none for a word the segmentation does not show. Segments also
// hold silences and noises, and name a word's alternative pronunciations
// "word(2)".
std::vector<std::optional<std::pair<int, int>>> wordFrames(ps_seg_t* segments, const std::vector<std::string>& words)
{
    std::vector<std::optional<std::pair<int, int>>> frames(words.size());
    std::size_t next = 0;
    for (ps_seg_t* segment = segments; segment != nullptr; segment = ps_seg_next(segment)) {
        if (next >= words.size()) {
            ps_seg_free(segment);
            break;
        }
        std::string name = ps_seg_word(segment) ? ps_seg_word(segment) : "";
        if (auto open = name.find('('); open != std::string::npos && open > 0 && name.back() == ')')
            name.erase(open);
        if (name != words[next])
            continue;
        int start = 0;
        int end = 0;
        ps_seg_frames(segment, &start, &end);
        frames[next++] = std::pair{start, end};
    }
    return frames;
}

// Whether the pause before word `next` ends the sentence that began at word
// `begins`. The words after a pause decide it, so a live hypothesis leaves
// it open until two of them are heard: a sentence sent on while the key is
// held cannot be taken back when the next word turns it around. Where the
// model cannot tell, only a quiet longer than an ordinary pause ends one.
bool endsSentenceAt(const std::optional<SphinxSentenceEnds>& judge, const std::vector<std::string>& words,
                    std::size_t begins, std::size_t next, double pause, bool complete)
{
    if (!complete && next + 2 > words.size())
        return false;
    std::optional<bool> verdict;
    if (judge) {
        const std::vector<std::string> before(words.begin() + static_cast<std::ptrdiff_t>(begins),
                                              words.begin() + static_cast<std::ptrdiff_t>(next));
        const std::vector<std::string> after(words.begin() + static_cast<std::ptrdiff_t>(next),
                                             words.begin()
                                                 + static_cast<std::ptrdiff_t>(std::min(next + 2, words.size())));
        verdict = judge->endsSentence(before, after, pause);
    }
    return verdict.value_or(pause > SphinxSentenceEnds::ordinaryPause);
}

// Whether the live hypothesis before ended a sentence before word `next`
// between the same words (two on either side) as `words` does; the stop is
// added to `stops`, what this hypothesis leaves for the next.
bool seenBefore(const std::vector<std::string>& earlier, std::vector<std::string>& stops,
                const std::vector<std::string>& words, std::size_t next)
{
    std::string around;
    for (std::size_t i = next >= 2 ? next - 2 : 0; i < std::min(next + 2, words.size()); ++i)
        around += (i == next ? " | " : " ") + words[i];
    stops.push_back(around);
    return std::find(earlier.begin(), earlier.end(), around) != earlier.end();
}

}  // namespace

std::vector<std::string> sphinxWrittenWords(std::vector<std::string> words, bool english)
{
    if (!words.empty())
        words.front() = asSentenceStart(words.front());
    if (english)
        for (auto& word : words)
            if (capitalizedInEnglish(word))
                word = asSentenceStart(word);
    return words;
}

ngram_model_t* sphinxLanguageModel(ps_decoder_t* decoder)
{
    // The name the library gives that search; asking the decoder for the
    // current one leaks an iterator each time.
    return ps_get_lm(decoder, "_default");
}

Transcription transcriptionOf(ps_decoder_t* decoder, const char* hypothesis, bool punctuate, bool english,
                              bool complete, std::vector<std::string>* liveStops)
{
    return transcriptionOf(decoder, hypothesis, nullptr, punctuate, english, complete, liveStops);
}

Transcription transcriptionOf(ps_decoder_t* decoder, const char* hypothesis, ps_seg_t* segments, bool punctuate,
                              bool english, bool complete, std::vector<std::string>* liveStops)
{
    std::vector<std::string> words = wordsOf(hypothesis ? hypothesis : "");
    std::vector<std::optional<std::pair<int, int>>> frames;
    int frameRate = 0;
    std::optional<SphinxSentenceEnds> judge;
    if (punctuate && !words.empty()) {
        frames = wordFrames(segments ? std::exchange(segments, nullptr) : ps_seg_iter(decoder), words);
        frameRate = static_cast<int>(cmd_ln_int_r(ps_get_config(decoder), "-frate"));
        if (ngram_model_t* model = sphinxLanguageModel(decoder))
            judge.emplace(model, ps_get_logmath(decoder), english ? &SphinxEnglishWords::shared() : nullptr);
    }
    if (segments)
        ps_seg_free(segments);
    const std::vector<std::string> spoken = words;
    if (punctuate)
        words = sphinxWrittenWords(std::move(words), english);
    std::string text;
    std::size_t sentenceBegins = 0;
    std::vector<std::string> stops;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            const auto& before = frames.empty() ? std::nullopt : frames[i - 1];
            const auto& after = frames.empty() ? std::nullopt : frames[i];
            const double pause =
                before && after && frameRate > 0 ? double(after->first - before->second - 1) / frameRate : 0.0;
            if (pause + segmentedQuietShortfall >= SphinxSentenceEnds::shortestPause
                && endsSentenceAt(judge, spoken, sentenceBegins, i, pause, complete)
                && (complete || !liveStops || seenBefore(*liveStops, stops, spoken, i))) {
                const std::vector<std::string> sentence(spoken.begin() + static_cast<std::ptrdiff_t>(sentenceBegins),
                                                        spoken.begin() + static_cast<std::ptrdiff_t>(i));
                text += sphinxSentenceMark(sentence, english ? &SphinxEnglishWords::shared() : nullptr);
                words[i] = asSentenceStart(words[i]);
                sentenceBegins = i;
            }
            text += ' ';
        }
        text += words[i];
    }
    if (!complete && liveStops)
        *liveStops = std::move(stops);
    return makeTranscription(std::move(text), words);
}

}  // namespace parlaro::sys
