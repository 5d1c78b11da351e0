#pragma once

namespace parlaro {

// What the running system offers beyond the baseline, decided once when the
// application builds its object graph. Parts without an owner to hand them
// the value (the speech engine queries and session factory) read the
// installed one.
struct PlatformCapabilities {
    // The newer speech and translation facilities: the speech analyzer with
    // its transcribers and model downloads, and translation sessions that can
    // be made directly for installed languages, without a window hosting
    // them. Off on Linux, where every session is served through the host.
    bool newerSpeechAndTranslation = false;

    bool operator==(const PlatformCapabilities&) const = default;

    // The installed capabilities; all off when none are installed.
    static const PlatformCapabilities& current();
};

// Installs capabilities for the lifetime of the scope, restoring the previous
// ones afterwards.
class PlatformCapabilitiesScope {
public:
    explicit PlatformCapabilitiesScope(PlatformCapabilities capabilities);
    ~PlatformCapabilitiesScope();
    PlatformCapabilitiesScope(const PlatformCapabilitiesScope&) = delete;
    PlatformCapabilitiesScope& operator=(const PlatformCapabilitiesScope&) = delete;

private:
    PlatformCapabilities previous_;
};

}  // namespace parlaro
