#pragma once

namespace parlaro {

// How a recognition session reports what it hears.
enum class RecognitionMode {
    // Listening to the other party without end: partial text and final
    // sentences; a new request after every final result; a pause commits.
    continuous,
    // Hold-to-talk that sends while the key is held: finished sentences are
    // cut out of the growing partial text and each is delivered once as
    // final; partial and final texts carry only the unreleased rest.
    held,
    // Hold-to-talk otherwise: partial text while speaking, one final text
    // at the end, no pause commit.
    utterance,
};

}  // namespace parlaro
