#include "platform/linux/sphinx/SphinxFollower.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"

#include <pocketsphinx.h>

#include <utility>

namespace parlaro::sys {

SphinxFollower::SphinxFollower(ps_decoder_s* decoder) : decoder_(decoder)
{
}

void SphinxFollower::startAt(std::vector<float> at, std::vector<std::int16_t> heard)
{
    at_ = at;
    following_ = true;
    const auto generation = ++generation_;
    queue_.async([this, generation, at = std::move(at), heard = std::move(heard)] {
        if (generation_.load() != generation)
            return;
        if (std::exchange(started_, false))
            ps_end_utt(decoder_);
        // Whatever this throws leaves the utterance undecoded, not half so.
        failed_ = true;
        ChannelEstimate::learnAnew(decoder_, at);
        started_ = ps_start_utt(decoder_) >= 0;
        failed_ = !started_ || ps_process_raw(decoder_, heard.data(), heard.size(), FALSE, FALSE) < 0;
    });
}

void SphinxFollower::hear(std::shared_ptr<const std::vector<std::int16_t>> samples)
{
    if (!following_)
        return;
    queue_.async([this, generation = generation_.load(), samples = std::move(samples)] {
        if (generation_.load() == generation && started_ && !failed_)
            failed_ = ps_process_raw(decoder_, samples->data(), samples->size(), FALSE, FALSE) < 0;
    });
}

void SphinxFollower::finish()
{
    if (!std::exchange(following_, false))
        return;
    finishing_ = true;
    queue_.async([this, generation = generation_.load()] {
        if (generation_.load() != generation || !std::exchange(started_, false))
            return;
        decoded_ = ps_end_utt(decoder_) >= 0 && !failed_;
        // The search over the lattice, the dearest step of the end, runs
        // here beside the other decoders' rather than after them on the
        // decoding thread, which then reads what the library kept of it.
        std::int32_t score = 0;
        if (decoded_)
            ps_get_hyp(decoder_, &score);
    });
}

bool SphinxFollower::end()
{
    finish();
    if (!std::exchange(finishing_, false))
        return false;
    bool decoded = false;
    queue_.sync([&] { decoded = std::exchange(decoded_, false); });
    return decoded;
}

ps_decoder_s* SphinxFollower::stop()
{
    following_ = false;
    finishing_ = false;
    ++generation_;
    queue_.sync([&] {
        decoded_ = false;
        if (std::exchange(started_, false))
            ps_end_utt(decoder_);
    });
    return decoder_;
}

}  // namespace parlaro::sys
