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
    // on the decoding thread or on a follower's. A load under way ends
    // first.
    loaders_.clear();
    for (auto* decoder : loaded_)
        if (decoder)
            ps_free(decoder);
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
    // Without an estimate its first utterance will be followed.
    if (!kept)
        loadSpares();
    return decoder;
}

void SphinxDecoderPool::loadSpares()
{
    std::size_t ready = loading_;
    for (auto* decoder : idle_)
        ready += heard_.contains(decoder) ? 0 : 1;
    // Side by side: on a busy computer each load takes its own share.
    for (std::size_t next = 0; ready < likelyShares.size(); ++ready, ++next) {
        ++loading_;
        if (loaders_.size() <= next)
            loaders_.push_back(std::make_unique<rt::ThreadSerialQueue>("sphinx-load"));
        loaders_[next]->async([this] {
            auto* decoder = loadSphinxDecoder(model_);
            if (decoder)
                ++counts_->loads;
            const std::lock_guard lock(loadedMutex_);
            loaded_.push_back(decoder);
            loadedChanged_.notify_all();
        });
    }
}

ps_decoder_t* SphinxDecoderPool::spare()
{
    for (auto it = idle_.begin(); it != idle_.end(); ++it)
        if (!heard_.contains(*it)) {
            auto* decoder = *it;
            idle_.erase(it);
            return decoder;
        }
    if (loading_ == 0)
        return load();
    // One still loading is waited for: it is ready sooner than a new one.
    --loading_;
    std::unique_lock lock(loadedMutex_);
    loadedChanged_.wait(lock, [this] { return !loaded_.empty(); });
    auto* decoder = loaded_.front();
    loaded_.erase(loaded_.begin());
    if (decoder)
        decoders_.push_back(decoder);
    return decoder;
}

std::size_t SphinxDecoderPool::sparesReady()
{
    std::size_t ready = 0;
    for (auto* decoder : idle_)
        ready += heard_.contains(decoder) ? 0 : 1;
    const std::lock_guard lock(loadedMutex_);
    for (auto* decoder : loaded_)
        ready += decoder ? 1 : 0;
    return ready;
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
