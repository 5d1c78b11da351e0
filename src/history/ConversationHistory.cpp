#include "history/ConversationHistory.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "history/HistoryText.h"
#include "history/SessionScan.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "platform/UserFolders.h"
#include "runtime/Background.h"
#include "runtime/Error.h"
#include "runtime/Sleep.h"
#include "speech/Localization.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <utility>

#include <malloc.h>
#include <pwd.h>
#include <unistd.h>

namespace parlaro {

namespace fs = std::filesystem;

namespace {

// Reading a long session parses its whole text into a tree that is gone by
// the time the reader returns; the worker thread's heap would keep those
// pages, hundreds of megabytes for the longest sessions, until the program
// ends.
void handBackFreedMemory()
{
    ::malloc_trim(0);
}

constexpr std::size_t previewLength = ConversationSummary::previewLength;

void sortNewestFirst(std::vector<ConversationSummary>& list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const ConversationSummary& a, const ConversationSummary& b) { return a.started > b.started; });
}

using HistoryFiles::sessionId;

// The scan and the tidying after a deletion both rewrite the index from
// what they read of it; one at a time, or the later would bring back rows
// the earlier dropped.
std::mutex indexMutex;

}  // namespace

std::shared_ptr<ConversationHistory> ConversationHistory::make(std::optional<fs::path> directory,
                                                               SettingsStore& defaults)
{
    return std::make_shared<ConversationHistory>(Passkey{}, std::move(directory), defaults);
}

ConversationHistory::ConversationHistory(Passkey, std::optional<fs::path> directory, SettingsStore& defaults)
    : directory_(directory ? std::move(*directory) : defaultDirectory()), defaults_(defaults)
{
    isEnabled_.set(defaults_.get<bool>(enabledKey).value_or(true));
}

std::shared_ptr<ConversationHistory> ConversationHistory::makeWithoutFolder(SettingsStore& defaults, std::string reason)
{
    return std::make_shared<ConversationHistory>(Passkey{}, defaults, std::move(reason));
}

ConversationHistory::ConversationHistory(Passkey, SettingsStore& defaults, std::string reason)
    : defaults_(defaults), withoutFolder_(std::move(reason))
{
    isEnabled_.set(false);
}

fs::path ConversationHistory::defaultDirectory()
{
    return defaultDirectory([](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str()))
            return std::string(value);
        return std::nullopt;
    });
}

fs::path ConversationHistory::defaultDirectory(const EnvironmentLookup& environment, const HomeLookup& accountHome)
{
    // Never a folder relative to the one the program was started from.
    const std::optional<fs::path> dataHome = userFolder(UserFolder::data, environment, accountHome);
    if (!dataHome)
        throw DomainError(errorDomain, 1, localized("找不到用户的主文件夹，无法保存对话记录"));
    return programPath(*dataHome, "History");
}

std::optional<std::string> ConversationHistory::passwordDatabaseHome()
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, storage.data(), storage.size(), &found) != 0 || found == nullptr
        || found->pw_dir == nullptr)
        return std::nullopt;
    return std::string(found->pw_dir);
}

void ConversationHistory::setEnabled(bool enabled)
{
    // The stored choice is kept for a start that finds the folder.
    if (!withoutFolder_.empty()) {
        if (enabled)
            throw DomainError(errorDomain, 1, withoutFolder_);
        return;
    }
    defaults_.set(enabledKey, enabled);
    isEnabled_.set(enabled);
}

fs::path ConversationHistory::sessionFile(const rt::Uuid& id) const
{
    return HistoryFiles::sessionFile(directory_, id);
}

