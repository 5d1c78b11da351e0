#pragma once

#include "platform/linux/sphinx/SphinxChannelFile.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

namespace parlaro::sys {

// A decoder's running estimate of its input channel: the cepstral mean it
// normalises by, the sum of the frames behind it and their count. The
// decoder moves the mean to what it heard only now and then (past a window
// of frames, or at the end of an utterance whose last block still held
// frames), so whoever reads what it learnt brings the mean up to date first.
class ChannelEstimate {
public:
    // How many frames a learnt mean stands for at most: the decoder's own
    // window, beyond which it lets older frames fade.
    static constexpr std::int32_t window = 500;

    static ChannelEstimate of(ps_decoder_t* decoder)
    {
        ChannelEstimate estimate;
        if (const cmn_t* cmn = cmnOf(decoder)) {
            const auto length = static_cast<std::size_t>(cmn->veclen);
            estimate.mean_.assign(cmn->cmn_mean, cmn->cmn_mean + length);
            estimate.sum_.assign(cmn->sum, cmn->sum + length);
            estimate.frames_ = cmn->nframe;
        }
        return estimate;
    }

    void restore(ps_decoder_t* decoder) const
    {
        cmn_t* cmn = cmnOf(decoder);
        if (!cmn || static_cast<std::size_t>(cmn->veclen) != mean_.size())
            return;
        std::copy(mean_.begin(), mean_.end(), cmn->cmn_mean);
        std::copy(sum_.begin(), sum_.end(), cmn->sum);
        cmn->nframe = frames_;
    }

    static std::size_t length(ps_decoder_t* decoder)
    {
        const cmn_t* cmn = cmnOf(decoder);
        return cmn ? static_cast<std::size_t>(cmn->veclen) : 0;
    }

    // Normalises by `mean` from here on, weighing it as `frames` heard.
    static void set(ps_decoder_t* decoder, const ChannelMean& mean)
    {
        cmn_t* cmn = cmnOf(decoder);
        if (!cmn || static_cast<std::size_t>(cmn->veclen) != mean.mean.size())
            return;
        for (std::size_t i = 0; i < mean.mean.size(); ++i) {
            cmn->cmn_mean[i] = mean.mean[i];
            cmn->sum[i] = mean.mean[i] * static_cast<float>(mean.frames);
        }
        cmn->nframe = mean.frames;
    }

    // What the decoder normalises by now, and the frames behind it.
    static std::optional<ChannelMean> current(ps_decoder_t* decoder)
    {
        const cmn_t* cmn = cmnOf(decoder);
        if (!cmn || cmn->nframe <= 0)
            return std::nullopt;
        return ChannelMean{std::vector<float>(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen),
                           std::min(cmn->nframe, window)};
    }

    // The mean of what was heard since the estimate was last set, up to
    // date; none before a frame was heard.
    static std::optional<ChannelMean> learnt(ps_decoder_t* decoder)
    {
        cmn_t* cmn = cmnOf(decoder);
        if (!cmn || cmn->nframe <= 0)
            return std::nullopt;
        cmn_live_update(cmn);
        return current(decoder);
    }

    // The mean of the frames behind the estimate, whatever it normalises by
    // (see normaliseBy); the mean when no frame stands behind it.
    static std::vector<float> heardMean(ps_decoder_t* decoder)
    {
        const cmn_t* cmn = cmnOf(decoder);
        if (!cmn || cmn->nframe <= 0)
            return meanOf(decoder);
        std::vector<float> mean(cmn->sum, cmn->sum + cmn->veclen);
        for (auto& value : mean)
            value /= static_cast<float>(cmn->nframe);
        return mean;
    }

    // Normalises by `mean` from here on, still learning what it hears.
    static void normaliseBy(ps_decoder_t* decoder, const std::vector<float>& mean)
    {
        cmn_t* cmn = cmnOf(decoder);
        if (cmn && static_cast<std::size_t>(cmn->veclen) == mean.size())
            std::copy(mean.begin(), mean.end(), cmn->cmn_mean);
    }

    // Normalises by `mean` while it learns what follows on its own.
    static void learnAnew(ps_decoder_t* decoder, const std::vector<float>& mean) { set(decoder, ChannelMean{mean, 0}); }

    // The mean of the frames of `samples` that carry speech, through the
    // decoder's own front end (so the very frames it decoded): those louder
    // than a third of the way from the utterance's quiet end to its loud end,
    // each end taken a tenth of the frames in so that a click or a dropout
    // does not set it. The pauses of a reply would pull a mean of every frame
    // toward silence. None when fewer than `fewest` frames are speech.
    static std::optional<std::vector<float>> ofSpeech(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples,
                                                      std::size_t fewest)
    {
        return ofSpeech(ps_get_fe(decoder), length(decoder), samples, fewest);
    }

    // The same through a front end of the model's that no decoder uses.
    static std::optional<std::vector<float>> ofSpeech(fe_t* frontEnd, std::size_t length,
                                                      const std::vector<std::int16_t>& samples, std::size_t fewest)
    {
        const auto heard = framesOf(frontEnd, length, samples);
        if (!heard || heard->speech < fewest)
            return std::nullopt;
        return heard->speechMean;
    }

