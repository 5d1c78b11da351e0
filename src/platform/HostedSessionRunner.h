#pragma once

#include "platform/TranslationSession.h"
#include "runtime/Task.h"
#include "runtime/Uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace parlaro {

// What a hosted slot asks the system for: sessions of one ordered pair.
// Invalidating it (a new version) asks for a new session.
struct TranslationConfiguration {
    std::string source;
    std::string target;
    std::uint64_t version = 0;

    TranslationConfiguration invalidated() const { return {source, target, version + 1}; }
    bool operator==(const TranslationConfiguration&) const = default;
};

// Where older systems hand out translation sessions: to a slot shown in a
// window, by running the slot's action with a session. For each slot id:
//  - slotAppeared starts a run (now or later) with a new session;
//  - configurationChanged cancels the slot's run and starts another one with
//    a new session;
//  - slotRemoved cancels the slot's run.
// A run is a main-actor task; cancelling it only cancels the task, the
// session it was given stays as it is. All calls come from the main actor.
class HostedSessionRunner {
public:
    using Action = std::function<rt::Async<void>(std::shared_ptr<TranslationSession>)>;

    virtual ~HostedSessionRunner() = default;

    virtual void slotAppeared(rt::Uuid slot, TranslationConfiguration configuration, Action action) = 0;
    virtual void configurationChanged(rt::Uuid slot, TranslationConfiguration configuration) = 0;
    virtual void slotRemoved(rt::Uuid slot) = 0;
};

}  // namespace parlaro
