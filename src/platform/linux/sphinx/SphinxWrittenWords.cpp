#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <pocketsphinx.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace parlaro::sys {

namespace {

// Seconds of silence between two words that end a sentence, when the
// request asks for punctuation: a speaker's pause, longer than a breath
// between words of one sentence.
constexpr double sentencePause = 0.6;

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

// The first letter in upper case ("go" -> "Go", "été" -> "Été").
std::string capitalized(const std::string& word)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(word.data());
    const auto length = static_cast<std::int32_t>(word.size());
    std::int32_t end = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, end, length, c);
    if (c < 0)
        return word;
    const UChar32 upper = u_toupper(c);
    if (upper == c)
        return word;
    std::uint8_t encoded[U8_MAX_LENGTH];
    std::int32_t size = 0;
    UBool failed = false;
    U8_APPEND(encoded, size, U8_MAX_LENGTH, upper, failed);
    if (failed)
        return word;
    return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size)) + word.substr(end);
}

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

}  // namespace

std::vector<std::string> sphinxWrittenWords(std::vector<std::string> words, bool english)
{
    if (!words.empty())
        words.front() = capitalized(words.front());
    if (english)
        for (auto& word : words)
            if (word == "i" || word.starts_with("i'"))
                word = capitalized(word);
    return words;
}

Transcription transcriptionOf(ps_decoder_t* decoder, const char* hypothesis, bool punctuate, bool english)
{
    return transcriptionOf(decoder, hypothesis, nullptr, punctuate, english);
}

Transcription transcriptionOf(ps_decoder_t* decoder, const char* hypothesis, ps_seg_t* segments, bool punctuate,
                              bool english)
{
    std::vector<std::string> words = wordsOf(hypothesis ? hypothesis : "");
    std::vector<std::optional<std::pair<int, int>>> frames;
    int frameRate = 0;
    if (punctuate && !words.empty()) {
        frames = wordFrames(segments ? std::exchange(segments, nullptr) : ps_seg_iter(decoder), words);
        frameRate = static_cast<int>(cmd_ln_int_r(ps_get_config(decoder), "-frate"));
    }
    if (segments)
        ps_seg_free(segments);
    if (punctuate)
        words = sphinxWrittenWords(std::move(words), english);
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            const auto& before = frames.empty() ? std::nullopt : frames[i - 1];
            const auto& after = frames.empty() ? std::nullopt : frames[i];
            const bool pause = before && after && frameRate > 0
                && double(after->first - before->second - 1) / frameRate >= sentencePause;
            if (pause) {
                text += '.';
                words[i] = capitalized(words[i]);
            }
            text += ' ';
        }
        text += words[i];
    }
    return makeTranscription(std::move(text), words);
}

}  // namespace parlaro::sys
