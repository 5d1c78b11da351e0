#include "platform/linux/sphinx/SphinxUtteranceLearning.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxWrittenWords.h"

#include <utility>

namespace parlaro::sys {

bool SphinxUtteranceLearning::endUtterance(SphinxTaskState& task, bool searchAgain)
{
    const auto heard = std::exchange(task.heard, {});
    const auto learnt = ChannelEstimate::learnt(task.decoder);
    auto& known = pool_.learningOf(task.decoder);
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
        const bool atEnd = !SphinxFollowing::followed(task);
        if (atEnd)
            ++counts_->decodedAtEnd;
        decoded = !atEnd       ? following_.likeliest(task)
            : !withoutEstimate ? decode(task.decoder, heard)
                               : decodeAtLikeliest(task, heard, learnt->mean);
        after.restore(task.decoder);
    }
    // The next utterance's frames alone, to judge what this one taught.
    if (withoutEstimate) {
        task.taught = known.kept;
        ChannelEstimate::learnAnew(task.decoder, learnt->mean);
        if (!task.heardTooLong)
            known.spoken = heard;
    }
    return decoded;
}

// An utterance of a source the decoder never heard, decoded with the
// estimate it started from, and what it taught. A few seconds of
// speech hold few sounds, so their mean shows those sounds as much as
// the channel: the decoder's own estimate lies too far one way, the
// utterance's too far the other (some of its own frames will be
// pauses, and with the speech alone its words weigh in), and the
// channel lies in between, nearer the speech. So the utterance is
// decoded again at half and at four fifths of the way from the model's
// own estimate to the mean of the utterance's speech, and the text is
// the one of the two the model finds likelier (the best path's score,
// over the same frames each time). The decoding it began with takes no
// part, nor one at the speech's mean: from their channel the model
// scored a worse text higher often enough to cost more words than the
// choice saved (over the ten replies with pauses and the test
// recordings, 39.5% and 34.1% of the words wrong, against 25.7% and
// 31.2% for these two).
bool SphinxUtteranceLearning::decodeAtLikeliest(SphinxTaskState& task, const std::vector<std::int16_t>& heard,
                                                const std::vector<float>& learnt)
{
    following_.standIn(task);
    std::optional<std::int32_t> best;
    const auto& start = pool_.modelStart();
    const auto speech =
        ChannelEstimate::ofSpeech(task.decoder, heard, SphinxInputLearning::framesToJudge).value_or(learnt);
    // Side by side on the followers' decoders where they are loaded: one
    // after the other on the decoding thread, a short first reply's
    // caption waited for both.
    std::vector<std::vector<float>> at;
    for (const float share : likelyShares)
        at.push_back(toward(start, speech, share));
    if (following_.decodeAside(task, heard, at, best))
        return true;
    for (const float share : likelyShares) {
        auto estimate = toward(start, speech, share);
        ChannelEstimate::learnAnew(task.decoder, estimate);
        if (!decode(task.decoder, heard))
            return false;
        if (following_.keepIfLikelier(task, task.decoder, best))
            task.chosenAt = std::move(estimate);
    }
    return true;
}

bool SphinxUtteranceLearning::decode(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples)
{
    return ps_start_utt(decoder) >= 0 && ps_process_raw(decoder, samples.data(), samples.size(), FALSE, FALSE) >= 0
        && ps_end_utt(decoder) >= 0;
}

}  // namespace parlaro::sys
