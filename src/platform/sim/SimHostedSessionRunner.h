#pragma once

#include "platform/HostedSessionRunner.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>

namespace parlaro::sim {

// Runs hosted slots' actions as main-actor tasks, like the system does for a
// window's views. Runs start at once by default; a test can hold them back
// and start them later, as a system that is slow to show a view would.
class SimHostedSessionRunner : public HostedSessionRunner {
public:
    using SessionMaker = std::function<std::shared_ptr<TranslationSession>(const TranslationConfiguration&)>;

    explicit SimHostedSessionRunner(SessionMaker makeSession) : makeSession_(std::move(makeSession)) {}

    void slotAppeared(rt::Uuid slot, TranslationConfiguration configuration, Action action) override;
    void configurationChanged(rt::Uuid slot, TranslationConfiguration configuration) override;
    void slotRemoved(rt::Uuid slot) override;

    // While false, runs wait until startPendingRuns().
    void setStartsRunsAtOnce(bool atOnce) { startsAtOnce_ = atOnce; }
    void startPendingRuns();

    std::size_t slotCount() const { return slots_.size(); }
    std::size_t runsStarted() const { return runsStarted_; }
    std::size_t runsCancelled() const { return runsCancelled_; }
    std::size_t pendingRuns() const;

private:
    struct Slot {
        TranslationConfiguration configuration;
        Action action;
        rt::TaskHandle<> run;
        bool pending = false;
    };
    void begin(Slot& slot);
    void stop(Slot& slot);

    SessionMaker makeSession_;
    bool startsAtOnce_ = true;
    std::map<rt::Uuid, Slot> slots_;
    std::size_t runsStarted_ = 0;
    std::size_t runsCancelled_ = 0;
};

}  // namespace parlaro::sim
