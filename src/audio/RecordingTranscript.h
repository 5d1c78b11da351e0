#pragma once

#include <string>

namespace parlaro {

// The texts of one recording, shared by the recorder and that recording's
// result callback. Touched on the main actor only.
class RecordingTranscript {
public:
    // Committed text received after finishing began.
    std::string finalText;
    // The session's current partial text.
    std::string partial;
    // Finishing has begun: final results go into finalText from now on.
    bool finishing = false;

    // What the recording has said so far: the final text followed by the
    // partial text, trimmed.
    std::string text() const { return trimmed(finalText + partial); }

    // Without leading and trailing white space and new lines.
    static std::string trimmed(const std::string& text);
    // A final result sent while the key is held, as it is handed on: without
    // the white space and the separators ",.，、。…;；:：" it begins with,
    // trimmed.
    static std::string sentence(const std::string& text);
};

}  // namespace parlaro
