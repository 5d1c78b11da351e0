#include "platform/linux/sphinx/SphinxSentenceEnds.h"

#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxEnglishWords.h"

#include <sphinxbase/logmath.h>
#include <sphinxbase/ngram_model.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace parlaro::sys {

namespace {

constexpr const char* sentenceStart = "<s>";
constexpr const char* sentenceEnd = "</s>";

bool isSentenceMark(UChar32 c)
{
    return c == '.' || c == '?' || c == '!' || c == 0x3002 || c == 0xFF1F || c == 0xFF01 || c == 0x2026;
}

// A word's letters in lower case, without the marks around it; the
// apostrophe inside "i'm" stays, as the model spells it.
std::string modelSpelling(std::string_view word)
{
    std::string result;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(word.data());
    const auto length = static_cast<std::int32_t>(word.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            continue;
        if (!u_isalnum(c) && c != '\'' && c != '-')
            continue;
        const UChar32 lower = u_tolower(c);
        std::uint8_t encoded[U8_MAX_LENGTH];
        std::int32_t size = 0;
        UBool failed = false;
        U8_APPEND(encoded, size, U8_MAX_LENGTH, lower, failed);
        if (!failed)
            result.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
    }
    while (!result.empty() && (result.back() == '\'' || result.back() == '-'))
        result.pop_back();
    while (!result.empty() && (result.front() == '\'' || result.front() == '-'))
        result.erase(result.begin());
    return result;
}

// Whether `words` are whole short replies, one after another ("Yes thank
// you").
bool shortReplies(const std::vector<std::string>& words, const SphinxEnglishWords& english)
{
    // reached[i]: the first i words are whole replies.
    std::vector<bool> reached(words.size() + 1, false);
    reached[0] = true;
    for (std::size_t at = 0; at < words.size(); ++at) {
        if (!reached[at])
            continue;
        for (const auto& reply : english.shortReplies)
            if (at + reply.size() <= words.size()
                && std::equal(reply.begin(), reply.end(), words.begin() + static_cast<std::ptrdiff_t>(at)))
                reached[at + reply.size()] = true;
    }
    return !words.empty() && reached.back();
}

// Whether the sentence `words` opens with a question: a question word not
// followed by a subject of its own ("where is it", not "when you arrive"),
// or an auxiliary and then a subject ("is this", "could you").
bool opensQuestion(const std::vector<std::string>& words, const SphinxEnglishWords& english)
{
    if (words.empty())
        return false;
    if (english.questionWords.contains(words[0]))
        return words.size() == 1 || !english.subordinators.contains(words[0]) || english.auxiliaries.contains(words[1]);
    // A name is a subject too ("is Friday possible").
    return words.size() >= 2 && english.auxiliaries.contains(words[0])
        && (english.subjects.contains(words[1]) || capitalizedInEnglish(words[1]));
}

// Whether `words` are a subordinate clause that opens the sentence and no
// main clause after it yet: the main clause shows as a subject that only a
// clause's subject can be ("we", "they"...), or any subject followed by an
// auxiliary, after the clause's own first words ("if you have time we can").
bool openClauseOnly(const std::vector<std::string>& words, const SphinxEnglishWords& english)
{
    if (words.empty() || !english.subordinators.contains(words[0]) || opensQuestion(words, english))
        return false;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (english.clauseSubjects.contains(words[i]))
            return false;
        if (english.subjects.contains(words[i]) && i + 1 < words.size() && english.auxiliaries.contains(words[i + 1]))
            return false;
    }
    return true;
}

}  // namespace

SphinxSentenceEnds::SphinxSentenceEnds(ngram_model_s* model, logmath_s* logmath, const SphinxEnglishWords* english)
    : model_(model), logmath_(logmath), english_(english)
{
}

double SphinxSentenceEnds::pauseEvidence(double seconds)
{
    if (!(seconds >= shortestPause))
        return 0.0;
    // Sentences end at pauses far more often than the written text the
    // model learnt from ends them between the same words, so a pause adds
    // a little, less than a factor of two: it tips words that could read
    // either way, never words that carry the sentence on.
    constexpr double ordinary = 0.25;
    constexpr double atLongQuiet = 1.5;
    if (seconds <= ordinaryPause)
        return ordinary;
    if (seconds <= longQuiet)
        return ordinary + (atLongQuiet - ordinary) * (seconds - ordinaryPause) / (longQuiet - ordinaryPause);
    // Beyond another second the evidence grows no further.
    return atLongQuiet + 0.5 * (std::min(seconds, longQuiet + 1.0) - longQuiet);
}