std::optional<std::string> ConversationHistory::save(const ConversationSession& session)
{
    if (!isEnabled() || session.entries.empty())
        return std::nullopt;
    if (const std::error_code error = HistoryFiles::makeFolder(directory_))
        return error.message();
    const fs::path file = sessionFile(session.id);
    try {
        writeFileAtomically(file, HistoryJson::encode(session));
    } catch (const std::system_error& failure) {
        return failure.code().message();
    } catch (const std::exception& failure) {
        return std::string(failure.what());
    }
    if (!loading_)
        return std::nullopt;  // the first load will read the file
    ConversationSummary made = summary(session, HistoryFiles::modificationDate(file));
    if (!isLoaded.get()) {
        savedWhileLoading_.insert_or_assign(session.id, std::move(made));
        return std::nullopt;
    }
    std::vector<ConversationSummary> list = summaries.get();
    std::erase_if(list, [&](const ConversationSummary& s) { return s.id == session.id; });
    auto before =
        std::find_if(list.begin(), list.end(), [&](const ConversationSummary& s) { return s.started < made.started; });
    list.insert(before, std::move(made));
    summaries.set(std::move(list));
    return std::nullopt;
}

void ConversationHistory::load()
{
    if (loading_)
        return;
    std::weak_ptr<ConversationHistory> weak = weak_from_this();
    fs::path folder = directory_;
    if (folder.empty()) {
        // Nothing to scan; an empty path would read the current folder.
        loading_ = rt::spawn([weak]() -> rt::Async<void> {
            if (auto self = weak.lock())
                self->merge({});
            co_return;
        });
        return;
    }
    loading_ = rt::spawn([weak, folder]() -> rt::Async<void> {
        auto [rebuilt, unreadable] = co_await rt::runInBackground([folder] {
            std::vector<UnreadableFile> unreadable;
            auto rebuilt = rebuildIndex(folder, &unreadable);
            handBackFreedMemory();
            return std::pair(std::move(rebuilt), std::move(unreadable));
        });
        if (auto self = weak.lock())
            self->merge(std::move(rebuilt), unreadable);
    });
}

void ConversationHistory::tidy()
{
    if (directory_.empty() || tidying_)
        return;
    tidying_ = rt::spawn([folder = directory_]() -> rt::Async<void> {
        co_await rt::runInBackground([folder] {
            removeStaleTemporaries(folder, HistoryFiles::isHistoryFileName, staleTemporaryAge);
            dropVanishedFromIndex(folder);
        });
    });
}

void ConversationHistory::merge(std::vector<ConversationSummary> rebuilt, const std::vector<UnreadableFile>& unreadable)
{
    // A conversation the list cannot show is not passed over in silence.
    for (const UnreadableFile& file : unreadable)
        addEarlierEntryNote({EarlierEntryNote::Kind::conversationUnreadable, file.file, {}, {}, file.reason});
    auto taken = std::exchange(savedWhileLoading_, {});
    auto deleted = std::exchange(deletedWhileLoading_, {});
    const bool deletedAll = std::exchange(deletedAllWhileLoading_, false);
    std::vector<ConversationSummary> list;
    if (!deletedAll) {
        for (auto& row : rebuilt) {
            if (!taken.contains(row.id) && !deleted.contains(row.id))
                list.push_back(std::move(row));
        }
    }
    for (auto& [id, row] : taken)
        list.push_back(std::move(row));
    sortNewestFirst(list);
    summaries.set(std::move(list));
    isLoaded.set(true);
}

void ConversationHistory::forgetDeleted(const std::unordered_set<rt::Uuid>& ids, bool all)
{
    std::unordered_set<rt::Uuid> gone;
    for (const rt::Uuid& id : ids) {
        if (directory_.empty() || !HistoryFiles::hasSessionFile(directory_, id))
            gone.insert(id);
    }
    if (loading_ && !isLoaded.get()) {
        for (const rt::Uuid& id : gone) {
            savedWhileLoading_.erase(id);
            deletedWhileLoading_.insert(id);
        }
    }
    std::vector<ConversationSummary> list = summaries.get();
    std::erase_if(list, [&](const ConversationSummary& s) { return gone.contains(s.id); });
    summaries.set(std::move(list));
    dropHitsOfDeletedSessions();
    // The index holds each session's first words: a deleted conversation
    // must not wait there for the list to be shown again.
    if (!gone.empty() && !all && !directory_.empty()) {
        rt::spawn([folder = directory_]() -> rt::Async<void> {
            co_await rt::runInBackground([folder] { dropVanishedFromIndex(folder); });
        });
    }
    // A listener may unsubscribe (or subscribe) while it hears.
    const Deletion deletion{.sessions = std::move(gone), .all = all};
    for (const auto& [key, listener] : std::map(deletionListeners_))
        if (deletionListeners_.contains(key))
            listener(deletion);
}

