#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxFollower.h"
#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxSearchAhead.h"
#include "platform/linux/sphinx/SphinxSentenceEnds.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include "runtime/Log.h"
#include "runtime/Runtime.h"

#include <pocketsphinx.h>
#include <pocketsphinx/ps_lattice.h>
#include <pocketsphinx/ps_search.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <iterator>
#include <limits>
#include <numeric>
#include <pthread.h>
#include <span>
#include <stdexcept>
#include <thread>
#include <utility>

// The library exports these and answers its own searches with them, but
// leaves them out of its headers.
extern "C" {
char const* ps_lattice_hyp(ps_lattice_t* dag, ps_latlink_t* link);
ps_seg_t* ps_lattice_seg_iter(ps_lattice_t* dag, ps_latlink_t* link, float32 lwf);
}

namespace parlaro::sys {

namespace fs = std::filesystem;

namespace {

constexpr double nativeRate = 16000.0;
constexpr const char* errorDomain = "Pocketsphinx";

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "en-us" -> "en-US".
std::string localeOfModel(const std::string& name)
{
    auto dash = name.find('-');
    if (dash == std::string::npos)
        return lowercase(name);
    std::string region = name.substr(dash + 1);
    std::transform(region.begin(), region.end(), region.begin(), [](unsigned char c) { return std::toupper(c); });
    return lowercase(name.substr(0, dash)) + "-" + region;
}

struct LocaleParts {
    std::string language;
    std::string region;
};

// Language and region of a BCP 47 or POSIX identifier; the script is
// irrelevant to the models.
LocaleParts partsOf(const std::string& identifier)
{
    std::string tag = identifier.substr(0, identifier.find('@'));
    std::replace(tag.begin(), tag.end(), '_', '-');
    LocaleParts parts;
    std::size_t start = 0;
    bool first = true;
    while (start <= tag.size()) {
        auto end = tag.find('-', start);
        if (end == std::string::npos)
            end = tag.size();
        std::string subtag = lowercase(tag.substr(start, end - start));
        if (first)
            parts.language = subtag;
        else if (parts.region.empty()
                 && ((subtag.size() == 2 && std::isalpha(static_cast<unsigned char>(subtag[0])))
                     || (subtag.size() == 3 && std::isdigit(static_cast<unsigned char>(subtag[0])))))
            parts.region = subtag;
        first = false;
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::vector<SphinxModel> installedSphinxModels(const std::string& root)
{
    std::vector<SphinxModel> models;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        if (!entry.is_directory(error))
            continue;
        std::string name = entry.path().filename().string();
        SphinxModel model{localeOfModel(name), (entry.path() / name).string(),
                          (entry.path() / (name + ".lm.bin")).string(),
                          (entry.path() / ("cmudict-" + name + ".dict")).string()};
        if (fs::is_directory(model.acousticModel, error) && fs::is_regular_file(model.languageModel, error)
            && fs::is_regular_file(model.dictionary, error))
            models.push_back(std::move(model));
    }
    std::sort(models.begin(), models.end(), [](const auto& a, const auto& b) { return a.locale < b.locale; });
    return models;
}

// Engine.

ps_decoder_t* loadSphinxDecoder(const SphinxModel& model)
{
    // No flat-lexicon search at the end of each utterance: it held every
    // final text back by about a twentieth of the utterance (0.15-0.2 s of
    // a three-second reply, all of it after the release of a press), and on
    // the recordings the benchmarks decode it got fewer words right, not
    // more.
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(), "-lm", model.languageModel.c_str(),
                    "-dict", model.dictionary.c_str(), "-fwdflat", "no", "-logfn", "/dev/null", nullptr);
    if (!config)
        return nullptr;
    // The decoder keeps its own reference to the configuration.
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    return decoder;
}

// The worker side of one task. Its decoder and text are touched only on the
// worker thread; the handler only on the main actor.
struct SphinxTaskState {
    SpeechRecognizer::ResultHandler handler;
    bool reportPartials = true;
    bool punctuate = false;
    std::atomic<bool> cancelled{false};
    // From the end of the audio until the last answer is on its way.
    std::atomic<bool> finishing{false};

