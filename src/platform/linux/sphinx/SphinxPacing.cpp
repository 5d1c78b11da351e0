#include "platform/linux/sphinx/SphinxPacing.h"

#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <pocketsphinx.h>
#include <pocketsphinx/ps_lattice.h>
#include <pocketsphinx/ps_search.h>

#include <chrono>

// The library exports these and answers its own searches with them, but
// leaves them out of its headers.
extern "C" {
char const* ps_lattice_hyp(ps_lattice_t* dag, ps_latlink_t* link);
ps_seg_t* ps_lattice_seg_iter(ps_lattice_t* dag, ps_latlink_t* link, float32 lwf);
}

namespace parlaro::sys {

std::optional<Transcription> SphinxPacing::partial(SphinxTaskState& task, std::size_t samples)
{
    if (!task.reportPartials)
        return std::nullopt;
    // Each look at the hypothesis wakes the main actor with a new
    // live text; a few a second read as continuous, while one per
    // buffer costs the whole program for nothing. Until the first
    // words show, every buffer is looked at, so they show at once.
    task.sinceHypothesis += samples;
    if (!task.lastHypothesis.empty() && task.sinceHypothesis < partialSamples_)
        return std::nullopt;
    task.sinceHypothesis = 0;
    std::int32_t score = 0;
    const char* hypothesis = ps_get_hyp(task.decoder, &score);
    if (!hypothesis || !*hypothesis || task.lastHypothesis == hypothesis)
        return std::nullopt;
    task.lastHypothesis = hypothesis;
    return transcriptionOf(task.decoder, hypothesis, task.punctuate, english_, false, &task.liveStops);
}

void SphinxPacing::searchAheadIfQuiet(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
{
    if (!task.ahead.heard(samples) || task.withoutEstimate || task.cancelled.load()
        || task.searchAheadTook > SphinxTaskState::slowestSearchAhead || jobs_.waiting(task)
        || ps_get_n_frames(task.decoder) > task.framesReached)
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
    task.searchedAhead = bestPath(task);
    if (task.searchedAhead)
        ++counts_->searchesAhead;
}

std::optional<Transcription> SphinxPacing::bestPath(SphinxTaskState& task) const
{
    // The lattice of the frames decoded so far, searched as the decoder
    // searches it at the end of an utterance.
    ps_lattice_t* lattice = ps_get_lattice(task.decoder);
    ngram_model_t* model = sphinxLanguageModel(task.decoder);
    if (!lattice || !model)
        return std::nullopt;
    cmd_ln_t* config = ps_get_config(task.decoder);
    const auto weight = static_cast<float32>(cmd_ln_float_r(config, "-bestpathlw") / cmd_ln_float_r(config, "-lw"));
    const auto scale = static_cast<float32>(1.0 / cmd_ln_float_r(config, "-ascale"));
    ps_latlink_t* last = ps_lattice_bestpath(lattice, model, weight, scale);
    if (!last)
        return std::nullopt;
    const char* hypothesis = ps_lattice_hyp(lattice, last);
    return transcriptionOf(task.decoder, hypothesis,
                           task.punctuate ? ps_lattice_seg_iter(lattice, last, weight) : nullptr, task.punctuate,
                           english_, true);
}

}  // namespace parlaro::sys
