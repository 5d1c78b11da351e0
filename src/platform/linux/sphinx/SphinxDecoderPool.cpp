#include "platform/linux/sphinx/SphinxDecoderPool.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace parlaro::sys {

SphinxDecoderPool::SphinxDecoderPool(SphinxModel model, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                                     std::shared_ptr<SphinxChannelFile> channels)
    : model_(std::move(model)), counts_(std::move(counts)), channels_(std::move(channels))
{
}

SphinxDecoderPool::~SphinxDecoderPool()
{
    // Decoders still lent to tasks are freed too: no job runs any more,
    // on the decoding thread or on a follower's.
    for (auto* decoder : decoders_)
        ps_free(decoder);
}

ps_decoder_t* SphinxDecoderPool::take(const std::string& source)
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
    } else if ((decoder = load())) {
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
    ChannelEstimate::learnAnew(decoder, kept ? kept->mean : ChannelEstimate::heardMean(decoder));
    heard_[decoder] = {source, kept, false, kept ? kept->sound : std::vector<float>{}};
    return decoder;
}

ps_decoder_t* SphinxDecoderPool::spare()
{
    for (auto it = idle_.begin(); it != idle_.end(); ++it)
        if (!heard_.contains(*it)) {
            auto* decoder = *it;
            idle_.erase(it);
            return decoder;
        }
    return load();
}

std::int32_t SphinxDecoderPool::framesReached(ps_decoder_t* decoder) const
{
    const auto found = framesReached_.find(decoder);
    return std::max(found != framesReached_.end() ? found->second : 0, firstFrameTable - 1);
}

void SphinxDecoderPool::ended(ps_decoder_t* decoder)
{
    auto& reached = framesReached_[decoder];
    reached = std::max(reached, ps_get_n_frames(decoder));
}

ps_decoder_t* SphinxDecoderPool::load()
{
    auto* decoder = loadSphinxDecoder(model_);
    if (decoder) {
        decoders_.push_back(decoder);
        ++counts_->loads;
    }
    return decoder;
}

}  // namespace parlaro::sys