rt::Subscription ConversationHistory::subscribeDeletions(std::function<void(const Deletion&)> listener)
{
    const std::uint64_t key = nextDeletionListener_++;
    deletionListeners_.emplace(key, std::move(listener));
    return rt::Subscription([weak = weak_from_this(), key] {
        if (auto self = weak.lock())
            self->deletionListeners_.erase(key);
    });
}

std::optional<std::string> ConversationHistory::deleteSession(const rt::Uuid& id)
{
    // Every file of the session, whatever the case of its name, or the one
    // left would bring the session back at the next launch.
    std::optional<std::string> failure = HistoryFiles::removeSessionFiles(directory_, {id});
    forgetDeleted({id});
    return failure;
}

std::optional<std::string> ConversationHistory::deleteAll()
{
    std::error_code error;
    std::vector<fs::path> doomed;
    std::unordered_set<rt::Uuid> ids;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".json")
            doomed.push_back(it->path());
        if (auto id = sessionId(it->path()))
            ids.insert(*id);
    }
    std::optional<std::string> failure;
    if (error && error != std::errc::no_such_file_or_directory && !directory_.empty())
        failure = error.message();
    for (const auto& file : doomed) {
        std::error_code removal;
        if (!fs::remove(file, removal) && removal)
            failure = removal.message();
    }
    removeStaleTemporaries(directory_, HistoryFiles::isHistoryFileName, std::nullopt);
    for (const auto& row : summaries.get())
        ids.insert(row.id);
    for (const auto& [id, row] : savedWhileLoading_)
        ids.insert(id);
    if (loading_ && !isLoaded.get() && !failure) {
        savedWhileLoading_.clear();
        deletedWhileLoading_.clear();
        deletedAllWhileLoading_ = true;
    }
    // Where a file stayed, only the sessions whose files are gone count.
    forgetDeleted(ids, !failure);
    return failure;
}

std::int64_t ConversationHistory::sessions(rt::Date olderThan) const
{
    const auto& list = summaries.get();
    return std::count_if(list.begin(), list.end(), [&](const ConversationSummary& s) { return s.updated < olderThan; });
}

std::optional<std::string> ConversationHistory::deleteSessions(rt::Date olderThan)
{
    std::unordered_set<rt::Uuid> doomed;
    for (const auto& s : summaries.get()) {
        if (s.updated < olderThan)
            doomed.insert(s.id);
    }
    std::optional<std::string> failure = HistoryFiles::removeSessionFiles(directory_, doomed);
    forgetDeleted(doomed);
    return failure;
}

void ConversationHistory::dropHitsOfDeletedSessions()
{
    if (!searchHits.get())
        return;
    const auto& list = summaries.get();
    std::vector<SearchHit> hits = *searchHits.get();
    std::erase_if(hits, [&](const SearchHit& hit) {
        return std::none_of(list.begin(), list.end(),
                            [&](const ConversationSummary& s) { return s.id == hit.summary.id; });
    });
    searchHits.set(std::move(hits));
}

std::variant<ConversationSession, std::string> ConversationHistory::loadSession(const rt::Uuid& id) const
{
    return loadSession(directory_, withoutFolder_, id);
}

rt::Async<std::variant<ConversationSession, std::string>> ConversationHistory::readSession(rt::Uuid id) const
{
    co_return co_await rt::runInBackground([directory = directory_, withoutFolder = withoutFolder_, id] {
        auto read = loadSession(directory, withoutFolder, id);
        handBackFreedMemory();
        return read;
    });
}

std::variant<ConversationSession, std::string>
ConversationHistory::loadSession(const fs::path& directory, const std::string& withoutFolder, const rt::Uuid& id)
{
    if (directory.empty())
        return withoutFolder;
    const fs::path path = HistoryFiles::sessionFile(directory, id);
    errno = 0;
    std::optional<std::string> text = HistoryFiles::read(path);
    if (!text)
        return errno != 0 ? std::string(std::strerror(errno)) : path.filename().string() + ": not a regular file";
    if (auto session = HistoryJson::decodeSession(*text))
        return std::move(*session);
    return path.filename().string() + ": not a readable conversation";
}

