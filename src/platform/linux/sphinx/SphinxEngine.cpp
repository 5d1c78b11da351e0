#include "platform/linux/sphinx/SphinxEngine.h"

#include "platform/linux/sphinx/SphinxEnglishWords.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include "runtime/Log.h"
#include "runtime/Runtime.h"

#include <pocketsphinx.h>

#include <exception>
#include <string>
#include <utility>

namespace parlaro::sys {

namespace {

constexpr const char* errorDomain = "Pocketsphinx";

}  // namespace

SphinxEngine::SphinxEngine(SphinxModel model, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                           std::size_t partialSamples, std::shared_ptr<SphinxChannelFile> channels)
    : model_(std::move(model)), english_(model_.locale == "en" || model_.locale.starts_with("en-")),
      counts_(std::move(counts)), channels_(std::move(channels)),
      sentenceEnds_(model_.languageModel, english_ ? &SphinxEnglishWords::shared() : nullptr),
      pool_(model_, counts_, channels_), following_(pool_, english_), learning_(pool_, following_, counts_),
      jobs_([this](const auto& task, const auto& failure) { failed(task, failure); }),
      pacing_(jobs_, counts_, partialSamples, english_)
{
    if (english_)
        jobs_.enqueue(nullptr, [] {
            try {
                readEnglishWordList();
            } catch (...) {
                // Out of memory: the first word that needs it reads it again.
            }
        });
}

SphinxEngine::~SphinxEngine()
{
    jobs_.stop();
}

std::optional<std::string> SphinxEngine::continuation(const std::string& before, const std::string& after, double pause)
{
    const auto going = sphinxModelWords(before, true);
    if (going.empty())
        return std::nullopt;
    // Where the model cannot tell (a word it does not know), the sentence
    // goes on over an ordinary pause, as it does where the words leave it
    // open.
    const auto ends = sentenceEnds_.endsSentence(going, sphinxModelWords(after, false), pause);
    if (ends.value_or(pause > SphinxSentenceEnds::ordinaryPause))
        return std::nullopt;
    std::string written = withinSentence(after, english_);
    // A sentence `after` ended began before the pause, and what it is (a
    // question or not) is read from its first words: "Could you call me
    // back | in about ten minutes?".
    for (auto stop = written.find_first_of(".?"); stop != std::string::npos;
         stop = written.find_first_of(".?", stop + 1)) {
        if (stop + 1 < written.size() && written[stop + 1] != ' ')
            continue;
        auto sentence = going;
        const auto rest = sphinxModelWords(std::string_view(written).substr(0, stop), false);
        sentence.insert(sentence.end(), rest.begin(), rest.end());
        written.replace(stop, 1, sphinxSentenceMark(sentence, english_ ? &SphinxEnglishWords::shared() : nullptr));
        break;
    }
    return written;
}

std::string SphinxEngine::closingMark(const std::string& text) const
{
    return std::string(
        sphinxSentenceMark(sphinxModelWords(text, true), english_ ? &SphinxEnglishWords::shared() : nullptr));
}

void SphinxEngine::begin(const std::shared_ptr<SphinxTaskState>& task)
{
    jobs_.enqueue(task, [this, task] {
        if (task->cancelled.load())
            return;
        task->decoder = pool_.take(task->source);
        if (task->decoder) {
            const auto& known = pool_.learningOf(task->decoder);
            task->learning = !known.settled;
            task->withoutEstimate = task->learning && !known.kept;
            if (task->learning)
                task->earlier = known.spoken;
            task->atStart = ChannelEstimate::of(task->decoder);
            task->framesReached = pool_.framesReached(task->decoder);
        }
        if (!task->decoder || ps_start_utt(task->decoder) < 0) {
            finish(task, std::nullopt,
                   DomainError(errorDomain, 1, "The speech model " + model_.locale + " could not be loaded"));
            return;
        }
    });
}

void SphinxEngine::audio(const std::shared_ptr<SphinxTaskState>& task, std::vector<std::int16_t> samples)
{
    jobs_.enqueue(task, [this, task, samples = std::move(samples)] {
        if (task->cancelled.load() || task->done || !task->decoder)
            return;
        if (task->learning && !task->heardTooLong) {
            if (task->heard.size() + samples.size() > SphinxTaskState::longestKept) {
                task->heardTooLong = true;
                task->heard = {};
            } else {
                task->heard.insert(task->heard.end(), samples.begin(), samples.end());
            }
        }
        if (ps_process_raw(task->decoder, samples.data(), samples.size(), FALSE, FALSE) < 0) {
            finish(task, std::nullopt, DomainError(errorDomain, 2, "The speech decoder failed"));
            return;
        }
        if ((task->withoutEstimate || !task->earlier.empty()) && !task->heardTooLong)
            following_.follow(*task, samples);
        pacing_.searchAheadIfQuiet(*task, samples);
        if (auto text = pacing_.partial(*task, samples.size()))
            post(task, SpeechRecognitionResult{std::move(*text), false}, std::nullopt);
    });
}

void SphinxEngine::end(const std::shared_ptr<SphinxTaskState>& task)
{
    task->finishing = true;
    jobs_.enqueue(task, [this, task] {
        if (task->done || !task->decoder) {
            // Nothing more comes: it answered already, or never will.
            task->finishing = false;
            return;
        }
        // A request given up on after its audio ended (its deadline
        // passed on a computer too busy for this thread) still teaches
        // what it heard of its input, but is not searched again.
        const bool wanted = !task->cancelled.load();
        const bool ended = ps_end_utt(task->decoder) >= 0;
        if (ended)
            pool_.ended(task->decoder);
        if (!ended || !learning_.endUtterance(*task, wanted)) {
            finish(task, std::nullopt, DomainError(errorDomain, 2, "The speech decoder failed"));
            return;
        }
        auto learnt = task->taught ? task->taught
            : task->judged         ? ChannelEstimate::current(task->decoder)
                                   : std::nullopt;
        if (learnt && !task->taught)
            learnt->sound = pool_.learningOf(task->decoder).sound;
        pool_.learningOf(task->decoder).carryOver(task->decoder, std::move(task->chosenAt));
        // Nothing was said since the words were searched: the search
        // at the end would find them again.
        if (!task->chosen && !task->decodedAgain && task->searchedAhead && task->ahead.stands()) {
            task->chosen = std::move(task->searchedAhead);
            ++counts_->keptAhead;
        }
        if (wanted && !task->chosen)
            task->chosen = pacing_.bestPath(*task);
        std::int32_t score = 0;
        const char* hypothesis = wanted && !task->chosen ? ps_get_hyp(task->decoder, &score) : nullptr;
        auto text = task->chosen ? std::move(*task->chosen)
                                 : transcriptionOf(task->decoder, hypothesis, task->punctuate, english_, true);
        finish(task, SpeechRecognitionResult{std::move(text), true}, std::nullopt);
        // After the text is on its way: the file is for the next run.
        if (learnt && channels_ && !task->source.empty())
            channels_->keep(model_.locale, task->source, *learnt);
    });
}

void SphinxEngine::release(const std::shared_ptr<SphinxTaskState>& task)
{
    jobs_.enqueue(task, [this, task] { returnDecoder(*task); });
}

// A job that threw ends its task with the decoder's error, unless the
// task already answered for the last time; its decoder starts afresh,
// since where it stopped is unknown. The program and later tasks go on.
void SphinxEngine::failed(const std::shared_ptr<SphinxTaskState>& task, const std::exception_ptr& failure)
{
    std::string what = "unknown";
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& exception) {
        what = exception.what();
    } catch (...) {
    }
    if (!std::exchange(failureSaid_, true))
        rt::logMessage("speech recognition failed in the model " + model_.locale + " (" + what
                       + "); the utterance it decoded is lost");
    if (task->decoder)
        pool_.forget(task->decoder);
    if (task->done) {
        returnDecoder(*task);
        return;
    }
    following_.stop(*task);
    if (task->decoder)
        ps_end_utt(task->decoder);
    finish(task, std::nullopt, DomainError(errorDomain, 2, "The speech decoder failed"));
}

void SphinxEngine::returnDecoder(SphinxTaskState& task)
{
    following_.stop(task);
    if (!task.decoder)
        return;
    if (!task.done)
        ps_end_utt(task.decoder);
    pool_.giveBack(task.decoder);
    task.decoder = nullptr;
    task.done = true;
}

void SphinxEngine::finish(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                          std::optional<DomainError> error)
{
    if (task->decoder) {
        pool_.giveBack(task->decoder);
        task->decoder = nullptr;
    }
    task->done = true;
    post(task, std::move(result), std::move(error));
    // After the answer: a follower still busy holds it back no longer.
    following_.stop(*task);
    // Read here, while nobody waits, rather than on the main actor when
    // the first press that paused asks.
    sentenceEnds_.load();
}

void SphinxEngine::post(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                        std::optional<DomainError> error)
{
    if (error || (result && result->isFinal))
        task->finishing = false;
    rt::postToMain([task, result = std::move(result), error = std::move(error)] {
        if (!task->cancelled.load())
            task->handler(result, error);
    });
}

}  // namespace parlaro::sys
