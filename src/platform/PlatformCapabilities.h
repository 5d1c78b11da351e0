#pragma once

namespace parlaro {

// What the running system offers beyond the base every supported system has.
// Callers that choose between an older and a newer service ask here instead
// of testing a system version.
struct PlatformCapabilities {
    // The newer speech and translation facilities: the speech analyzer with
    // its transcribers and model downloads, and translation sessions made
    // directly. Off on Linux.
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

} // namespace parlaro
