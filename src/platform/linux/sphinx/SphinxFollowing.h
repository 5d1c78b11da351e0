#pragma once

#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxDecoderPool.h"
#include "platform/linux/sphinx/SphinxFollower.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro::sys {

// The first utterance of a source without an estimate is decoded again
// at what its speech says of the channel (see
// SphinxUtteranceLearning::decodeAtLikeliest); to leave only the last
// search to the end of the audio, two more decoders do that while it is
// spoken, one at each estimate, each on a thread of its own (see
// SphinxFollower). This steers them, on the decoding thread, and owns
// them: the decoders it lends them come from the pool and go back to it.
class SphinxFollowing {
public:
    SphinxFollowing(SphinxDecoderPool& pool, bool english) : pool_(pool), english_(english) {}
    // No follower runs a step once this is done.
    ~SphinxFollowing();
    SphinxFollowing(const SphinxFollowing&) = delete;
    SphinxFollowing& operator=(const SphinxFollowing&) = delete;

    // Audio heard before more decoders follow, and how many. Half a
    // second holds speech enough for a first estimate; waiting for two
    // left a short first caption to be decoded again at its end.
    static constexpr std::size_t firstFollowed = static_cast<std::size_t>(0.5 * sphinxSampleRate);
    // The quiet before a source's first voice that counts toward the
    // audio heard: the followers' doublings were settled on utterances
    // that began with a second of it.
    static constexpr std::size_t quietCounted = static_cast<std::size_t>(1.0 * sphinxSampleRate);
    static constexpr std::size_t followers = likelyShares.size();
    // Audio behind the followers' estimates past which they go on rather
    // than start again: it holds speech enough to trust, and a start at
    // twice as much again, late in a long utterance, left the caption to
    // wait for all of it to be decoded anew.
    static constexpr std::size_t lastFollowedFrom = static_cast<std::size_t>(4 * sphinxSampleRate);

    // The task's decoder heard `samples`, the end of `task.heard`.
    void follow(SphinxTaskState& task, const std::vector<std::int16_t>& samples);
    // A follower still follows the task's utterance.
    static bool followed(const SphinxTaskState& task);
    // Of the decoder's text and its followers', the one the model finds
    // likeliest (the best path's score over the same frames).
    bool likeliest(SphinxTaskState& task);
    // Decodes the whole of `heard` at each of `at` (one per follower) on
    // followers side by side, keeping the likeliest reading above `best`;
    // false, with nothing decoded, where the pool has not that many
    // decoders ready.
    bool decodeAside(SphinxTaskState& task, const std::vector<std::int16_t>& heard,
                     const std::vector<std::vector<float>>& at, std::optional<std::int32_t>& best);
    // The task's followers leave it and give their decoders back.
    void stop(SphinxTaskState& task);

    // The task's decoder's own text stands for the task's until a reading
    // at one of the likely estimates is kept.
    void standIn(SphinxTaskState& task) const;
    // The decoder's text becomes the task's where it scores above `best`,
    // the best so far (none before the first): of one utterance decoded at
    // several channel estimates, the likeliest reading wins. True where it
    // did.
    bool keepIfLikelier(SphinxTaskState& task, ps_decoder_t* decoder, std::optional<std::int32_t>& best) const;

private:
    // Whether the source's voice has begun in what the task heard so far,
    // `samples` its end; notes where.
    static bool voiceBegun(SphinxTaskState& task, const std::vector<std::int16_t>& samples);
    // Lends the task its followers; false when the pool has no decoder for
    // one, and the task is followed no more.
    bool lend(SphinxTaskState& task);
    // The speech estimate of the first `samples` of the source's audio that
    // the task stands on.
    std::optional<std::vector<float>> speechOf(const SphinxTaskState& task, std::size_t samples);

    SphinxDecoderPool& pool_;
    const bool english_;
    fe_t* measuring_ = nullptr;
    // The follower each decoder lent as one follows with, once it was.
    std::map<ps_decoder_t*, std::unique_ptr<SphinxFollower>> followerOf_;
};

}  // namespace parlaro::sys
