#include "platform/linux/sphinx/SphinxFollowing.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <algorithm>
#include <limits>

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

// Once 2 s are heard the followers start at the estimates the speech so
// far gives, catch up and follow; each time the utterance has doubled, one
// whose estimate moved starts again from what all of it gives by then, so
// that they stand on at least half of the utterance, and cost at most about
// twice its decoding each while it is spoken.
void SphinxFollowing::follow(SphinxTaskState& task, const std::vector<std::int16_t>& samples)
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
        auto* decoder = pool_.spare();
        if (!decoder) {
            stop(task);
            task.followedFrom = SphinxTaskState::longestKept;
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
    const std::vector<std::int16_t> opening(task.heard.begin(), task.heard.begin() + static_cast<std::ptrdiff_t>(due));
    const auto speech = measuring_ ? ChannelEstimate::ofSpeech(measuring_, ChannelEstimate::length(task.decoder),
                                                               opening, SphinxInputLearning::framesToJudge)
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

bool SphinxFollowing::followed(const SphinxTaskState& task)
{
    return std::any_of(task.followers.begin(), task.followers.end(),
                       [](const auto* follower) { return follower->following(); });
}

bool SphinxFollowing::likeliest(SphinxTaskState& task)
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

void SphinxFollowing::keepIfLikelier(SphinxTaskState& task, ps_decoder_t* decoder, std::int32_t& best) const
{
    std::int32_t score = 0;
    const char* hypothesis = ps_get_hyp(decoder, &score);
    if (hypothesis && score > best) {
        best = score;
        task.chosen = transcriptionOf(decoder, hypothesis, task.punctuate, english_, true);
    }
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
