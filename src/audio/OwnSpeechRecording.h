#pragma once

#include "platform/AudioProperty.h"
#include "runtime/Task.h"
#include "speech/SpeechEngine.h"

#include <functional>
#include <optional>
#include <string>

namespace parlaro {

// The user's speech recorder for hold-to-talk, as its owner holds it. One
// press: start; on release stopCapture() at once, then finish(); cancel()
// at any time.
class OwnSpeechRecording {
public:
    // Everything a press gives the recorder. The callbacks run on the main
    // actor.
    struct Request {
        Request(std::string locale, SpeechEngine engine, bool held, std::optional<AudioObjectId> deviceID,
                std::function<void(const std::string&)> onLiveText, std::function<void(const std::string&)> onSentence,
                std::function<void(const std::string&)> onErrorText, std::function<bool()> isPressCurrent)
            : locale(std::move(locale)), engine(engine), held(held), deviceID(deviceID),
              onLiveText(std::move(onLiveText)), onSentence(std::move(onSentence)), onErrorText(std::move(onErrorText)),
              isPressCurrent(std::move(isPressCurrent))
        {
        }

        // The recognition locale of the user's language.
        std::string locale;
        SpeechEngine engine;
        // Sentences are sent while the key is held.
        bool held;
        // The microphone; the system default input when none.
        std::optional<AudioObjectId> deviceID;
        // What has been said so far, for display.
        std::function<void(const std::string&)> onLiveText;
        // A finished sentence while the key is held.
        std::function<void(const std::string&)> onSentence;
        // A failure while recording, as the text to show.
        std::function<void(const std::string&)> onErrorText;
        // The owner's check that this press is still going on.
        std::function<bool()> isPressCurrent;
    };

    virtual ~OwnSpeechRecording() = default;

    // Starts recognition, then the microphone. Throws what the session or
    // the microphone throws, and rt::CancellationError when the press ended
    // meanwhile.
    virtual rt::Async<void> start(Request request) = 0;
    // Stops the microphone; what the echo gate still holds goes to the
    // session.
    virtual void stopCapture() = 0;
    // Stops the capture, lets recognition finish and gives the final text.
    // Throws only rt::CancellationError.
    virtual rt::Async<std::string> finish() = 0;
    // Drops the recording; returns without waiting for the session.
    virtual rt::Async<void> cancel() = 0;
};

}  // namespace parlaro