    ps_decoder_t* decoder = nullptr;
    bool done = false;
    std::string lastHypothesis;
    // Samples decoded since the hypothesis was last looked at.
    std::size_t sinceHypothesis = 0;
    // Where the audio comes from (the request's audioSource).
    std::string source;
    // The decoder is still learning the source's channel (see
    // SphinxEngine::endUtterance): the utterance's audio is kept, and the
    // estimate it began with.
    bool learning = false;
    ChannelEstimate atStart;
    std::vector<std::int16_t> heard;
    // Past the length an utterance is kept for.
    bool heardTooLong = false;
    // What the decoder normalises by is worth keeping for the next run.
    bool judged = true;
    // What the utterance taught of a source the decoder had no estimate
    // of, kept for the next run in place of what it normalises by now.
    std::optional<ChannelMean> taught;
    // Without an estimate of the source: more decoders follow the
    // utterance as it is spoken (see SphinxEngine::follow), from the
    // estimates the first `followedFrom` samples gave.
    bool withoutEstimate = false;
    std::vector<SphinxFollower*> followers;
    std::size_t followedFrom = 0;
    // The final text when it is not the decoder's last hypothesis (see
    // SphinxEngine::decodeAtLikeliest).
    std::optional<Transcription> chosen;
    // The utterance was decoded again at its end (see
    // SphinxEngine::endUtterance): the decoder's text is that decoding's.
    bool decodedAgain = false;
    // The words searched once the speaker went quiet (see SphinxSearchAhead).
    SphinxSearchAhead ahead{searchAheadQuiet, searchAheadVoice};
    std::optional<Transcription> searchedAhead;
    // Seconds the last search ahead took.
    double searchAheadTook = 0;

    // Quiet before the search runs ahead: a speaker who stops for a fifth
    // of a second has most likely said the sentence, and a caption commits
    // at a pause of 0.3 s. A shorter quiet (a few hundredths, to catch a
    // key let go a tenth of a second after the last word) searched so often
    // inside words that the searches thrown away cost a press as much as
    // they saved: on a dense ten-second reply later presses spoke no sooner.
    static constexpr std::size_t searchAheadQuiet = static_cast<std::size_t>(0.2 * nativeRate);
    // What the session counts as voice for its own pause (1% of full scale).
    static constexpr std::int16_t searchAheadVoice = 328;
    // A search ahead thrown away keeps the decoder from the audio as long as
    // it took, which the release then waits for; one no quicker than this
    // saves less than it risks (on a busy computer), and the task's later
    // quiets are left to the search at the end.
    static constexpr double slowestSearchAhead = 0.08;
};

// One model: a worker thread that runs every decoding step in order and a
// pool of loaded decoders. Nothing the worker holds owns the engine, so the
// engine is never released (and its thread joined) on the worker itself.
class SphinxEngine {
public:
    SphinxEngine(SphinxModel model, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                 std::size_t partialSamples, std::shared_ptr<SphinxChannelFile> channels)
        : model_(std::move(model)), english_(model_.locale == "en" || model_.locale.starts_with("en-")),
          counts_(std::move(counts)), partialSamples_(partialSamples), channels_(std::move(channels)),
          sentenceEnds_(model_.languageModel)
    {
    }
    ~SphinxEngine()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
        // Decoders still lent to tasks are freed too: no job runs any more,
        // here or on a follower's thread, which drops what it was handed.
        for (auto& entry : followerOf_)
            entry.second->stop();
        followerOf_.clear();
        for (auto* decoder : decoders_)
            ps_free(decoder);
        if (measuring_)
            fe_free(measuring_);
    }
    SphinxEngine(const SphinxEngine&) = delete;
    SphinxEngine& operator=(const SphinxEngine&) = delete;

    const SphinxModel& model() const { return model_; }

    // The decoders' models are theirs to touch, on their threads; a join
    // asked for on the main actor reads a copy of its own.
    std::optional<std::string> continuation(const std::string& before, const std::string& after, double pause)
    {
        const auto ends =
            sentenceEnds_.endsSentence(sphinxModelWords(before, true), sphinxModelWords(after, false), pause);
        if (!ends || *ends)
            return std::nullopt;
        return withinSentence(after, english_);
    }

