#pragma once

#include "history/ConversationSession.h"
#include "history/ConversationSummary.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

namespace parlaro {

class SettingsStore;

// The conversation history on disk: one JSON file per session, named by its
// upper-case UUID, and "index.json", a cache of every session's summary,
// newest first, so the list shows without reading every session. The folder
// is scanned at most once per process, by the first load(); afterwards saves
// and deletions keep `summaries` up to date in place. Saves and deletions
// report a failure, so the caller can keep what was not written and tell
// what was not deleted: elsewhere file, encoding and decoding errors are
// swallowed and the store goes on with what it has, but a file it cannot
// read is never overwritten or removed by a load.
//
// Main actor only, except search() and rebuildIndex(). Owned through
// std::shared_ptr (make()), so the load task can hold it weakly.
class ConversationHistory : public rt::ObservableObject, public std::enable_shared_from_this<ConversationHistory> {
    struct Passkey {};

public:
    // A session that matched a search, and the sentence that matched it.
    struct SearchHit {
        ConversationSummary summary;
        std::string sentence;  // at most 120 characters

        bool operator==(const SearchHit&) const = default;
    };

    static constexpr const char* enabledKey = "saveConversationHistory";
    static constexpr const char* indexFileName = "index.json";

    // No folder: the default one (which may throw, see defaultDirectory()).
    // Touches no file.
    static std::shared_ptr<ConversationHistory> make(std::optional<std::filesystem::path> directory,
                                                     SettingsStore& defaults);
    ConversationHistory(Passkey, std::optional<std::filesystem::path> directory, SettingsStore& defaults);
    // A history with no folder to keep sessions in (no home folder to put it
    // under): it lists nothing, saving is off, and switching it on throws a
    // DomainError with `reason`.
    static std::shared_ptr<ConversationHistory> makeWithoutFolder(SettingsStore& defaults, std::string reason);
    ConversationHistory(Passkey, SettingsStore& defaults, std::string reason);

    // $XDG_DATA_HOME/parlaro/History, or ~/.local/share/parlaro/History when
    // that is not set to an absolute folder (an earlier version's folder is
    // moved there first, see programPath()). The home folder is $HOME when
    // that is absolute, else the account's home in the password database;
    // with neither, throws a DomainError rather than guess a folder.
    using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
    using HomeLookup = std::function<std::optional<std::string>()>;
    static std::filesystem::path defaultDirectory();
    static std::filesystem::path defaultDirectory(const EnvironmentLookup& environment,
                                                  const HomeLookup& accountHome = passwordDatabaseHome);
    // This process's user's home folder in the password database.
    static std::optional<std::string> passwordDatabaseHome();
    static constexpr const char* errorDomain = "ConversationHistory";

    // Empty until the first load has merged; then newest first by `started`.
    rt::Observable<std::vector<ConversationSummary>> summaries{{}, changes()};
    rt::Observable<bool> isLoaded{false, changes()};

    bool isEnabled() const { return isEnabled_.get(); }
    // Stores the value under "saveConversationHistory" on every call, then
    // updates the observed value. A settings store that cannot save throws
    // and leaves both as they were.
    void setEnabled(bool enabled);
    // Empty unless the history has no folder; then why.
    const std::string& withoutFolder() const { return withoutFolder_; }
    rt::Subscription subscribeEnabled(std::function<void()> observer)
    {
        return isEnabled_.subscribe(std::move(observer));
    }

    const std::filesystem::path& directory() const { return directory_; }
    // True once load() has been called.
    bool hasStartedLoading() const { return static_cast<bool>(loading_); }
    const std::unordered_map<rt::Uuid, ConversationSummary>& savedWhileLoading() const { return savedWhileLoading_; }

    // Writes the session's file (nothing when saving is off or the session is
    // empty) and, once a load has started, records its summary. Why the
    // folder could not be made or the file written ("Read-only file system",
    // "No space left on device"), or nothing when nothing failed.
    std::optional<std::string> save(const ConversationSession& session);
    // Starts the one scan of the folder; later calls do nothing. Each
    // session file it cannot read is noted for the user once (see
    // takeEarlierEntryNotes()) before `isLoaded` turns true.
    void load();
    // At each start, whether or not the list is ever shown: removes what
    // writes killed before their rename left, and drops from the index the
    // sessions whose files are gone, in the background.
    void tidy();
    // Deletions remove the files and then the summaries of the sessions
    // whose files are gone; one that stays on disk stays listed. Why a file
    // could not be removed ("Read-only file system"), or nothing when every
    // one was.
    //
    // The session's files.
    std::optional<std::string> deleteSession(const rt::Uuid& id);
    // Every ".json" file of the folder, the index included.
    std::optional<std::string> deleteAll();
    // Sessions whose last sentence is strictly earlier than the cutoff.
    std::int64_t sessions(rt::Date olderThan) const;
    std::optional<std::string> deleteSessions(rt::Date olderThan);
    // What a deletion removed: the sessions whose files are gone, and whether
    // the user asked for every conversation to go.
    struct Deletion {
        std::unordered_set<rt::Uuid> sessions;
        bool all = false;
    };
    // Hears every deletion, once the list no longer shows what it removed.
    rt::Subscription subscribeDeletions(std::function<void(const Deletion&)> listener);