void ConversationHistory::searchFor(std::string query)
{
    searching_.cancel();
    searching_ = {};
    searchHits.set(std::nullopt);
    if (query.empty())
        return;
    std::weak_ptr<ConversationHistory> weak = weak_from_this();
    searching_ =
        rt::spawn([weak, query = std::move(query), list = summaries.get(), folder = directory_]() -> rt::Async<void> {
            try {
                co_await rt::sleepFor(searchDelay);
            } catch (const rt::CancellationError&) {
                co_return;
            }
            if (rt::isCancelled())
                co_return;
            std::vector<SearchHit> found = co_await search(query, list, folder);
            if (rt::isCancelled())
                co_return;
            if (auto self = weak.lock())
                self->searchHits.set(std::move(found));
        });
}

ConversationSummary ConversationHistory::summary(const ConversationSession& session, std::optional<rt::Date> fileDate)
{
    using Side = ConversationEntry::Side;
    const auto& entries = session.entries;
    auto firstOf = [&](Side side) -> const ConversationEntry* {
        auto found =
            std::find_if(entries.begin(), entries.end(), [side](const ConversationEntry& e) { return e.side == side; });
        return found == entries.end() ? nullptr : &*found;
    };
    const ConversationEntry* them = firstOf(Side::them);
    const ConversationEntry* me = firstOf(Side::me);

    ConversationSummary made{
        .id = session.id,
        .started = session.started(),
        .updated = session.updated(),
        .count = static_cast<std::int64_t>(entries.size()),
        .theirLanguage = std::nullopt,
        .myLanguage = std::nullopt,
        .preview =
            entries.empty() ? std::string() : HistoryText::prefixCharacters(entries.front().original, previewLength),
        .fileDate = fileDate,
    };
    if (them && them->originalLanguage)
        made.theirLanguage = them->originalLanguage;
    else if (me)
        made.theirLanguage = me->translatedLanguage;
    if (me && me->originalLanguage)
        made.myLanguage = me->originalLanguage;
    else if (them)
        made.myLanguage = them->translatedLanguage;
    if (made.theirLanguage && made.theirLanguage == made.myLanguage) {
        // The pair was swapped between the two sides' first sentences, so
        // each names the same language: the last sentence that knows both
        // of its languages tells the pair the conversation was held in.
        made.myLanguage.reset();
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            if (!entry->originalLanguage || !entry->translatedLanguage
                || *entry->originalLanguage == *entry->translatedLanguage)
                continue;
            const bool theirs = entry->side == Side::them;
            made.theirLanguage = theirs ? entry->originalLanguage : entry->translatedLanguage;
            made.myLanguage = theirs ? entry->translatedLanguage : entry->originalLanguage;
            break;
        }
    }
    return made;
}

std::vector<ConversationHistory::SearchHit>
ConversationHistory::searchNow(const std::string& query, const std::vector<ConversationSummary>& summaries,
                               const fs::path& directory, const std::function<bool()>& isCancelled)
{
    const HistoryText::SearchPattern pattern(query);
    std::vector<SearchHit> hits;
    for (const auto& row : summaries) {
        if (isCancelled && isCancelled())
            return {};
        auto text = HistoryFiles::read(HistoryFiles::sessionFile(directory, row.id));
        if (!text)
            continue;
        // Files as this program writes them are searched where they lie;
        // any other is decoded in full, with the same outcome.
        SessionScan scan = SessionScan::of(*text, pattern);
        if (!scan.written) {
            auto session = HistoryJson::decodeSession(*text);
            if (!session)
                continue;
            for (const auto& entry : session->entries) {
                if (pattern.isFoundIn(entry.original))
                    scan.match = entry.original;
                else if (pattern.isFoundIn(entry.translated))
                    scan.match = entry.translated;
                if (scan.match)
                    break;
            }
        }
        if (scan.match)
            hits.push_back(SearchHit{row, HistoryText::prefixCharacters(*scan.match, previewLength)});
    }
    return hits;
}

