#pragma once

namespace parlaro {

class SettingsStore;
class PreferredLanguages;
class TextServices;
class ResourceBundles;

// The operating-system services that process-wide parts of the program reach
// without an owner to hand them in (the interface language, the call
// language table). The application installs the real backends once at start;
// a test installs the sim. Components with an owner take their services in
// their constructors instead.
struct PlatformServices {
    SettingsStore* defaults = nullptr;
    // The system-wide ("global domain") preferred languages, never the
    // application's own choice.
    PreferredLanguages* preferredLanguages = nullptr;
    TextServices* text = nullptr;
    ResourceBundles* bundles = nullptr;
};

// The installed services; throws std::logic_error when none are installed.
const PlatformServices& platform();

// Installs services for the lifetime of the scope, restoring the previous set.
class PlatformScope {
public:
    explicit PlatformScope(PlatformServices services);
    ~PlatformScope();
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    PlatformServices previous_;
};

}  // namespace parlaro