    // One session as its file holds it, or why it cannot be had: the
    // system's reason ("No such file or directory"), or the file's name and
    // what is wrong with it. A file that is no regular file (a FIFO) is
    // refused rather than waited on.
    std::variant<ConversationSession, std::string> loadSession(const rt::Uuid& id) const;
    // The same, read and decoded on a background thread.
    rt::Async<std::variant<ConversationSession, std::string>> readSession(rt::Uuid id) const;

    // The search the history page shows. searchFor() replaces the one before
    // (cancelling it) and, for a query that is not empty, searches the
    // listed sessions once the query has stood for searchDelay seconds;
    // `searchHits` is empty while no search has answered. Deleting sessions
    // drops their hits. An empty query ends searching.
    static constexpr double searchDelay = 0.25;
    rt::Observable<std::optional<std::vector<SearchHit>>> searchHits{std::nullopt, changes()};
    void searchFor(std::string query);

    // The summary of a session; any thread.
    static ConversationSummary summary(const ConversationSession& session,
                                       std::optional<rt::Date> fileDate = std::nullopt);

    // The first matching sentence of each listed session, in list order,
    // ignoring case and diacritics. Runs in the background; an empty list
    // when the calling task is cancelled before it ends.
    static rt::Async<std::vector<SearchHit>> search(std::string query, std::vector<ConversationSummary> summaries,
                                                    std::filesystem::path directory);
    // The same, synchronously; `isCancelled` is asked before each session.
    static std::vector<SearchHit> searchNow(const std::string& query, const std::vector<ConversationSummary>& summaries,
                                            const std::filesystem::path& directory,
                                            const std::function<bool()>& isCancelled = {});

    // Reconciles "index.json" with the session files and returns the
    // summaries, newest first; rewrites the index when it was out of date.
    // Session files that cannot be read stay as they are, unlisted, and go
    // into `unreadable` with why, when it is given, and so does the folder
    // when it is there but cannot be listed. Touches nothing but the
    // folder; any thread.
    struct UnreadableFile {
        std::filesystem::path file;
        std::string reason;
        bool operator==(const UnreadableFile&) const = default;
    };
    static std::vector<ConversationSummary> rebuildIndex(const std::filesystem::path& directory,
                                                         std::vector<UnreadableFile>* unreadable = nullptr);
    // Drops from "index.json" the sessions whose files are gone, reading no
    // session. Any thread.
    static void dropVanishedFromIndex(const std::filesystem::path& directory);

private:
    void merge(std::vector<ConversationSummary> rebuilt, const std::vector<UnreadableFile>& unreadable = {});
    // Drops the summaries of these sessions whose files are gone.
    void forgetDeleted(const std::unordered_set<rt::Uuid>& ids, bool all = false);
    void dropHitsOfDeletedSessions();
    std::filesystem::path sessionFile(const rt::Uuid& id) const;
    static std::variant<ConversationSession, std::string>
    loadSession(const std::filesystem::path& directory, const std::string& withoutFolder, const rt::Uuid& id);

    rt::Observable<bool> isEnabled_{true, changes()};
    std::filesystem::path directory_;
    SettingsStore& defaults_;
    rt::TaskHandle<void> loading_;
    rt::TaskHandle<void> searching_;
    rt::TaskHandle<void> tidying_;
    std::unordered_map<rt::Uuid, ConversationSummary> savedWhileLoading_;
    // Deletions that happen while the scan runs, so its result does not bring
    // the deleted sessions back into the list.
    std::unordered_set<rt::Uuid> deletedWhileLoading_;
    bool deletedAllWhileLoading_ = false;
    std::string withoutFolder_;
    std::map<std::uint64_t, std::function<void(const Deletion&)>> deletionListeners_;
    std::uint64_t nextDeletionListener_ = 0;
};

}  // namespace parlaro
