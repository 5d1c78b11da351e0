#pragma once

#include "platform/EngineNames.h"
#include "platform/TranslationSession.h"
#include "speech/TranslationHost.h"
#include "speech/TranslationService.h"

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace parlaro {

// Translation through sessions made directly for installed languages, one
// per ordered pair, kept until a translation through it fails or until
// reset(). Downloads still go through the translation host, because the
// system's download prompt needs a window.
//
// A translation is given the host's patience (30 s until the pair has
// answered once since the last reset, then 10 s). One that is not answered
// in time fails with the host's TR-5 and drops the pair's session, so the
// next call gets a new one; calls still waiting on that session fail with
// TR-5 too.
class DirectTranslation final : public TranslationService {
public:
    // Throws std::invalid_argument without a host.
    explicit DirectTranslation(std::shared_ptr<TranslationHost> host);

    std::string adapterName() const override { return EngineNames::current().directTranslation; }
    rt::Async<std::string> translate(std::string text, std::string source, std::string target) override;
    rt::Async<void> prepare(std::string source, std::string target) override;
    // Cancels every session and forgets them all; a download in progress in
    // the host goes on.
    void reset() override;

    std::size_t sessionCount() const { return state_->sessions.size(); }

    struct State {
        std::map<std::string, std::shared_ptr<TranslationSession>> sessions;
        // Pairs whose session has answered since the last reset.
        std::set<std::string> answered;
        // Sessions dropped because they stopped answering; a call of theirs
        // that fails afterwards reports that instead of the cancellation.
        std::vector<std::weak_ptr<TranslationSession>> abandoned;
    };

private:
    std::shared_ptr<State> state_;
    std::shared_ptr<TranslationHost> host_;
};

}  // namespace parlaro
