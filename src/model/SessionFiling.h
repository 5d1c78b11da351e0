#pragma once

#include "history/ConversationEntry.h"
#include "history/ConversationHistory.h"
#include "history/ConversationSession.h"
#include "model/ModelField.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace parlaro {

// Files the transcript into conversation sessions and writes the changed
// ones to the history in batches. The model owns it and feeds it: it reads
// the transcript through `transcript`, hears every change of it, and says
// through `tell` when a run of failed writes starts and when everything is
// saved again. What the user deletes from the history stays deleted: its
// sentences are never written again, and the next sentence of a deleted
// session opens a new one.
//
// Main actor only. Owned through std::shared_ptr, so the save task can hold
// it weakly.
class SessionFiling : public std::enable_shared_from_this<SessionFiling> {
public:
    // Sessions the history could not write: how many, where, and why the
    // last write failed.
    struct UnsavedHistory {
        std::size_t sessions = 0;
        std::filesystem::path folder;
        std::string reason;
    };
    struct Feeds {
        std::function<const std::vector<ConversationEntry>&()> transcript;
        // The history notice: why writes fail, or none once all is saved.
        std::function<void(std::optional<std::string>)> tell;
    };

    // A new entry more than this long after the last one opens a new session.
    static constexpr double sessionGap = 1800.0;
    // From the first unsaved change to the write.
    static constexpr double saveDelay = 5.0;

    // `owner` hears every change of the fields below, as a model's own do;
    // `write` stores into them.
    SessionFiling(Feeds feeds, FieldWriter write, rt::ObservationHub* owner = nullptr);
    SessionFiling(const SessionFiling&) = delete;
    SessionFiling& operator=(const SessionFiling&) = delete;

    // The session new entries go into, and the time of its last entry.
    ModelField<std::optional<rt::Uuid>> sessionID;
    ModelField<std::optional<rt::Date>> lastSessionEntry;
    // The session of every entry assigned so far.
    ModelField<std::map<rt::Uuid, rt::Uuid>> sessionOf;
    // Sessions changed since they were last written, in the order they were
    // first marked, each once; a flush writes them in that order.
    ModelField<std::vector<rt::Uuid>> dirtySessions;

    // The history sessions are written to, and whose deletions are heard.
    void use(std::shared_ptr<ConversationHistory> store);
    // Assigns new entries to sessions and marks the sessions of changed ones.
    void transcriptDidChange(const std::vector<ConversationEntry>& oldValue);
    // Writes every changed session at once and drops the pending write. A
    // session the history cannot write stays pending and is tried again
    // saveDelay later and at every flush until it is written.
    void flush();
    // The next entry opens a new session.
    void closeSession();
    // After the transcript was emptied: no entry keeps its session.
    void forgetTranscript();

    // None while every session is written.
    std::optional<UnsavedHistory> unsavedHistory() const;
    // The sessions the history could not write, as they would be written.
    std::vector<ConversationSession> unsavedConversations() const;
    // Held copies of the sessions the history could not write.
    const std::map<rt::Uuid, ConversationSession>& unsavedSessions() const { return unsavedSessions_; }
    // Whether a write waits its saveDelay.
    bool isSaveWaiting() const { return static_cast<bool>(saveTask_); }

private:
    struct WriteFailure {
        std::filesystem::path folder;
        std::string reason;
    };

    void scheduleSave();
    rt::Async<void> flushAfterDelay();
    // The session's entries in the transcript, after those of its unsaved
    // copy that the transcript no longer holds.
    ConversationSession pendingSession(const rt::Uuid& id) const;
    // Drops what the user deleted from the history.
    void forget(const ConversationHistory::Deletion& deletion);
    // Clears the notice once nothing waits to be written.
    void tellWhenAllSaved();

    Feeds feeds_;
    FieldWriter write_;
    std::shared_ptr<ConversationHistory> store_;
    rt::Subscription deletions_;
    rt::TaskHandle<> saveTask_;
    // Sessions the history could not write, as last put together, until a
    // write of theirs succeeds; held here so a cleared transcript loses none.
    std::map<rt::Uuid, ConversationSession> unsavedSessions_;
    // Why the last write failed, while any session is unsaved. The user is
    // told once, when a run of failures starts.
    std::optional<WriteFailure> failure_;
    // Entries of deleted sessions still in the transcript: never filed again.
    std::unordered_set<rt::Uuid> deleted_;
};

}  // namespace parlaro
