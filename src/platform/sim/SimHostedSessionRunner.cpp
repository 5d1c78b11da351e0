#include "platform/sim/SimHostedSessionRunner.h"

namespace parlaro::sim {

void SimHostedSessionRunner::slotAppeared(rt::Uuid slot, TranslationConfiguration configuration, Action action)
{
    auto& entry = slots_[slot];
    stop(entry);
    entry.configuration = std::move(configuration);
    entry.action = std::move(action);
    begin(entry);
}

void SimHostedSessionRunner::configurationChanged(rt::Uuid slot, TranslationConfiguration configuration)
{
    auto it = slots_.find(slot);
    if (it == slots_.end())
        return;
    stop(it->second);
    it->second.configuration = std::move(configuration);
    begin(it->second);
}

void SimHostedSessionRunner::slotRemoved(rt::Uuid slot)
{
    auto it = slots_.find(slot);
    if (it == slots_.end())
        return;
    stop(it->second);
    slots_.erase(it);
}

void SimHostedSessionRunner::startPendingRuns()
{
    for (auto& [id, slot] : slots_) {
        if (slot.pending) {
            slot.pending = false;
            auto session = makeSession_(slot.configuration);
            slot.run = rt::spawn([action = slot.action, session]() { return action(session); });
            ++runsStarted_;
        }
    }
}

std::size_t SimHostedSessionRunner::pendingRuns() const
{
    std::size_t count = 0;
    for (const auto& [id, slot] : slots_)
        count += slot.pending ? 1 : 0;
    return count;
}

void SimHostedSessionRunner::begin(Slot& slot)
{
    slot.pending = true;
    if (startsAtOnce_)
        startPendingRuns();
}

void SimHostedSessionRunner::stop(Slot& slot)
{
    slot.pending = false;
    if (slot.run && !slot.run.isFinished() && !slot.run.isCancelled()) {
        slot.run.cancel();
        ++runsCancelled_;
    }
    slot.run = {};
}

}  // namespace parlaro::sim
