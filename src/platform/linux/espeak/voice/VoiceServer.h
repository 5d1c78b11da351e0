#pragma once

#include <optional>
#include <string>

namespace parlaro::sys {

// What a test makes the voice process do to a render whose text holds a
// marker, after its first sound: end at once, stop answering, or send that
// sound over and over without end.
struct VoiceFault {
    enum Kind { none, abort, hang, flood } kind = none;
    std::string marker;
};

// The voice process: the speech engine, alone in its address space, serving
// the program over the stream socket `fd` until the program goes away.
int serveVoices(int fd, const std::optional<std::string>& dataPath, const VoiceFault& fault);

}  // namespace parlaro::sys
