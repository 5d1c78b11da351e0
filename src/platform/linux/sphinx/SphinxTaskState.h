#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxChannelEstimate.h"
#include "platform/linux/sphinx/SphinxSearchAhead.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::sys {

class SphinxFollower;

// The rate every model decodes: requests take 16 kHz mono 16-bit audio.
inline constexpr double sphinxSampleRate = 16000.0;

// The worker side of one task. Its decoder and text are touched only on the
// worker thread; the handler only on the main actor.
struct SphinxTaskState {
    SpeechRecognizer::ResultHandler handler;
    bool reportPartials = true;
    bool punctuate = false;
    std::atomic<bool> cancelled{false};
    // From the end of the audio until the last answer is on its way.
    std::atomic<bool> finishing{false};

    ps_decoder_t* decoder = nullptr;
    bool done = false;
    std::string lastHypothesis;
    // Where the last live text would have ended a sentence (see
    // transcriptionOf).
    std::vector<std::string> liveStops;
    // Samples decoded since the hypothesis was last looked at.
    std::size_t sinceHypothesis = 0;
    // Where the audio comes from (the request's audioSource).
    std::string source;
    // The decoder is still learning the source's channel (see
    // SphinxUtteranceLearning): the utterance's audio is kept, and the
    // estimate it began with.
    bool learning = false;
    ChannelEstimate atStart;
    std::vector<std::int16_t> heard;
    // Past the length an utterance is kept for.
    bool heardTooLong = false;
    // What the decoder normalises by is worth keeping for the next run.
    bool judged = true;
    // What the utterance taught of a source the decoder had no estimate
    // of, kept for the next run in place of what it normalises by now.
    std::optional<ChannelMean> taught;
    // Without an estimate of the source: more decoders follow the
    // utterance as it is spoken (see SphinxFollowing), from the
    // estimates the first `followedFrom` samples gave, counted from a
    // second before its voice (see SphinxFollowing::quietCounted).
    bool withoutEstimate = false;
    std::vector<SphinxFollower*> followers;
    std::size_t followedFrom = 0;
    // Where the source's voice begins in `earlier` and `heard` together,
    // once it has.
    std::optional<std::size_t> voiceFrom;
    // The audio of the source's first utterance, where it taught the
    // estimate this one starts from: this one is followed too, from
    // estimates that both stand on.
    std::vector<std::int16_t> earlier;
    // The final text when it is not the decoder's last hypothesis (see
    // SphinxUtteranceLearning::decodeAtLikeliest), and the estimate it was
    // decoded at where one of the likely estimates gave it.
    std::optional<Transcription> chosen;
    std::vector<float> chosenAt;
    // The utterance was decoded again at its end (see
    // SphinxUtteranceLearning): the decoder's text is that decoding's.
    bool decodedAgain = false;
    // The words searched once the speaker went quiet (see SphinxSearchAhead).
    SphinxSearchAhead ahead{searchAheadQuiet, searchAheadVoice};
    std::optional<Transcription> searchedAhead;
    // Seconds the last search ahead took.
    double searchAheadTook = 0;
    // How many frames the decoder's earlier utterances reached (see
    // SphinxDecoderPool::framesReached).
    std::int32_t framesReached = 0;

    // An utterance longer than this is not kept to be decoded again.
    static constexpr std::size_t longestKept = static_cast<std::size_t>(60 * sphinxSampleRate);
    // Quiet before the search runs ahead: a speaker who stops for a fifth
    // of a second has most likely said the sentence, and a caption commits
    // at a pause of 0.3 s. A shorter quiet (a few hundredths, to catch a
    // key let go a tenth of a second after the last word) searched so often
    // inside words that the searches thrown away cost a press as much as
    // they saved: on a dense ten-second reply later presses spoke no sooner.
    static constexpr std::size_t searchAheadQuiet = static_cast<std::size_t>(0.2 * sphinxSampleRate);
    // What the session counts as voice for its own pause (1% of full scale).
    static constexpr std::int16_t searchAheadVoice = 328;
    // A search ahead thrown away keeps the decoder from the audio as long as
    // it took, which the release then waits for; one no quicker than this
    // saves less than it risks (on a busy computer), and the task's later
    // quiets are left to the search at the end.
    static constexpr double slowestSearchAhead = 0.08;
};

}  // namespace parlaro::sys
