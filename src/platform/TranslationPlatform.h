#pragma once

#include "platform/HostWindow.h"
#include "platform/HostedSessionRunner.h"
#include "platform/LanguageAvailability.h"
#include "platform/TranslationSession.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace parlaro {

// The system's translation facilities.
class TranslationPlatform {
public:
    virtual ~TranslationPlatform() = default;

    // A new availability query object; callers make one per question.
    virtual std::unique_ptr<LanguageAvailability> makeLanguageAvailability() = 0;
    // A session made directly, without a window, for a pair whose languages
    // are installed. Its calls fail when they are not.
    virtual std::shared_ptr<TranslationSession> makeInstalledSession(std::string source, std::string target) = 0;
    // The runner that hands sessions to hosted slots; lives as long as this.
    virtual HostedSessionRunner& hostedSessions() = 0;
};

// The translation facilities and the host window maker, installed once by the
// application (the window comes from the user interface, the sessions from a
// back end) or per test by the sim.
struct TranslationPlatformServices {
    TranslationPlatform* translation = nullptr;
    // None where the back end needs no window: its sessions live without one
    // and it shows no download prompt.
    HostWindowFactory* hostWindows = nullptr;
};

namespace detail {
inline TranslationPlatformServices& installedTranslationServices()
{
    static TranslationPlatformServices services;
    return services;
}
}  // namespace detail

// The installed translation facilities; throws std::logic_error when none.
inline TranslationPlatform& translationPlatform()
{
    auto* translation = detail::installedTranslationServices().translation;
    if (!translation)
        throw std::logic_error("no translation platform installed");
    return *translation;
}

// The installed host window maker, or none where no window is needed.
inline HostWindowFactory* hostWindowFactoryIfAny()
{
    return detail::installedTranslationServices().hostWindows;
}

// Installs services for the lifetime of the scope, restoring the previous set.
class TranslationPlatformScope {
public:
    explicit TranslationPlatformScope(TranslationPlatformServices services)
        : previous_(detail::installedTranslationServices())
    {
        detail::installedTranslationServices() = services;
    }
    ~TranslationPlatformScope() { detail::installedTranslationServices() = previous_; }
    TranslationPlatformScope(const TranslationPlatformScope&) = delete;
    TranslationPlatformScope& operator=(const TranslationPlatformScope&) = delete;

private:
    TranslationPlatformServices previous_;
};

}  // namespace parlaro