    // How the source sounded in `samples` (see ChannelMean::sound): the
    // mean first cepstrum of the loudest three tenths of the frames, which
    // follows the input's level but not the share of pauses, then the
    // other cepstra of its speech. None with fewer than `fewest` speech
    // frames.
    static std::optional<std::vector<float>> soundOf(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples,
                                                     std::size_t fewest)
    {
        auto heard = framesOf(decoder, samples);
        if (!heard || heard->speech < fewest)
            return std::nullopt;
        auto sound = std::move(heard->speechMean);
        sound.front() = heard->loudest;
        return sound;
    }

private:
    struct Heard {
        std::vector<float> speechMean;
        std::size_t speech = 0;
        float loudest = 0;
    };

    static std::optional<Heard> framesOf(ps_decoder_t* decoder, const std::vector<std::int16_t>& samples)
    {
        return framesOf(ps_get_fe(decoder), length(decoder), samples);
    }

    static std::optional<Heard> framesOf(fe_t* frontEnd, std::size_t veclen, const std::vector<std::int16_t>& samples)
    {
        if (!frontEnd || veclen == 0 || static_cast<std::size_t>(fe_get_output_size(frontEnd)) != veclen
            || fe_start_utt(frontEnd) < 0)
            return std::nullopt;
        constexpr std::int32_t block = 64;
        std::vector<mfcc_t> buffer(block * veclen);
        std::array<mfcc_t*, block> rows{};
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i] = buffer.data() + i * veclen;
        std::vector<mfcc_t> frames;
        const std::int16_t* next = samples.data();
        std::size_t left = samples.size();
        while (left > 0) {
            std::int32_t count = block;
            const std::size_t before = left;
            if (fe_process_frames(frontEnd, &next, &left, rows.data(), &count, nullptr) < 0)
                return std::nullopt;
            frames.insert(frames.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count * veclen));
            if (count == 0 && left == before)
                break;
        }
        std::int32_t count = 0;
        if (fe_end_utt(frontEnd, buffer.data(), &count) < 0)
            return std::nullopt;
        if (count > 0)
            frames.insert(frames.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(veclen));

        const std::size_t total = frames.size() / veclen;
        if (total == 0)
            return std::nullopt;
        std::vector<mfcc_t> energies(total);
        for (std::size_t f = 0; f < total; ++f)
            energies[f] = frames[f * veclen];
        std::sort(energies.begin(), energies.end());
        const mfcc_t quiet = energies[total / 10];
        const mfcc_t loud = energies[total - 1 - total / 10];
        const mfcc_t threshold = quiet + (loud - quiet) / 3;
        Heard heard;
        const std::size_t loudFrom = total * 7 / 10;
        heard.loudest = static_cast<float>(
            std::accumulate(energies.begin() + static_cast<std::ptrdiff_t>(loudFrom), energies.end(), 0.0)
            / static_cast<double>(total - loudFrom));
        std::vector<double> sum(veclen, 0.0);
        std::size_t speech = 0;
        for (std::size_t f = 0; f < total; ++f) {
            if (frames[f * veclen] <= threshold)
                continue;
            for (std::size_t i = 0; i < veclen; ++i)
                sum[i] += frames[f * veclen + i];
            ++speech;
        }
        if (speech == 0)
            return std::nullopt;
        heard.speech = speech;
        heard.speechMean.resize(veclen);
        for (std::size_t i = 0; i < veclen; ++i)
            heard.speechMean[i] = static_cast<float>(sum[i] / static_cast<double>(speech));
        return heard;
    }

public:
    static std::vector<float> meanOf(ps_decoder_t* decoder)
    {
        const cmn_t* cmn = cmnOf(decoder);
        return cmn ? std::vector<float>(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen) : std::vector<float>{};
    }

    const std::vector<mfcc_t>& mean() const { return mean_; }

private:
    static cmn_t* cmnOf(ps_decoder_t* decoder)
    {
        feat_t* features = ps_get_feat(decoder);
        cmn_t* cmn = features ? features->cmn_struct : nullptr;
        return cmn && cmn->cmn_mean && cmn->sum && cmn->veclen > 0 ? cmn : nullptr;
    }

    std::vector<mfcc_t> mean_;
    std::vector<mfcc_t> sum_;
    std::int32_t frames_ = 0;
};

// Both means together, each weighed by the frames behind it.
inline ChannelMean blended(const ChannelMean& earlier, const ChannelMean& now)
{
    const auto frames = static_cast<float>(earlier.frames + now.frames);
    ChannelMean mean{earlier.mean, std::min(earlier.frames + now.frames, ChannelEstimate::window)};
    for (std::size_t i = 0; i < mean.mean.size() && i < now.mean.size(); ++i)
        mean.mean[i] =
            (earlier.mean[i] * static_cast<float>(earlier.frames) + now.mean[i] * static_cast<float>(now.frames))
            / frames;
    return mean;
}

// A share of the way from an estimate of the channel to the mean of an
// utterance's speech; numbers `start` lacks stay the speech's.
inline std::vector<float> toward(const std::vector<float>& start, const std::vector<float>& speech, float share)
{
    auto mean = speech;
    for (std::size_t i = 0; i < mean.size() && i < start.size(); ++i)
        mean[i] = start[i] + (speech[i] - start[i]) * share;
    return mean;
}

// Where, as shares of the way from the model's own estimate, a source's
// first utterances are decoded again: the channel most likely lies there
// (see SphinxUtteranceLearning::decodeAtLikeliest).
inline constexpr std::array<float, 2> likelyShares{0.5f, 0.8f};

}  // namespace parlaro::sys