    void begin(const std::shared_ptr<SphinxTaskState>& task)
    {
        enqueue(task, [this, task] {
            if (task->cancelled.load())
                return;
            task->decoder = takeDecoder(task->source);
            if (task->decoder) {
                task->learning = !heard_[task->decoder].settled;
                task->withoutEstimate = task->learning && !heard_[task->decoder].kept;
                task->atStart = ChannelEstimate::of(task->decoder);
            }
            if (!task->decoder || ps_start_utt(task->decoder) < 0) {
                finish(task, std::nullopt,
                       DomainError(errorDomain, 1, "The speech model " + model_.locale + " could not be loaded"));
                return;
            }
        });
    }

    void audio(const std::shared_ptr<SphinxTaskState>& task, std::vector<std::int16_t> samples)
    {
        enqueue(task, [this, task, samples = std::move(samples)] {
            if (task->cancelled.load() || task->done || !task->decoder)
                return;
            if (task->learning && !task->heardTooLong) {
                if (task->heard.size() + samples.size() > longestKept) {
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
            if (task->withoutEstimate && !task->heardTooLong)
                follow(*task, samples);
            searchAheadIfQuiet(*task, samples);
            if (!task->reportPartials)
                return;
            // Each look at the hypothesis wakes the main actor with a new
            // live text; a few a second read as continuous, while one per
            // buffer costs the whole program for nothing. Until the first
            // words show, every buffer is looked at, so they show at once.
            task->sinceHypothesis += samples.size();
            if (!task->lastHypothesis.empty() && task->sinceHypothesis < partialSamples_)
                return;
            task->sinceHypothesis = 0;
            std::int32_t score = 0;
            const char* hypothesis = ps_get_hyp(task->decoder, &score);
            if (!hypothesis || !*hypothesis || task->lastHypothesis == hypothesis)
                return;
            task->lastHypothesis = hypothesis;
            post(task,
                 SpeechRecognitionResult{transcriptionOf(task->decoder, hypothesis, task->punctuate, english_, false),
                                         false},
                 std::nullopt);
        });
    }

    void end(const std::shared_ptr<SphinxTaskState>& task)
    {
        task->finishing = true;
        enqueue(task, [this, task] {
            if (task->done || !task->decoder) {
                // Nothing more comes: it answered already, or never will.
                task->finishing = false;
                return;
            }
            // A request given up on after its audio ended (its deadline
            // passed on a computer too busy for this thread) still teaches
            // what it heard of its input, but is not searched again.
            const bool wanted = !task->cancelled.load();
            if (ps_end_utt(task->decoder) < 0 || !endUtterance(*task, wanted)) {
                finish(task, std::nullopt, DomainError(errorDomain, 2, "The speech decoder failed"));
                return;
            }
            auto learnt = task->taught ? task->taught
                : task->judged         ? ChannelEstimate::current(task->decoder)
                                       : std::nullopt;
            if (learnt && !task->taught)
                learnt->sound = heard_[task->decoder].sound;
            // Nothing was said since the words were searched: the search
            // at the end would find them again.
            if (!task->chosen && !task->decodedAgain && task->searchedAhead && task->ahead.stands()) {
                task->chosen = std::move(task->searchedAhead);
                ++counts_->keptAhead;
            }
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

    // Gives the task's decoder back to the pool once the worker reaches it.
    void release(const std::shared_ptr<SphinxTaskState>& task)
    {
        enqueue(task, [this, task] { returnDecoder(*task); });
    }

private:
    // The decoder normalises its input by a running estimate of the
    // channel, learnt from what it decoded before. A decoder new to this
    // source (just loaded, or last used on the other side of the call)
    // would hear it with another channel's estimate, which costs many of
    // its words: most of all in a reply that begins with a short phrase and
    // a pause. So it starts the source from what an earlier run learnt
    // about it, when one did (see takeDecoder). The first utterance of a
    // source with no such start is decoded again whole before its final
    // text where what it taught moved the estimate (see
    // decodeAtLikeliest), and what it taught then stands for the next
    // utterance as a kept estimate would. A kept estimate is settled by the
    // first utterance long enough to judge it, which is decoded again only
    // where the source sounds otherwise: a wrong sentence spoken into a
    // call costs more than a late one, and this happens in the first reply
    // or two of an input at most.
    //
    // While it learns, the decoder's sums hold the source's own frames
    // alone, so that at the end of an utterance its mean is what the
    // source taught so far.
    bool endUtterance(SphinxTaskState& task, bool searchAgain)
    {
        const auto heard = std::exchange(task.heard, {});
        const auto learnt = ChannelEstimate::learnt(task.decoder);
        auto& known = heard_[task.decoder];
        if (!task.learning || !learnt)
            return true;
        const bool withoutEstimate = !known.kept;
        const auto lesson = known.learnFrom(task.decoder, task.source, *learnt, heard, task.atStart.mean());
        if (!lesson.judged) {
            task.judged = false;
            return true;
        }
        bool decoded = true;
        if (lesson.again && searchAgain && !task.heardTooLong) {
            ++counts_->decodedAgain;
            task.decodedAgain = true;
            // What the utterance taught is counted once.
            const auto after = ChannelEstimate::of(task.decoder);
            const bool atEnd = !withoutEstimate || !followed(task);
            if (atEnd)
                ++counts_->decodedAtEnd;
            decoded = !withoutEstimate ? decode(task.decoder, heard)
                : !atEnd               ? likeliestFollowed(task)
                                       : decodeAtLikeliest(task, heard, learnt->mean);
            after.restore(task.decoder);
        }
        // The next utterance's frames alone, to judge what this one taught.
        if (withoutEstimate) {
            task.taught = known.kept;
            ChannelEstimate::learnAnew(task.decoder, learnt->mean);
        }
        return decoded;
    }

    // Searches the utterance so far once the speaker went quiet, as the end
    // of the audio would, so that the release finds its final text ready.
    // The first utterance of a source without an estimate is decoded again
    // at the end anyway (so is a later one whose channel moved, and then
    // this search is not used), and a decoder behind the audio searches
    // nothing yet: the next buffer brings the quiet again.
    void searchAheadIfQuiet(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
    {
        if (!task.ahead.heard(samples) || task.withoutEstimate || task.cancelled.load()
            || task.searchAheadTook > SphinxTaskState::slowestSearchAhead || audioWaiting(task))
            return;
        task.ahead.searched();
        task.searchedAhead.reset();
        const auto began = std::chrono::steady_clock::now();
        struct Timed {
            SphinxTaskState& task;
            std::chrono::steady_clock::time_point began;
            ~Timed()
            {
                task.searchAheadTook = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
            }
        } timed{task, began};
        // The lattice of the frames decoded so far, searched as the decoder
        // searches it at the end of an utterance.
        ps_lattice_t* lattice = ps_get_lattice(task.decoder);
        // The name the library gives the search it sets up from "-lm";
        // asking it for the current one leaks an iterator each time.
        ngram_model_t* model = ps_get_lm(task.decoder, "_default");
        if (!lattice || !model)
            return;
        cmd_ln_t* config = ps_get_config(task.decoder);
        const auto weight = static_cast<float32>(cmd_ln_float_r(config, "-bestpathlw") / cmd_ln_float_r(config, "-lw"));
        const auto scale = static_cast<float32>(1.0 / cmd_ln_float_r(config, "-ascale"));
        ps_latlink_t* last = ps_lattice_bestpath(lattice, model, weight, scale);
        if (!last)
            return;
        const char* hypothesis = ps_lattice_hyp(lattice, last);
        ++counts_->searchesAhead;
        task.searchedAhead = transcriptionOf(task.decoder, hypothesis,
                                             task.punctuate ? ps_lattice_seg_iter(lattice, last, weight) : nullptr,
                                             task.punctuate, english_, true);
    }

    // More audio of the task waits in the queue.
    bool audioWaiting(const SphinxTaskState& task)
    {
        std::lock_guard lock(mutex_);
        return std::any_of(jobs_.begin(), jobs_.end(), [&](const Job& job) { return job.task.get() == &task; });
    }

    // The first utterance of a source without an estimate is decoded again
    // at what its speech says of the channel (see decodeAtLikeliest); to
    // leave only the last search to the end of the audio, two more decoders
    // do that while it is spoken, one at each estimate, each on a thread of
    // its own (see SphinxFollower). Once 2 s are heard they start at the
    // estimates the speech so far gives, catch up and follow; each time the
    // utterance has doubled, one whose estimate moved starts again from
    // what all of it gives by then, so that they stand on at least half of
    // the utterance, and cost at most about twice its decoding each while
    // it is spoken.
    void follow(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
    {
        const auto goOn = [&] {
            if (task.followers.empty())
                return;
            const auto shared = std::make_shared<const std::vector<std::int16_t>>(samples);
            for (auto* follower : task.followers)
                follower->hear(shared);
        };
        std::size_t due = std::max(firstFollowed, 2 * task.followedFrom);
        if (task.heard.size() < due) {
            goOn();
            return;
        }
        while (2 * due <= task.heard.size())
            due *= 2;
        task.followedFrom = due;
        while (task.followers.size() < followers) {
            auto* decoder = spareDecoder();
            if (!decoder) {
                stopFollowing(task);
                task.followedFrom = longestKept;
                return;
            }
            auto& follower = followerOf_[decoder];
            if (!follower)
                follower = std::make_unique<SphinxFollower>(decoder);
            task.followers.push_back(follower.get());
        }
        // Measured on a front end of its own: the decoders' are in the
        // middle of an utterance.
        if (!measuring_)
            measuring_ = fe_init_auto_r(ps_get_config(task.decoder));
        const std::vector<std::int16_t> opening(task.heard.begin(),
                                                task.heard.begin() + static_cast<std::ptrdiff_t>(due));
        const auto speech = measuring_
            ? ChannelEstimate::ofSpeech(measuring_, ChannelEstimate::length(task.decoder), opening, framesToJudge)
            : std::nullopt;
        if (!speech) {
            goOn();
            return;
        }
        const auto between = halfway(task.atStart.mean(), *speech);
        std::shared_ptr<const std::vector<std::int16_t>> shared;
        for (std::size_t i = 0; i < task.followers.size(); ++i) {
            auto* follower = task.followers[i];
            const auto& at = i == 0 ? between : *speech;
            // One that follows from where the estimate still is goes on.
            if (follower->following() && SphinxInputLearning::near(follower->at(), at)) {
                if (!shared)
                    shared = std::make_shared<const std::vector<std::int16_t>>(samples);
                follower->hear(shared);
                continue;
            }
            follower->startAt(at, task.heard);
        }
    }

    // Of the decoder's text and its followers', the one the model finds
    // likeliest (the best path's score over the same frames).
    bool likeliestFollowed(SphinxTaskState& task)
    {
        std::int32_t best = 0;
        const char* hypothesis = ps_get_hyp(task.decoder, &best);
        if (!hypothesis)
            best = std::numeric_limits<std::int32_t>::min();
        task.chosen = transcriptionOf(task.decoder, hypothesis, task.punctuate, english_, true);
        for (auto* follower : task.followers)
            follower->finish();
        for (auto* follower : task.followers) {
            if (follower->end())
                keepIfLikelier(task, follower->decoder(), best);
        }
        return true;
    }

    // The decoder's text becomes the task's where it scores above the best
    // so far: of one utterance decoded at several channel estimates, the
    // likeliest reading wins.
    void keepIfLikelier(SphinxTaskState& task, ps_decoder_t* decoder, std::int32_t& best) const
    {
        std::int32_t score = 0;
        const char* hypothesis = ps_get_hyp(decoder, &score);
        if (hypothesis && score > best) {
            best = score;
            task.chosen = transcriptionOf(decoder, hypothesis, task.punctuate, english_, true);
        }
    }

    static bool followed(const SphinxTaskState& task)
    {
        return std::any_of(task.followers.begin(), task.followers.end(),
                           [](const auto* follower) { return follower->following(); });
    }

    // A decoder no source is waiting for: an idle one that heard none, or
    // a new one.
    ps_decoder_t* spareDecoder()
    {
        for (auto it = idle_.begin(); it != idle_.end(); ++it)
            if (!heard_.contains(*it)) {
                auto* decoder = *it;
                idle_.erase(it);
                return decoder;
            }
        auto* decoder = loadSphinxDecoder(model_);
        if (decoder) {
            decoders_.push_back(decoder);
            ++counts_->loads;
        }
        return decoder;
    }

    void stopFollowing(SphinxTaskState& task)
    {
        for (auto* follower : task.followers) {
            auto* decoder = follower->stop();
            heard_.erase(decoder);
            idle_.push_back(decoder);
        }
        task.followers.clear();
    }

    static std::vector<float> halfway(const std::vector<float>& start, const std::vector<float>& speech)
    {
        auto mean = speech;
        for (std::size_t i = 0; i < mean.size() && i < start.size(); ++i)
            mean[i] = (start[i] + speech[i]) / 2;
        return mean;
    }

    static bool decode(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples)
    {
        return ps_start_utt(decoder) >= 0 && ps_process_raw(decoder, samples.data(), samples.size(), FALSE, FALSE) >= 0
            && ps_end_utt(decoder) >= 0;
    }

    // An utterance of a source the decoder never heard, decoded with the
    // estimate it started from, and what it taught. A few seconds of
    // speech hold few sounds, so their mean shows those sounds as much as
    // the channel: the decoder's own estimate lies too far one way, the
    // utterance's too far the other (some of its own frames will be
    // pauses, and with the speech alone its words weigh in), and the
    // channel lies in between. So the utterance is decoded again halfway
    // between where the decoder began and the mean of the utterance's
    // speech, and at that mean itself; the text is the decoding the model
    // finds likeliest (the best path's score, over the same frames each
    // time), the first one included.
    bool decodeAtLikeliest(SphinxTaskState& task, const std::vector<std::int16_t>& heard,
                           const std::vector<float>& learnt)
    {
        std::int32_t best = 0;
        const char* hypothesis = ps_get_hyp(task.decoder, &best);
        if (!hypothesis)
            best = std::numeric_limits<std::int32_t>::min();
        task.chosen = transcriptionOf(task.decoder, hypothesis, task.punctuate, english_, true);
        const auto& start = task.atStart.mean();
        const auto speech = ChannelEstimate::ofSpeech(task.decoder, heard, framesToJudge).value_or(learnt);
        const auto between = halfway(start, speech);
        for (const std::vector<float>* mean : {&between, &speech}) {
            ChannelEstimate::learnAnew(task.decoder, *mean);
            if (!decode(task.decoder, heard))
                return false;
            keepIfLikelier(task, task.decoder, best);
        }
        return true;
    }

    void enqueue(const std::shared_ptr<SphinxTaskState>& task, std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            jobs_.push_back(Job{task, std::move(job)});
            if (!thread_.joinable())
                thread_ = std::thread([this] { work(); });
        }
        wake_.notify_one();
    }

    void work()
    {
        pthread_setname_np(pthread_self(), "sphinx-decode");
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
                if (stopping_)
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            try {
                job.run();
            } catch (...) {
                failed(job.task, std::current_exception());
            }
        }
    }

    // A job that threw ends its task with the decoder's error, unless the
    // task already answered for the last time; its decoder starts afresh,
    // since where it stopped is unknown. The program and later tasks go on.
    void failed(const std::shared_ptr<SphinxTaskState>& task, const std::exception_ptr& failure)
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
        stopFollowing(*task);
        if (task->decoder) {
            heard_.erase(task->decoder);
            if (!task->done)
                ps_end_utt(task->decoder);
        }
        if (task->done) {
            if (task->decoder) {
                idle_.push_back(task->decoder);
                task->decoder = nullptr;
            }
            return;
        }
        finish(task, std::nullopt, DomainError(errorDomain, 2, "The speech decoder failed"));
    }

    // An idle decoder that last heard `source` if there is one; otherwise
    // any idle one or a new one, which is new to the source and starts it
    // from what an earlier run learnt about it, or else learns it anew.
    ps_decoder_t* takeDecoder(const std::string& source)
    {
        for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
            if (auto known = heard_.find(*it); known != heard_.end() && known->second.source == source) {
                auto* decoder = *it;
                idle_.erase(std::next(it).base());
                return decoder;
            }
        }
        ps_decoder_t* decoder = nullptr;
        if (!idle_.empty()) {
            decoder = idle_.back();
            idle_.pop_back();
        } else if ((decoder = loadSphinxDecoder(model_))) {
            decoders_.push_back(decoder);
            ++counts_->loads;
            if (modelStart_.empty())
                modelStart_ = ChannelEstimate::meanOf(decoder);
        } else {
            return nullptr;
        }
        std::optional<ChannelMean> kept;
        if (channels_ && !source.empty())
            kept = channels_->find(model_.locale, source, ChannelEstimate::length(decoder));
        if (kept && !SphinxInputLearning::learnable(kept->mean, modelStart_))
            kept.reset();
        ChannelEstimate::learnAnew(decoder, kept ? kept->mean : ChannelEstimate::meanOf(decoder));
        heard_[decoder] = {source, kept, false, kept ? kept->sound : std::vector<float>{}};
        return decoder;
    }

    void returnDecoder(SphinxTaskState& task)
    {
        stopFollowing(task);
        if (!task.decoder)
            return;
        if (!task.done)
            ps_end_utt(task.decoder);
        idle_.push_back(task.decoder);
        task.decoder = nullptr;
        task.done = true;
    }

    void finish(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                std::optional<DomainError> error)
    {
        if (task->decoder) {
            idle_.push_back(task->decoder);
            task->decoder = nullptr;
        }
        task->done = true;
        post(task, std::move(result), std::move(error));
        // After the answer: a follower still busy holds it back no longer.
        stopFollowing(*task);
        // Read here, while nobody waits, rather than on the main actor when
        // the first press that paused asks.
        sentenceEnds_.load();
    }

    static void post(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                     std::optional<DomainError> error)
    {
        if (error || (result && result->isFinal))
            task->finishing = false;
        rt::postToMain([task, result = std::move(result), error = std::move(error)] {
            if (!task->cancelled.load())
                task->handler(result, error);
        });
    }

    SphinxModel model_;
    bool english_;
    std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts_;
    const std::size_t partialSamples_;
    const std::shared_ptr<SphinxChannelFile> channels_;
    static constexpr std::int32_t framesToJudge = SphinxInputLearning::framesToJudge;
    // An utterance longer than this is not kept to be decoded again.
    static constexpr std::size_t longestKept = static_cast<std::size_t>(60 * nativeRate);
    // Audio heard before more decoders follow, and how many (see follow).
    static constexpr std::size_t firstFollowed = static_cast<std::size_t>(2 * nativeRate);
    static constexpr std::size_t followers = 2;
    std::mutex mutex_;
    std::condition_variable wake_;
    struct Job {
        std::shared_ptr<SphinxTaskState> task;
        std::function<void()> run;
    };
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
    // Worker thread only, until the thread is joined.
    bool failureSaid_ = false;
    // The estimate the model's decoders start from.
    std::vector<float> modelStart_;
    fe_t* measuring_ = nullptr;
    std::vector<ps_decoder_t*> decoders_;
    std::vector<ps_decoder_t*> idle_;
    // The follower each decoder lent as one follows with, once it was.
    std::map<ps_decoder_t*, std::unique_ptr<SphinxFollower>> followerOf_;
    // What each decoder heard last, and how far it learnt that input.
    std::map<ps_decoder_t*, SphinxInputLearning> heard_;
    SphinxSentenceEndsFile sentenceEnds_;
};

// Request and task.

namespace {

class SphinxRequest final : public SpeechAudioBufferRecognitionRequest {
public:
    explicit SphinxRequest(std::shared_ptr<SphinxEngine> engine) : engine_(std::move(engine)) {}

    AudioFormat nativeAudioFormat() const override { return AudioFormat{nativeRate, 1, SampleType::int16, true}; }

    // Takes the first channel of 16 kHz audio in any sample layout; audio at
    // another rate cannot be decoded and is dropped.
    void append(const PcmBuffer& buffer) override
    {
        if (buffer.format().sampleRate != nativeRate || buffer.frameLength() == 0)
            return;
        std::vector<std::int16_t> samples(buffer.frameLength());
        if (const auto* data = buffer.int16ChannelData(0)) {
            for (std::size_t f = 0; f < samples.size(); ++f)
                samples[f] = data[f * buffer.stride()];
        } else {
            for (std::size_t f = 0; f < samples.size(); ++f)
                samples[f] = floatToInt16(buffer.floatSample(f, 0));
        }
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        if (task_)
            engine_->audio(task_, std::move(samples));
        else
            pending_.insert(pending_.end(), samples.begin(), samples.end());
    }

    void endAudio() override
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        ended_ = true;
        if (task_)
            engine_->end(task_);
    }

    const std::shared_ptr<SphinxEngine>& engine() const { return engine_; }

    // Audio that arrived before the task started goes to the decoder first.
    bool attach(const std::shared_ptr<SphinxTaskState>& task)
    {
        std::lock_guard lock(mutex_);
        if (task_)
            return false;
        task_ = task;
        engine_->begin(task);
        if (!pending_.empty())
            engine_->audio(task, std::exchange(pending_, {}));
        if (ended_)
            engine_->end(task);
        return true;
    }

private:
    std::shared_ptr<SphinxEngine> engine_;
    std::mutex mutex_;
    std::vector<std::int16_t> pending_;
    bool ended_ = false;
    std::shared_ptr<SphinxTaskState> task_;
};

class SphinxTask final : public SpeechRecognitionTask {
public:
    SphinxTask(std::shared_ptr<SphinxEngine> engine, std::shared_ptr<SphinxTaskState> state)
        : engine_(std::move(engine)), state_(std::move(state))
    {
    }
    ~SphinxTask() override { engine_->release(state_); }

    void cancel() override
    {
        if (!state_->cancelled.exchange(true))
            engine_->release(state_);
    }
    bool isCancelled() const override { return state_->cancelled.load(); }
    bool isFinishing() const override { return state_->finishing.load() && !state_->cancelled.load(); }

private:
    std::shared_ptr<SphinxEngine> engine_;
    std::shared_ptr<SphinxTaskState> state_;
};

class SphinxRecognizer final : public SpeechRecognizer {
public:
    SphinxRecognizer(std::string locale, std::shared_ptr<SphinxEngine> engine)
        : locale_(std::move(locale)), engine_(std::move(engine))
    {
    }

    std::string locale() const override { return locale_; }
    bool supportsOnDeviceRecognition() const override { return true; }

    std::shared_ptr<SpeechAudioBufferRecognitionRequest> makeRequest() override
    {
        return std::make_shared<SphinxRequest>(engine_);
    }

    std::optional<std::string> continuation(const std::string& before, const std::string& after,
                                            double pause) const override
    {
        return engine_->continuation(before, after, pause);
    }

    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
                                                           ResultHandler handler) override
    {
        auto sphinxRequest = std::dynamic_pointer_cast<SphinxRequest>(request);
        if (!sphinxRequest || sphinxRequest->engine() != engine_)
            throw std::invalid_argument("the request was not made by this recognizer");
        auto state = std::make_shared<SphinxTaskState>();
        state->handler = std::move(handler);
        state->reportPartials = request->options.shouldReportPartialResults;
        state->punctuate = request->options.addsPunctuation;
        state->source = request->options.audioSource;
        if (!sphinxRequest->attach(state))
            throw std::invalid_argument("the request is already being recognized");
        return std::make_shared<SphinxTask>(engine_, state);
    }

private:
    std::string locale_;
    std::shared_ptr<SphinxEngine> engine_;
};

}  // namespace

// Service.

SphinxSpeechRecognitionService::SphinxSpeechRecognitionService(std::string modelRoot, double partialInterval,
                                                               std::optional<std::filesystem::path> channelFile)
    : modelRoot_(std::move(modelRoot)),
      partialSamples_(static_cast<std::size_t>(std::max(partialInterval, 0.0) * nativeRate)),
      channels_(std::make_shared<SphinxChannelFile>(std::move(channelFile)))
{
}

SphinxSpeechRecognitionService::~SphinxSpeechRecognitionService() = default;

void SphinxSpeechRecognitionService::requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler)
{
    // Nothing leaves the computer, so there is nothing to ask.
    handler(SpeechAuthorizationStatus::authorized);
}

std::shared_ptr<SpeechRecognizer> SphinxSpeechRecognitionService::makeRecognizer(const std::string& locale)
{
    auto wanted = partsOf(locale);
    if (wanted.language.empty())
        return nullptr;
    for (const auto& model : installedSphinxModels(modelRoot_)) {
        auto parts = partsOf(model.locale);
        if (parts.language == wanted.language && (wanted.region.empty() || parts.region == wanted.region))
            return std::make_shared<SphinxRecognizer>(model.locale, engine(model));
    }
    return nullptr;
}

std::shared_ptr<SphinxEngine> SphinxSpeechRecognitionService::engine(const SphinxModel& model)
{
    std::lock_guard lock(mutex_);
    auto& slot = engines_[model.locale];
    if (!slot)
        slot = std::make_shared<SphinxEngine>(model, counts_, partialSamples_, channels_);
    return slot;
}

}  // namespace parlaro::sys
