#include "platform/linux/sphinx/SphinxInputLearning.h"

#include "platform/linux/sphinx/SphinxChannelEstimate.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace parlaro::sys {

namespace {

// Whether an utterance long enough to judge sounded otherwise than the
// kept estimate: louder or softer by more than one utterance's words,
// or one speaker against another, move the level of its loudest frames
// (about 4 dB; a decibel moves it by about 1.1), or with another shape
// of its speech than different sentences of one speaker give. Where
// what was kept does not say how the input sounded (an older file), its
// mean's first number stands in, which the share of pauses moves too.
bool soundsOtherwise(const ChannelMean& kept, const ChannelMean& now, const std::optional<std::vector<float>>& sound)
{
    constexpr float levelApart = 5.0f;
    constexpr float shapeApart = 12.0f;
    if (!sound || kept.sound.size() != sound->size()) {
        constexpr float energyApart = 10.0f;
        return !kept.mean.empty() && !now.mean.empty() && std::abs(now.mean.front() - kept.mean.front()) > energyApart;
    }
    if (std::abs(sound->front() - kept.sound.front()) > levelApart)
        return true;
    double squares = 0;
    for (std::size_t i = 1; i < sound->size(); ++i)
        squares += std::pow((*sound)[i] - kept.sound[i], 2);
    return std::sqrt(squares / static_cast<double>(sound->size() - 1)) > shapeApart;
}

// The kept sound and the utterance's, each weighed by its frames.
std::vector<float> blendedSound(const ChannelMean& kept, const std::vector<float>& sound, std::int32_t frames)
{
    if (kept.sound.size() != sound.size())
        return sound;
    const float total = static_cast<float>(kept.frames + frames);
    std::vector<float> both(sound.size());
    for (std::size_t i = 0; i < sound.size(); ++i)
        both[i] = (kept.sound[i] * static_cast<float>(kept.frames) + sound[i] * static_cast<float>(frames)) / total;
    return both;
}

}  // namespace

SphinxInputLearning::Lesson SphinxInputLearning::learnFrom(ps_decoder_s* decoder, const std::string& heardFrom,
                                                           const ChannelMean& learnt,
                                                           const std::vector<std::int16_t>& heard,
                                                           const std::vector<float>& start)
{
    Lesson lesson;
    auto heardSound =
        learnt.frames >= framesToJudge ? ChannelEstimate::soundOf(decoder, heard, framesToJudge) : std::nullopt;
    if (kept) {
        auto earlier = *kept;
        if (learnt.frames < framesToJudge) {
            // Too little to judge by: the kept estimate stands, and so
            // does the file.
            ChannelEstimate::normaliseBy(decoder, earlier.mean);
            lesson.judged = false;
            return lesson;
        }
        // Either way the estimate goes on from both. Where the source
        // sounds otherwise than it did (another gain, another room),
        // what was kept counts for little, and the utterance is decoded
        // again with what it taught; so it is where too little speech
        // stood behind what was kept (a short first reply) and the
        // estimate moved.
        const bool otherwise = soundsOtherwise(earlier, learnt, heardSound);
        if (otherwise)
            earlier.frames = std::min(earlier.frames, framesToJudge);
        auto both = blended(earlier, learnt);
        lesson.again = otherwise || (earlier.frames < framesToTrust && !near(earlier.mean, both.mean));
        ChannelEstimate::set(decoder, both);
        both.sound = heardSound ? blendedSound(earlier, *heardSound, learnt.frames) : earlier.sound;
        *this = {heardFrom, std::nullopt, true, std::move(both.sound), {}, std::move(heardAt)};
    } else {
        lesson.again = !near(start, learnt.mean);
        kept = learnt;
        kept->sound = sound = heardSound.value_or(std::vector<float>{});
    }
    return lesson;
}

void SphinxInputLearning::carryOver(ps_decoder_s* decoder, std::vector<float> chosenAt)
{
    if (heardAt.empty())
        heardAt = std::move(chosenAt);
    if (heardAt.size() == ChannelEstimate::length(decoder))
        ChannelEstimate::normaliseBy(decoder, heardAt);
}

bool SphinxInputLearning::near(const std::vector<float>& a, const std::vector<float>& b)
{
    constexpr float apart = 0.5f;
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) { return std::abs(x - y) <= apart; });
}

// Whether a decoder of the model could have learnt the estimate: the
// front end's cepstra of any 16-bit sound, full-scale noise or a clipped
// square wave included, stay within about a hundred of where the model
// starts; a file can say anything.
bool SphinxInputLearning::learnable(const std::vector<float>& mean, const std::vector<float>& modelStart)
{
    constexpr float farthest = 120.0f;
    return mean.size() == modelStart.size()
        && std::equal(mean.begin(), mean.end(), modelStart.begin(),
                      [](float value, float start) { return std::abs(value - start) <= farthest; });
}

}  // namespace parlaro::sys
