#pragma once

namespace parlaro {

// What the running system offers beyond the baseline, decided once when the
// application builds its object graph.
struct PlatformCapabilities {
    // The newer speech and translation facilities: translation sessions that
    // can be made directly for installed languages, without a window hosting
    // them. Off on Linux, where every session is served through the host.
    bool newerSpeechAndTranslation = false;
};

} // namespace parlaro