bool SphinxSentenceEnds::knows(const std::string& word) const
{
    const std::int32_t id = ngram_wid(model_, word.c_str());
    return id != NGRAM_INVALID_WID && id != ngram_unknown_wid(model_);
}

double SphinxSentenceEnds::probability(const std::string& word, const std::string& newer,
                                       const std::string& older) const
{
    const std::int32_t score = older.empty() ? ngram_probv(model_, word.c_str(), newer.c_str(), nullptr)
                                             : ngram_probv(model_, word.c_str(), newer.c_str(), older.c_str(), nullptr);
    return logmath_log_to_log10(logmath_, score);
}

std::optional<bool> SphinxSentenceEnds::endsSentence(const std::vector<std::string>& before,
                                                     const std::vector<std::string>& after, double pause) const
{
    if (!model_ || !logmath_ || before.empty() || after.empty())
        return std::nullopt;
    const std::string& last = before.back();
    const std::string older = before.size() >= 2 ? before[before.size() - 2] : sentenceStart;
    const std::string& first = after.front();
    const std::string second = after.size() >= 2 ? after[1] : std::string();
    if (english_ && pause < longQuiet) {
        // "The room is ready | and you can check in": a stop before the
        // word that joins a sentence's two halves splits its meaning, and
        // the model, which learnt from speech too, starts sentences with it
        // often.
        if (english_->joining.contains(first))
            return false;
        if (openClauseOnly(before, *english_))
            return false;
        // "We can talk about the plan | after lunch", "we should book the
        // tickets | before the prices go up": a clause or phrase opened by
        // a subordinator after a pause most often finishes the sentence
        // before it; one after a short reply, or a question ("when can
        // we meet"), may begin its own.
        if (english_->subordinators.contains(first) && !opensQuestion(after, *english_)
            && !shortReplies(before, *english_))
            return false;
    }
    for (const std::string* word : {&last, &first, &second})
        if (!word->empty() && !knows(*word))
            return std::nullopt;
    if (before.size() >= 2 && !knows(older))
        return std::nullopt;

    double going = probability(first, last, older);
    double breaking = probability(sentenceEnd, last, older) + probability(first, sentenceStart, {});
    if (!second.empty()) {
        going += probability(second, first, last);
        breaking += probability(second, first, sentenceStart);
    }
    // "Yes of course | we can do that" reads as going on to the model, which
    // rarely saw the reply as a sentence of its own; "Thank you | for
    // calling" still does.
    if (english_ && shortReplies(before, *english_))
        breaking += shortReplyEvidence;
    return breaking + pauseEvidence(pause) > going;
}

std::string_view sphinxSentenceMark(const std::vector<std::string>& words, const SphinxEnglishWords* english)
{
    return english && opensQuestion(words, *english) ? "?" : ".";
}

std::vector<std::string> sphinxModelWords(std::string_view text, bool lastSentence)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\t'))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && text[at] != ' ' && text[at] != '\n' && text[at] != '\t')
            ++at;
        if (at == start)
            break;
        const std::string_view token = text.substr(start, at - start);
        std::string word = modelSpelling(token);
        if (!word.empty())
            words.push_back(std::move(word));
        // A mark at the token's end closes the sentence.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(token.data());
        std::int32_t end = static_cast<std::int32_t>(token.size());
        UChar32 c = 0;
        U8_PREV(bytes, 0, end, c);
        if (lastSentence && c >= 0 && isSentenceMark(c))
            words.clear();
    }
    return words;
}

SphinxSentenceEndsFile::SphinxSentenceEndsFile(std::string path, const SphinxEnglishWords* english)
    : path_(std::move(path)), english_(english)
{
}

SphinxSentenceEndsFile::~SphinxSentenceEndsFile()
{
    if (model_)
        ngram_model_free(model_);
    if (logmath_)
        logmath_free(logmath_);
}

void SphinxSentenceEndsFile::load()
{
    std::lock_guard lock(mutex_);
    if (tried_)
        return;
    tried_ = true;
    // The decoders count in the same base, so the scores read alike.
    logmath_ = logmath_init(1.0001, 0, 0);
    if (logmath_)
        model_ = ngram_model_read(nullptr, path_.c_str(), NGRAM_AUTO, logmath_);
}

std::optional<bool> SphinxSentenceEndsFile::endsSentence(const std::vector<std::string>& before,
                                                         const std::vector<std::string>& after, double pause)
{
    load();
    std::lock_guard lock(mutex_);
    if (!model_)
        return std::nullopt;
    return SphinxSentenceEnds(model_, logmath_, english_).endsSentence(before, after, pause);
}

}  // namespace parlaro::sys
