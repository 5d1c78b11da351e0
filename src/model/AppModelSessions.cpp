// Grouping the transcript into conversation sessions and writing the changed
// ones to the history in batches.

#include "model/AppModel.h"

#include "runtime/Sleep.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace parlaro {

void AppModel::entriesDidChange(const std::vector<ConversationEntry>& oldValue)
{
    const std::shared_ptr<ConversationHistory>& store = history.get();
    // While saving is off nothing is even assigned: those entries are saved
    // only if they change again once it is back on.
    if (!store || !store->isEnabled())
        return;

    std::unordered_map<rt::Uuid, const ConversationEntry*> previous;
    previous.reserve(oldValue.size());
    for (const ConversationEntry& entry : oldValue)
        previous.emplace(entry.id, &entry);

    std::map<rt::Uuid, rt::Uuid> assigned = sessionOf.get();
    std::vector<rt::Uuid> dirty = dirtySessions.get();
    bool marked = false;
    for (const ConversationEntry& entry : entries.get()) {
        if (const auto before = previous.find(entry.id); before != previous.end() && *before->second == entry)
            continue;
        auto session = assigned.find(entry.id);
        if (session == assigned.end()) {
            const auto& last = lastSessionEntry.get();
            // An entry dated before the last one gives a negative gap and stays.
            if (!sessionID.get() || !last || entry.time - *last > sessionGap)
                sessionID.set(newIdentifier());
            session = assigned.emplace(entry.id, *sessionID.get()).first;
            lastSessionEntry.set(entry.time);
        }
        if (std::find(dirty.begin(), dirty.end(), session->second) == dirty.end())
            dirty.push_back(session->second);
        marked = true;
    }
    if (marked) {
        sessionOf.set(std::move(assigned));
        dirtySessions.set(std::move(dirty));
    }

    // The write comes saveDelay after the first unsaved change; later changes
    // ride along instead of pushing it back.
    if (dirtySessions.get().empty() || saveTask)
        return;
    saveTask = rt::spawn([weak = weak_from_this()]() -> rt::Async<void> {
        try {
            co_await rt::sleepFor(saveDelay);
        } catch (const rt::CancellationError&) {
            // A flush took over; the check below ends the task.
        }
        if (rt::isCancelled())
            co_return;
        if (auto self = weak.lock())
            self->flushDirtySessions();
    });
}

void AppModel::flushDirtySessions()
{
    saveTask.cancel();
    saveTask = {};
    const std::shared_ptr<ConversationHistory> store = history.get();
    if (!store)
        return;
    const std::map<rt::Uuid, rt::Uuid>& assigned = sessionOf.get();
    for (const rt::Uuid& id : dirtySessions.get()) {
        ConversationSession session{.id = id, .entries = {}};
        for (const ConversationEntry& entry : entries.get()) {
            const auto found = assigned.find(entry.id);
            if (found != assigned.end() && found->second == id)
                session.entries.push_back(entry);
        }
        // Writes nothing while saving is off; the session counts as handed over.
        store->save(session);
    }
    dirtySessions.set({});
}

void AppModel::clearConversation()
{
    // The cleared sentences stay in the history.
    flushDirtySessions();
    sessionID.set(std::nullopt);
    lastSessionEntry.set(std::nullopt);
    setEntries({});
    sessionOf.set({});
}

void AppModel::closeConversationSession()
{
    flushDirtySessions();
    sessionID.set(std::nullopt);
    lastSessionEntry.set(std::nullopt);
}

}  // namespace parlaro
