#pragma once

#include "platform/TranslationPlatform.h"
#include "platform/sim/SimHostWindow.h"
#include "platform/sim/SimHostedSessionRunner.h"

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace parlaro::sim {

// How a simulated session answers one call.
struct SimReply {
    enum class Kind { answer, hang, fail };

    Kind kind = Kind::answer;
    std::string text;
    std::exception_ptr error;
    double delay = 0;  // virtual seconds on the continuous clock

    static SimReply answer(std::string text, double after = 0) { return {Kind::answer, std::move(text), {}, after}; }
    static SimReply hang() { return {Kind::hang, {}, {}, 0}; }
    template <class E>
    static SimReply fail(E error, double after = 0)
    {
        return {Kind::fail, {}, std::make_exception_ptr(std::move(error)), after};
    }
};

// One call a simulated session received.
struct SimRequest {
    std::string source;
    std::string target;
    std::string text;  // empty for a prepare
    bool prepare = false;
    int session = 0;  // which session of the pair, from 1
};

using SimResponder = std::function<SimReply(const SimRequest&)>;

// The simulated translation system, installed (with its host windows) for
// the object's lifetime. Pairs are keyed by the identifiers exactly as
// given. A pair is unsupported until set otherwise; its sessions answer
// with the text unchanged at once until given a responder.
class SimTranslationPlatform : public TranslationPlatform {
public:
    SimTranslationPlatform();
    ~SimTranslationPlatform() override;
    SimTranslationPlatform(const SimTranslationPlatform&) = delete;
    SimTranslationPlatform& operator=(const SimTranslationPlatform&) = delete;

    void setStatus(const std::string& source, const std::string& target, LanguageAvailability::Status status);
    void setResponder(const std::string& source, const std::string& target, SimResponder responder);

    // Sessions of the pair made so far (hosted and direct), and how many of
    // them were cancelled (each counted once).
    int sessionsMade(const std::string& source, const std::string& target) const;
    int sessionsCancelled(const std::string& source, const std::string& target) const;
    int sessionsMade() const;

    std::unique_ptr<LanguageAvailability> makeLanguageAvailability() override;
    std::shared_ptr<TranslationSession> makeInstalledSession(std::string source, std::string target) override;
    HostedSessionRunner& hostedSessions() override { return runner; }

    SimHostedSessionRunner runner;
    SimHostWindows windows;

    struct PairState;

private:
    std::shared_ptr<PairState> pair(const std::string& source, const std::string& target);
    std::shared_ptr<TranslationSession> makeSession(const std::string& source, const std::string& target);

    std::map<std::pair<std::string, std::string>, LanguageAvailability::Status> statuses_;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<PairState>> pairs_;
    TranslationPlatformScope scope_;
};

}  // namespace parlaro::sim
