// Grouping the transcript into conversation sessions and writing the changed
// ones to the history in batches.

#include "model/AppModel.h"

#include "runtime/Sleep.h"
#include "speech/Localization.h"

#include <algorithm>
#include <iterator>
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
    if (!dirtySessions.get().empty())
        scheduleSessionSave();
}

void AppModel::scheduleSessionSave()
{
    if (saveTask)
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

ConversationSession AppModel::pendingSession(const rt::Uuid& id) const
{
    ConversationSession session{.id = id, .entries = {}};
    const std::map<rt::Uuid, rt::Uuid>& assigned = sessionOf.get();
    for (const ConversationEntry& entry : entries.get()) {
        const auto found = assigned.find(entry.id);
        if (found != assigned.end() && found->second == id)
            session.entries.push_back(entry);
    }
    const auto unsaved = unsavedSessions.find(id);
    if (unsaved == unsavedSessions.end())
        return session;
    // Entries cleared from the transcript since are older than any still in it.
    std::vector<ConversationEntry> merged;
    for (const ConversationEntry& kept : unsaved->second.entries) {
        if (std::none_of(session.entries.begin(), session.entries.end(),
                         [&](const ConversationEntry& entry) { return entry.id == kept.id; }))
            merged.push_back(kept);
    }
    merged.insert(merged.end(), std::make_move_iterator(session.entries.begin()),
                  std::make_move_iterator(session.entries.end()));
    session.entries = std::move(merged);
    return session;
}

void AppModel::flushDirtySessions()
{
    saveTask.cancel();
    saveTask = {};
    const std::shared_ptr<ConversationHistory> store = history.get();
    if (!store)
        return;
    std::vector<rt::Uuid> pending = dirtySessions.get();
    for (const auto& [id, session] : unsavedSessions) {
        if (std::find(pending.begin(), pending.end(), id) == pending.end())
            pending.push_back(id);
    }
    std::optional<std::string> failure;
    for (const rt::Uuid& id : pending) {
        ConversationSession session = pendingSession(id);
        // Writes nothing while saving is off; the session counts as handed over.
        if (std::optional<std::string> why = store->save(session)) {
            failure = std::move(why);
            unsavedSessions.insert_or_assign(id, std::move(session));
        } else {
            unsavedSessions.erase(id);
        }
    }
    dirtySessions.set({});
    if (unsavedSessions.empty()) {
        historyWriteFailure.reset();
        historyNotice.set(std::nullopt);
        return;
    }
    if (failure) {
        const bool told = historyWriteFailure.has_value();
        historyWriteFailure = HistoryWriteFailure{store->directory(), *failure};
        if (!told)
            historyNotice.set(localized("无法把对话记录保存到 %@（%@）。对话会先保留，能写入时自动保存。",
                                        store->directory().string(), *failure));
    }
    scheduleSessionSave();
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

std::optional<AppModel::UnsavedHistory> AppModel::unsavedHistory() const
{
    if (!historyWriteFailure)
        return std::nullopt;
    return UnsavedHistory{unsavedSessions.size(), historyWriteFailure->folder, historyWriteFailure->reason};
}

std::vector<ConversationSession> AppModel::unsavedConversations() const
{
    std::vector<ConversationSession> sessions;
    for (const auto& [id, session] : unsavedSessions)
        sessions.push_back(pendingSession(id));
    return sessions;
}

void AppModel::closeConversationSession()
{
    flushDirtySessions();
    sessionID.set(std::nullopt);
    lastSessionEntry.set(std::nullopt);
}

}  // namespace parlaro