rt::Async<std::vector<ConversationHistory::SearchHit>>
ConversationHistory::search(std::string query, std::vector<ConversationSummary> summaries, fs::path directory)
{
    std::stop_token token = rt::currentStopToken();
    std::vector<SearchHit> hits = co_await rt::runInBackground(
        [query = std::move(query), summaries = std::move(summaries), directory = std::move(directory), token] {
            return searchNow(query, summaries, directory, [&token] { return token.stop_requested(); });
        });
    if (token.stop_requested())
        co_return std::vector<SearchHit>{};
    co_return hits;
}

std::vector<ConversationSummary> ConversationHistory::rebuildIndex(const fs::path& directory,
                                                                   std::vector<UnreadableFile>* unreadable)
{
    HistoryFiles::keepToTheUser(directory);
    // A temporary left by a write that was killed holds conversation text
    // nobody will read.
    removeStaleTemporaries(directory, HistoryFiles::isHistoryFileName, staleTemporaryAge);
    std::lock_guard lock(indexMutex);
    const fs::path indexFile = directory / indexFileName;
    std::vector<ConversationSummary> index;
    if (auto text = HistoryFiles::read(indexFile)) {
        if (auto decoded = HistoryJson::decodeSummaries(*text))
            index = std::move(*decoded);
    }
    std::unordered_map<rt::Uuid, const ConversationSummary*> known;
    for (const auto& row : index)
        known.try_emplace(row.id, &row);

    std::vector<ConversationSummary> result;
    bool changed = false;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const fs::path& file = it->path();
        auto id = sessionId(file);
        if (!id)
            continue;
        std::error_code timeError;
        const auto time = it->last_write_time(timeError);
        std::optional<rt::Date> fileDate;
        if (!timeError)
            fileDate = HistoryFiles::date(time);
        // A file that lost its read permission keeps its date: it is looked
        // at again, and told, rather than listed from the index.
        if (auto found = known.find(*id);
            found != known.end() && found->second->fileDate == fileDate && ::access(file.c_str(), R_OK) == 0) {
            result.push_back(*found->second);
            continue;
        }
        changed = true;
        // Unreadable files stay where they are, unlisted, for a later
        // version or a person to deal with.
        const auto cannotRead = [&](std::string reason) {
            if (unreadable)
                unreadable->push_back({file, std::move(reason)});
        };
        errno = 0;
        auto text = HistoryFiles::read(file);
        if (!text) {
            cannotRead(errno != 0 ? std::string(std::strerror(errno)) : "not a regular file");
            continue;
        }
        auto session = HistoryJson::decodeSession(*text);
        if (!session || session->id != *id) {
            cannotRead("not a readable conversation");
            continue;
        }
        if (session->entries.empty())
            continue;
        result.push_back(summary(*session, fileDate));
    }
    // A folder not made yet holds nothing; one that cannot be listed (a
    // plain file in its place, no permission) may hold conversations, and
    // is told like a file that cannot be read.
    if (error && error != std::errc::no_such_file_or_directory) {
        if (unreadable)
            unreadable->push_back({directory, error.message()});
        return result;
    }
    sortNewestFirst(result);
    if (changed || result.size() != index.size())
        HistoryFiles::writeAtomically(indexFile, HistoryJson::encode(result));
    return result;
}

void ConversationHistory::dropVanishedFromIndex(const fs::path& directory)
{
    std::lock_guard lock(indexMutex);
    const fs::path indexFile = directory / indexFileName;
    auto text = HistoryFiles::read(indexFile);
    if (!text)
        return;
    auto index = HistoryJson::decodeSummaries(*text);
    if (!index)
        return;
    const auto vanished = std::erase_if(
        *index, [&](const ConversationSummary& row) { return !HistoryFiles::hasSessionFile(directory, row.id); });
    if (vanished > 0)
        HistoryFiles::writeAtomically(indexFile, HistoryJson::encode(*index));
}

}  // namespace parlaro
