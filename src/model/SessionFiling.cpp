#include "model/SessionFiling.h"

#include "model/ModelTask.h"
#include "runtime/Sleep.h"
#include "runtime/UuidSource.h"
#include "speech/Localization.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace parlaro {

SessionFiling::SessionFiling(Feeds feeds, FieldWriter write, rt::ObservationHub* owner)
    : sessionID(std::nullopt, owner), lastSessionEntry(std::nullopt, owner), sessionOf({}, owner),
      dirtySessions({}, owner), feeds_(std::move(feeds)), write_(write)
{
}

void SessionFiling::use(std::shared_ptr<ConversationHistory> store)
{
    store_ = std::move(store);
    deletions_.reset();
    if (store_)
        deletions_ =
            store_->subscribeDeletions([this](const ConversationHistory::Deletion& deletion) { forget(deletion); });
}

void SessionFiling::transcriptDidChange(const std::vector<ConversationEntry>& oldValue)
{
    // While saving is off nothing is even assigned: those entries are saved
    // only if they change again once it is back on.
    if (!store_ || !store_->isEnabled())
        return;

    std::unordered_map<rt::Uuid, const ConversationEntry*> previous;
    previous.reserve(oldValue.size());
    for (const ConversationEntry& entry : oldValue)
        previous.emplace(entry.id, &entry);

    std::map<rt::Uuid, rt::Uuid> assigned = sessionOf.get();
    std::vector<rt::Uuid> dirty = dirtySessions.get();
    bool marked = false;
    for (const ConversationEntry& entry : feeds_.transcript()) {
        if (const auto before = previous.find(entry.id); before != previous.end() && *before->second == entry)
            continue;
        if (deleted_.contains(entry.id))
            continue;
        auto session = assigned.find(entry.id);
        if (session == assigned.end()) {
            const auto& last = lastSessionEntry.get();
            // An entry dated before the last one gives a negative gap and stays.
            if (!sessionID.get() || !last || entry.time - *last > sessionGap)
                write_.set(sessionID, rt::newUuid());
            session = assigned.emplace(entry.id, *sessionID.get()).first;
            write_.set(lastSessionEntry, entry.time);
        }
        if (std::find(dirty.begin(), dirty.end(), session->second) == dirty.end())
            dirty.push_back(session->second);
        marked = true;
    }
    if (marked) {
        write_.set(sessionOf, std::move(assigned));
        write_.set(dirtySessions, std::move(dirty));
    }

    // The write comes saveDelay after the first unsaved change; later changes
    // ride along instead of pushing it back.
    if (!dirtySessions.get().empty())
        scheduleSave();
}

void SessionFiling::scheduleSave()
{
    if (saveTask_)
        return;
    saveTask_ = spawnOnModel(weak_from_this(), [](SessionFiling& filing) { return filing.flushAfterDelay(); });
}

rt::Async<void> SessionFiling::flushAfterDelay()
{
    const std::weak_ptr<SessionFiling> weak = weak_from_this();
    try {
        co_await rt::sleepFor(saveDelay);
    } catch (const rt::CancellationError&) {
        // A flush took over; the check below ends the task.
    }
    if (rt::isCancelled() || weak.expired())
        co_return;
    flush();
}

ConversationSession SessionFiling::pendingSession(const rt::Uuid& id) const
{
    ConversationSession session{.id = id, .entries = {}};
    const std::map<rt::Uuid, rt::Uuid>& assigned = sessionOf.get();
    for (const ConversationEntry& entry : feeds_.transcript()) {
        const auto found = assigned.find(entry.id);
        if (found != assigned.end() && found->second == id)
            session.entries.push_back(entry);
    }
    const auto unsaved = unsavedSessions_.find(id);
    if (unsaved == unsavedSessions_.end())
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

void SessionFiling::flush()
{
    saveTask_.cancel();
    saveTask_ = {};
    const std::shared_ptr<ConversationHistory> store = store_;
    if (!store)
        return;
    std::vector<rt::Uuid> pending = dirtySessions.get();
    for (const auto& [id, session] : unsavedSessions_) {
        if (std::find(pending.begin(), pending.end(), id) == pending.end())
            pending.push_back(id);
    }
    std::optional<std::string> failure;
    for (const rt::Uuid& id : pending) {
        ConversationSession session = pendingSession(id);
        // Writes nothing while saving is off; the session counts as handed over.
        if (std::optional<std::string> why = store->save(session)) {
            failure = std::move(why);
            unsavedSessions_.insert_or_assign(id, std::move(session));
        } else {
            unsavedSessions_.erase(id);
        }
    }
    write_.set(dirtySessions, {});
    if (unsavedSessions_.empty()) {
        tellWhenAllSaved();
        return;
    }
    if (failure) {
        const bool told = failure_.has_value();
        failure_ = WriteFailure{store->directory(), *failure};
        if (!told)
            feeds_.tell(localized("无法把对话记录保存到 %@（%@）。对话会先保留，能写入时自动保存。",
                                  pathText(store->directory().string()), *failure));
    }
    scheduleSave();
}

void SessionFiling::tellWhenAllSaved()
{
    if (!unsavedSessions_.empty())
        return;
    failure_.reset();
    feeds_.tell(std::nullopt);
}

void SessionFiling::closeSession()
{
    write_.set(sessionID, std::nullopt);
    write_.set(lastSessionEntry, std::nullopt);
}

void SessionFiling::forgetTranscript()
{
    write_.set(sessionOf, {});
    // The deleted entries left with the transcript; none can change again.
    deleted_.clear();
}

void SessionFiling::forget(const ConversationHistory::Deletion& deletion)
{
    const auto covers = [&](const rt::Uuid& session) { return deletion.all || deletion.sessions.contains(session); };
    std::map<rt::Uuid, rt::Uuid> assigned = sessionOf.get();
    for (auto it = assigned.begin(); it != assigned.end();) {
        if (covers(it->second)) {
            deleted_.insert(it->first);
            it = assigned.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<rt::Uuid> dirty = dirtySessions.get();
    std::erase_if(dirty, covers);
    const bool heldAny = !unsavedSessions_.empty();
    std::erase_if(unsavedSessions_, [&](const auto& held) { return covers(held.first); });
    if (sessionID.get() && covers(*sessionID.get()))
        closeSession();
    write_.set(sessionOf, std::move(assigned));
    write_.set(dirtySessions, std::move(dirty));
    if (heldAny)
        tellWhenAllSaved();
}

std::optional<SessionFiling::UnsavedHistory> SessionFiling::unsavedHistory() const
{
    if (!failure_)
        return std::nullopt;
    return UnsavedHistory{unsavedSessions_.size(), failure_->folder, failure_->reason};
}

std::vector<ConversationSession> SessionFiling::unsavedConversations() const
{
    std::vector<ConversationSession> sessions;
    for (const auto& [id, session] : unsavedSessions_)
        sessions.push_back(pendingSession(id));
    return sessions;
}

}  // namespace parlaro
