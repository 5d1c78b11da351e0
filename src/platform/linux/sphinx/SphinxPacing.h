#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxJobQueue.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro::sys {

// When the words of an utterance are read before its audio ends, on the
// decoding thread: the live text a few times a second of audio, and the
// search of the whole utterance once its speaker has gone quiet.
class SphinxPacing {
public:
    SphinxPacing(SphinxJobQueue& jobs, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                 std::size_t partialSamples, bool english)
        : jobs_(jobs), counts_(std::move(counts)), partialSamples_(partialSamples), english_(english)
    {
    }

    // The live text due once the task's decoder has decoded `samples` more,
    // where the task asks for it and it changed.
    std::optional<Transcription> partial(SphinxTaskState& task, std::size_t samples);

    // Searches the utterance so far once the speaker went quiet, as the end
    // of the audio would, so that the release finds its final text ready.
    // The first utterance of a source without an estimate is decoded again
    // at the end anyway (so is a later one whose channel moved, and then
    // this search is not used), and a decoder behind the audio searches
    // nothing yet: the next buffer brings the quiet again. Nor does one
    // past the frames its earlier utterances reached (see
    // SphinxDecoderPool::framesReached): there the library would read
    // outside its tables.
    void searchAheadIfQuiet(SphinxTaskState& task, const std::vector<std::int16_t>& samples);

    // The text of the best path through the lattice of what the task's
    // decoder heard so far, as the decoder's own search at the end of an
    // utterance finds it but without the posterior probabilities that
    // search also works out (a fifth of its time, and nobody reads them);
    // none when the decoder has no lattice.
    std::optional<Transcription> bestPath(SphinxTaskState& task) const;

private:
    SphinxJobQueue& jobs_;
    const std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts_;
    const std::size_t partialSamples_;
    const bool english_;
};

}  // namespace parlaro::sys
