#pragma once

#include "platform/AudioProperty.h"
#include "platform/PcmBuffer.h"
#include "runtime/Task.h"

#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// How the call session speaks: render a text with a voice and play it on
// several output devices at once, play buffers already rendered on one
// device, and stop everything.
class SpeechPlaying {
public:
    virtual ~SpeechPlaying() = default;

    // Renders the text, then plays it on every device at once; returns when
    // all have finished.
    virtual rt::Async<void> speak(std::string text, std::vector<AudioObjectId> devices,
                                  std::optional<std::string> voiceIdentifier) = 0;
    // The same with the arguments in the other order.
    rt::Async<void> speak(std::string text, std::optional<std::string> voiceIdentifier,
                          std::vector<AudioObjectId> devices)
    {
        return speak(std::move(text), std::move(devices), std::move(voiceIdentifier));
    }
    virtual rt::Async<void> play(std::vector<PcmBuffer> buffers, AudioObjectId deviceID) = 0;
    virtual void stop() = 0;
};

}  // namespace parlaro
