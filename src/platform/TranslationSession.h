#pragma once

#include "runtime/Error.h"
#include "runtime/Task.h"

#include <string>
#include <utility>

namespace parlaro {

// One translation session of the system for one ordered language pair.
class TranslationSession {
public:
    virtual ~TranslationSession() = default;

    // The translated text; fails with the system's error.
    virtual rt::Async<std::string> translate(std::string text) = 0;
    // Makes the pair's pack available; this is where the system may ask the
    // user to download it.
    virtual rt::Async<void> prepareTranslation() = 0;
    // Ends the session: calls in flight and later calls fail.
    virtual void cancel() = 0;
};

// A failure of a translation back end that has no words of its own for the
// user. The program words it in the interface language where it reports it;
// description() is only the fallback for logs.
class TranslationPlatformError : public Error {
public:
    enum class Reason {
        notInstalled,   // the pair's pack is missing; `package` would provide it
        unsupported,    // no pack exists for the pair
        noOutput,       // the translator answered with nothing
        failedToStart,  // the translator could not be started; `detail` says why
        notResponding,  // the translator stopped answering and was restarted
        cancelled,      // the session was cancelled
    };

    TranslationPlatformError(Reason reason, std::string source, std::string target, std::string package = {},
                             std::string detail = {})
        : reason_(reason), source_(std::move(source)), target_(std::move(target)), package_(std::move(package)),
          detail_(std::move(detail))
    {
    }

    Reason reason() const { return reason_; }
    const std::string& source() const { return source_; }
    const std::string& target() const { return target_; }
    const std::string& package() const { return package_; }
    const std::string& detail() const { return detail_; }

    std::string localizedDescription() const override
    {
        const std::string pair = source_ + " > " + target_;
        switch (reason_) {
        case Reason::notInstalled:
            return "translation pack " + pair + " is not installed (package " + package_ + ")";
        case Reason::unsupported:
            return "translation " + pair + " is not supported";
        case Reason::noOutput:
            return "translator gave no output for " + pair;
        case Reason::failedToStart:
            return "translator for " + pair + " could not start: " + detail_;
        case Reason::notResponding:
            return "translator for " + pair + " stopped responding";
        case Reason::cancelled:
            return "translation session " + pair + " was cancelled";
        }
        return "translation " + pair + " failed";
    }

private:
    Reason reason_;
    std::string source_;
    std::string target_;
    std::string package_;
    std::string detail_;
};

}  // namespace parlaro
