#pragma once

#include "platform/linux/sphinx/SphinxDecoderPool.h"
#include "platform/linux/sphinx/SphinxFollowing.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace parlaro::sys {

// The decoder normalises its input by a running estimate of the
// channel, learnt from what it decoded before. A decoder new to this
// source (just loaded, or last used on the other side of the call)
// would hear it with another channel's estimate, which costs many of
// its words: most of all in a reply that begins with a short phrase and
// a pause. So it starts the source from what an earlier run learnt
// about it, when one did (see SphinxDecoderPool::take). The first
// utterance of a source with no such start is decoded again whole before
// its final text where what it taught moved the estimate (see
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
class SphinxUtteranceLearning {
public:
    SphinxUtteranceLearning(SphinxDecoderPool& pool, SphinxFollowing& following,
                            std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts)
        : pool_(pool), following_(following), counts_(std::move(counts))
    {
    }

    // Learns from the utterance the task's decoder just ended, and decodes
    // it again where that is called for and `searchAgain`; false where a
    // decoding failed.
    bool endUtterance(SphinxTaskState& task, bool searchAgain);

private:
    bool decodeAtLikeliest(SphinxTaskState& task, const std::vector<std::int16_t>& heard,
                           const std::vector<float>& learnt);
    static bool decode(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples);

    SphinxDecoderPool& pool_;
    SphinxFollowing& following_;
    const std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts_;
};

}  // namespace parlaro::sys
