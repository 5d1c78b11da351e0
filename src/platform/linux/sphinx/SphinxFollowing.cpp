#include "platform/linux/sphinx/SphinxFollowing.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <algorithm>
#include <cstdlib>

namespace parlaro::sys {

SphinxFollowing::~SphinxFollowing()
{
    // A follower's thread drops what it was handed; its decoder goes with
    // the pool.
    for (auto& entry : followerOf_)
        entry.second->stop();
    followerOf_.clear();
    if (measuring_)
        fe_free(measuring_);
}

// Once half a second is heard the followers start at the estimates the
// speech so far gives, catch up and follow; each time the utterance has
// doubled (both counted from a second before its first voice), one whose
// estimate moved starts again from what all of it gives by then, so that
// they stand on at least half of the utterance, and cost at most about
// twice its decoding each while it is spoken. The source's
// second utterance, while its estimate stands on the first alone, is
// followed the same way from the speech of both: decoded again only at its
// end, it kept the caption waiting, and the first utterance taught too
// little to hear it by (a short "I think" left the sentence after it
// misheard). Both ways start at the model's own estimate: from the mean of
// all the first utterance's frames, which the decoder goes on from, the
// second parts of the ten replies with pauses were heard with 42% of their
// words wrong, against 27%.
void SphinxFollowing::follow(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
{
    // The doublings count from shortly before the source's voice, not from
    // the start of its quiet: a source is listened to from before it
    // speaks, and counted from there the followers' estimates stood on as
    // little as a second of speech, or a quiet of four seconds or more
    // kept them from starting at all, and the decoder alone read the
    // utterance at the model's estimate. Counted from the voice itself,
    // they started again more often, late in short utterances, and under
    // load a first caption waited about half a second longer for them.
    if (!voiceBegun(task, samples))
        return;
    const std::size_t voiceFrom = *task.voiceFrom;
    const std::size_t countedFrom = voiceFrom > quietCounted ? voiceFrom - quietCounted : 0;
    const std::size_t earlierCounted = task.earlier.size() > countedFrom ? task.earlier.size() - countedFrom : 0;
    const std::size_t heardSoFar = task.earlier.size() + task.heard.size() - countedFrom;
    const bool settled = !task.followers.empty() && task.followedFrom >= lastFollowedFrom
        && std::all_of(task.followers.begin(), task.followers.end(), [](const auto* f) { return f->following(); });
    std::size_t due = std::max(earlierCounted + firstFollowed, 2 * task.followedFrom);
    if (heardSoFar >= due && !settled && task.followers.size() < followers && !lend(task))
        return;
    // Every doubling passed since the last look, in order, as small buffers
    // would have passed them: where the followers end up does not depend on
    // how the audio was cut.
    std::vector<std::vector<float>> at(task.followers.size());
    for (std::size_t i = 0; i < at.size(); ++i)
        if (task.followers[i]->following())
            at[i] = task.followers[i]->at();
    for (; !settled && due <= heardSoFar; due *= 2) {
        task.followedFrom = due;
        const auto speech = speechOf(task, countedFrom + due);
        if (!speech)
            continue;
        for (std::size_t i = 0; i < at.size(); ++i) {
            const auto estimate = toward(pool_.modelStart(), *speech, likelyShares[i]);
            // One that follows from where the estimate still is goes on.
            if (at[i].empty() || !SphinxInputLearning::near(at[i], estimate))
                at[i] = estimate;
        }
    }
    // The quiet before the voice holds no words: decoded again at each
    // start, a long one kept the caption waiting for the followers.
    const std::size_t quietKept = static_cast<std::size_t>(0.3 * sphinxSampleRate);
    const std::size_t quietSkipped =
        voiceFrom > task.earlier.size() + quietKept ? voiceFrom - task.earlier.size() - quietKept : 0;
    std::shared_ptr<const std::vector<std::int16_t>> shared;
    for (std::size_t i = 0; i < at.size(); ++i) {
        auto* follower = task.followers[i];
        if (at[i].empty())
            continue;
        if (follower->following() && follower->at() == at[i]) {
            if (!shared)
                shared = std::make_shared<const std::vector<std::int16_t>>(samples);
            follower->hear(shared);
            continue;
        }
        follower->startAt(at[i],
                          std::vector<std::int16_t>(task.heard.begin() + static_cast<std::ptrdiff_t>(quietSkipped),
                                                    task.heard.end()));
    }
}

bool SphinxFollowing::voiceBegun(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
{
    if (task.voiceFrom)
        return true;
    const auto voiced = [](std::int16_t sample) { return std::abs(sample) >= SphinxTaskState::searchAheadVoice; };
    // The earlier utterance is looked at with the task's first samples.
    if (task.heard.size() == samples.size())
        if (const auto at = std::find_if(task.earlier.begin(), task.earlier.end(), voiced); at != task.earlier.end()) {
            task.voiceFrom = static_cast<std::size_t>(at - task.earlier.begin());
            return true;
        }
    if (const auto at = std::find_if(samples.begin(), samples.end(), voiced); at != samples.end())
        task.voiceFrom =
            task.earlier.size() + task.heard.size() - samples.size() + static_cast<std::size_t>(at - samples.begin());
    return task.voiceFrom.has_value();
}

bool SphinxFollowing::lend(SphinxTaskState& task)
{
    while (task.followers.size() < followers) {
        auto* decoder = pool_.spare();
        if (!decoder) {
            stop(task);
            task.followedFrom = SphinxTaskState::longestKept;
            return false;
        }
        auto& follower = followerOf_[decoder];
        if (!follower)
            follower = std::make_unique<SphinxFollower>(decoder);
        task.followers.push_back(follower.get());
    }
    return true;
}

std::optional<std::vector<float>> SphinxFollowing::speechOf(const SphinxTaskState& task, std::size_t samples)
{
    // Measured on a front end of its own: the decoders' are in the
    // middle of an utterance.
    if (!measuring_)
        measuring_ = fe_init_auto_r(ps_get_config(task.decoder));
    if (!measuring_)
        return std::nullopt;
    std::vector<std::int16_t> opening(task.earlier.begin(),
                                      task.earlier.begin()
                                          + static_cast<std::ptrdiff_t>(std::min(samples, task.earlier.size())));
    if (samples > opening.size())
        opening.insert(opening.end(), task.heard.begin(),
                       task.heard.begin() + static_cast<std::ptrdiff_t>(samples - opening.size()));
    return ChannelEstimate::ofSpeech(measuring_, ChannelEstimate::length(task.decoder), opening,
                                     SphinxInputLearning::framesToJudge);
}

bool SphinxFollowing::followed(const SphinxTaskState& task)
{
    return std::any_of(task.followers.begin(), task.followers.end(),
                       [](const auto* follower) { return follower->following(); });
}

bool SphinxFollowing::likeliest(SphinxTaskState& task)
{
    // The decoder's own reading stands only where no follower ended (see
    // SphinxUtteranceLearning::decodeAtLikeliest); searched for only then,
    // it keeps the first caption from waiting on a search nobody reads.
    std::optional<std::int32_t> best;
    for (auto* follower : task.followers)
        follower->finish();
    for (auto* follower : task.followers) {
        if (follower->end() && keepIfLikelier(task, follower->decoder(), best))
            task.chosenAt = follower->at();
    }
    if (!best)
        standIn(task);
    return true;
}

bool SphinxFollowing::decodeAside(SphinxTaskState& task, const std::vector<std::int16_t>& heard,
                                  const std::vector<std::vector<float>>& at, std::optional<std::int32_t>& best)
{
    if (at.size() != followers || task.followers.size() + pool_.sparesReady() < followers || !lend(task))
        return false;
    for (std::size_t i = 0; i < followers; ++i)
        task.followers[i]->startAt(at[i], heard);
    for (auto* follower : task.followers)
        follower->finish();
    for (auto* follower : task.followers)
        if (follower->end())
            keepIfLikelier(task, follower->decoder(), best);
    return true;
}

void SphinxFollowing::standIn(SphinxTaskState& task) const
{
    std::int32_t score = 0;
    task.chosen = transcriptionOf(task.decoder, ps_get_hyp(task.decoder, &score), task.punctuate, english_, true);
}

bool SphinxFollowing::keepIfLikelier(SphinxTaskState& task, ps_decoder_t* decoder,
                                     std::optional<std::int32_t>& best) const
{
    std::int32_t score = 0;
    const char* hypothesis = ps_get_hyp(decoder, &score);
    if (!hypothesis || (best && score <= *best))
        return false;
    best = score;
    task.chosen = transcriptionOf(decoder, hypothesis, task.punctuate, english_, true);
    return true;
}

void SphinxFollowing::stop(SphinxTaskState& task)
{
    for (auto* follower : task.followers) {
        auto* decoder = follower->stop();
        pool_.forget(decoder);
        pool_.giveBack(decoder);
    }
    task.followers.clear();
}

}  // namespace parlaro::sys
