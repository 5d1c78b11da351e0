#include "history/ConversationHistory.h"
#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "history/HistoryPrinting.h"
#include "history/HistoryText.h"
#include "platform/ProgramFolder.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/Log.h"
#include "runtime/ManualRuntime.h"
#include "support/ScratchMount.h"
#include "support/TempDirectory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <unordered_set>
#include <variant>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using Side = ConversationEntry::Side;

ConversationEntry entry(Side side, std::string original, double time, std::string translated = "")
{
    return ConversationEntry{.id = rt::Uuid::random(),
                             .side = side,
                             .original = std::move(original),
                             .translated = std::move(translated),
                             .time = rt::Date{time},
                             .originalLanguage = side == Side::them ? "en" : "zh-Hans",
                             .translatedLanguage = side == Side::them ? "zh-Hans" : "en"};
}

// A session of `count` entries, one a minute from `start`.
ConversationSession session(double start, int count = 2, const std::string& text = "sentence")
{
    ConversationSession made;
    for (int i = 0; i < count; ++i)
        made.entries.push_back(entry(i % 2 ? Side::me : Side::them, text + " " + std::to_string(i), start + 60.0 * i));
    return made;
}

std::string fileName(const rt::Uuid& id)
{
    return id.toString() + ".json";
}

std::vector<rt::Uuid> ids(const std::vector<ConversationSummary>& list)
{
    std::vector<rt::Uuid> out;
    for (const auto& s : list)
        out.push_back(s.id);
    return out;
}

std::vector<std::string> folderNames(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

struct HistoryTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    test::TempDirectory temp;
    fs::path folder = temp / "data" / "parlaro" / "History";

    std::shared_ptr<ConversationHistory> makeHistory() { return ConversationHistory::make(folder, platform.defaults); }
    std::shared_ptr<ConversationHistory> loaded()
    {
        auto history = makeHistory();
        history->load();
        runtime.runUntilIdle();
        return history;
    }
    void writeSession(const ConversationSession& s, std::optional<rt::Date> mtime = std::nullopt)
    {
        temp.write(folder / fileName(s.id), HistoryJson::encode(s));
        if (mtime)
            fs::last_write_time(folder / fileName(s.id), HistoryFiles::fileTime(*mtime));
    }
    std::optional<std::vector<ConversationSummary>> index()
    {
        auto text = HistoryFiles::read(folder / "index.json");
        if (!text)
            return std::nullopt;
        return HistoryJson::decodeSummaries(*text);
    }
};

TEST_F(HistoryTest, SettingAndFolderComeFromDefaultsAndEnvironment)
{
    EXPECT_TRUE(makeHistory()->isEnabled());
    platform.defaults.set("saveConversationHistory", "no");
    EXPECT_TRUE(makeHistory()->isEnabled()) << "a value of another type counts as absent";
    platform.defaults.set("saveConversationHistory", false);
    auto history = makeHistory();
    EXPECT_FALSE(history->isEnabled());

    int notified = 0;
    auto subscription = history->subscribeEnabled([&] { ++notified; });
    platform.defaults.remove("saveConversationHistory");
    history->setEnabled(false);
    EXPECT_EQ(platform.defaults.get<bool>("saveConversationHistory"), false) << "stored even when unchanged";
    EXPECT_EQ(notified, 0);
    history->setEnabled(true);
    EXPECT_EQ(platform.defaults.get<bool>("saveConversationHistory"), true);
    EXPECT_EQ(notified, 1);

    platform.defaults.failWrites(DomainError("Defaults", 1, "disk full"));
    EXPECT_THROW(history->setEnabled(false), DomainError);
    EXPECT_TRUE(history->isEnabled()) << "the value shown is the value stored";

    auto env = [](std::map<std::string, std::string> values) {
        return [values](const std::string& name) -> std::optional<std::string> {
            auto found = values.find(name);
            return found == values.end() ? std::nullopt : std::optional(found->second);
        };
    };
    EXPECT_EQ(ConversationHistory::defaultDirectory(env({{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}})),
              fs::path("/data/parlaro/History"));
    EXPECT_EQ(ConversationHistory::defaultDirectory(env({{"XDG_DATA_HOME", "rel"}, {"HOME", "/home/u"}})),
              fs::path("/home/u/.local/share/parlaro/History"));
    EXPECT_EQ(ConversationHistory::defaultDirectory(env({{"HOME", "/home/u"}})),
              fs::path("/home/u/.local/share/parlaro/History"));
    EXPECT_EQ(ConversationHistory::make(std::nullopt, platform.defaults)->directory(),
              ConversationHistory::defaultDirectory());
    EXPECT_FALSE(fs::exists(folder)) << "construction touches no file";
}

TEST_F(HistoryTest, WithoutAnAbsoluteHomeTheFolderComesFromTheAccountOrIsRefused)
{
    auto env = [](std::map<std::string, std::string> values) {
        return [values](const std::string& name) -> std::optional<std::string> {
            auto found = values.find(name);
            return found == values.end() ? std::nullopt : std::optional(found->second);
        };
    };
    auto account = [](std::optional<std::string> home) { return [home] { return home; }; };
    const fs::path expected("/home/acct/.local/share/parlaro/History");
    for (auto environment : {env({}), env({{"HOME", ""}}), env({{"HOME", "relative/home"}})})
        EXPECT_EQ(ConversationHistory::defaultDirectory(environment, account("/home/acct")), expected);
    EXPECT_EQ(ConversationHistory::defaultDirectory(env({{"HOME", "/home/u"}}), account("/home/acct")),
              fs::path("/home/u/.local/share/parlaro/History"));
    EXPECT_EQ(ConversationHistory::defaultDirectory(env({{"XDG_DATA_HOME", "/data"}}), account(std::nullopt)),
              fs::path("/data/parlaro/History"));

    // Never a folder relative to wherever the program was started.
    for (auto home : {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("x")}) {
        try {
            ConversationHistory::defaultDirectory(env({}), account(home));
            ADD_FAILURE() << "a folder without a home";
        } catch (const DomainError& error) {
            EXPECT_EQ(error.localizedDescription(), "找不到用户的主文件夹，无法保存对话记录");
        }
    }
    // The account of this process has a home to fall back on.
    auto own = ConversationHistory::passwordDatabaseHome();
    ASSERT_TRUE(own);
    EXPECT_TRUE(fs::path(*own).is_absolute());
}

TEST_F(HistoryTest, FirstLoadOfAMissingFolderIsEmptyAndWritesNothing)
{
    auto history = makeHistory();
    int changes = 0;
    auto subscription = history->subscribe([&] { ++changes; });
    history->load();
    EXPECT_FALSE(history->isLoaded.get()) << "the scan runs in a task";
    runtime.runUntilIdle();
    EXPECT_TRUE(history->isLoaded.get());
    EXPECT_TRUE(history->summaries.get().empty());
    EXPECT_EQ(changes, 1) << "only isLoaded changed";
    EXPECT_FALSE(fs::exists(folder));

    history->load();
    runtime.runUntilIdle();
    EXPECT_FALSE(fs::exists(folder)) << "later loads do nothing";
}

TEST_F(HistoryTest, SavingWritesOneFilePerSessionAndTheFirstLoadIndexesIt)
{
    auto history = makeHistory();
    history->save(ConversationSession{});
    EXPECT_FALSE(fs::exists(folder)) << "a session without entries is not saved";

    history->setEnabled(false);
    history->save(session(1000));
    EXPECT_FALSE(fs::exists(folder)) << "saving is off";
    history->setEnabled(true);

    const ConversationSession first = session(1000, 3);
    history->save(first);
    EXPECT_EQ(folderNames(folder), std::vector<std::string>{fileName(first.id)});
    EXPECT_EQ(HistoryJson::decodeSession(temp.read(folder / fileName(first.id))), first);
    EXPECT_TRUE(history->summaries.get().empty());
    EXPECT_TRUE(history->savedWhileLoading().empty());

    history->load();
    runtime.runUntilIdle();
    ASSERT_EQ(history->summaries.get().size(), 1u);
    const ConversationSummary listed = history->summaries.get().front();
    EXPECT_EQ(listed, ConversationHistory::summary(first, HistoryFiles::modificationDate(folder / fileName(first.id))));
    ASSERT_TRUE(listed.fileDate);
    EXPECT_EQ(index(), history->summaries.get()) << "the index is rewritten with what the folder holds";

    // Nobody else may list the conversations: the folders made for them are
    // the user's alone, and so are the files.
    const auto mode = [](const fs::path& path) { return fs::status(path).permissions() & fs::perms::all; };
    for (const fs::path& made : {folder, folder.parent_path(), folder.parent_path().parent_path()})
        EXPECT_EQ(mode(made), fs::perms::owner_all) << made;
    EXPECT_EQ(mode(folder / fileName(first.id)), fs::perms::owner_read | fs::perms::owner_write);
    // One an earlier version made open to others is narrowed at the run's
    // first look, and the log says so.
    const fs::path earlier = temp / "earlier" / "History";
    fs::create_directories(earlier);
    ::chmod(earlier.c_str(), 0755);
    rt::LogCapture log;
    auto again = ConversationHistory::make(earlier, platform.defaults);
    again->load();
    runtime.runUntilIdle();
    EXPECT_EQ(mode(earlier), fs::perms::owner_all);
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0],
              "the conversation history folder " + earlier.string()
                  + " was open to others (mode 0755); it is now for the user alone.");
    // One that cannot be narrowed (on a read-only disk) is told once: later
    // saves and loads of the run neither walk to it again nor log.
    const auto disk = test::ScratchMount::make(temp / "disk", 1 << 20);
    if (!disk)
        return;
    const fs::path stuck = temp / "disk" / "History";
    fs::create_directory(stuck);
    ::chmod(stuck.c_str(), 0755);
    disk->setReadOnly(true);
    auto unchanged = ConversationHistory::make(stuck, platform.defaults);
    for (int look = 0; look < 2; ++look) {
        unchanged->load();
        runtime.runUntilIdle();
        unchanged->save(session(4000));
    }
    const std::vector<std::string> messages = log.messages();
    const auto told = std::count_if(messages.begin(), messages.end(), [&](const std::string& message) {
        return message.starts_with("the conversation history folder " + stuck.string() + " is open to others");
    });
    EXPECT_EQ(told, 1);
}

TEST_F(HistoryTest, SavesWhileLoadingAreMergedOnceWithTheirLatestSummary)
{
    const ConversationSession older = session(500);
    writeSession(older);
    auto history = makeHistory();
    ConversationSession s = session(1000, 2, "first");
    history->save(s);

    history->load();
    // Let the scan read the folder (it writes the index, as the folder is new
    // to it), but not yet merge.
    for (int step = 0; step < 10 && !fs::exists(folder / "index.json"); ++step)
        runtime.executor().runOne();
    ASSERT_TRUE(fs::exists(folder / "index.json"));
    ASSERT_FALSE(history->isLoaded.get());
    ASSERT_EQ(index()->front().count, 2) << "the scan has read the first version";

    s.entries.push_back(entry(Side::me, "second", 2000));
    history->save(s);
    s.entries.push_back(entry(Side::them, "third", 3000));
    history->save(s);
    ASSERT_EQ(history->savedWhileLoading().size(), 1u);
    EXPECT_EQ(history->savedWhileLoading().at(s.id).count, 4);
    EXPECT_TRUE(history->summaries.get().empty());

    runtime.runUntilIdle();
    EXPECT_TRUE(history->isLoaded.get());
    EXPECT_TRUE(history->savedWhileLoading().empty());
    const auto& list = history->summaries.get();
    ASSERT_EQ(ids(list), (std::vector{s.id, older.id}));
    EXPECT_EQ(list.front().count, 4) << "the rebuild read the older file; the save wins";
    EXPECT_EQ(list.front().updated, rt::Date{3000});
}

TEST_F(HistoryTest, SavesAfterLoadingKeepTheListNewestFirstWithoutTouchingTheIndex)
{
    const ConversationSession top = session(3000);
    const ConversationSession middle = session(2000);
    writeSession(top);
    writeSession(middle);
    auto history = loaded();
    ASSERT_EQ(ids(history->summaries.get()), (std::vector{top.id, middle.id}));
    const std::string indexBefore = temp.read(folder / "index.json");

    const ConversationSession oldest = session(1000);
    history->save(oldest);
    EXPECT_EQ(ids(history->summaries.get()), (std::vector{top.id, middle.id, oldest.id}));

    const ConversationSession sameStart = session(2000);
    history->save(sameStart);
    EXPECT_EQ(ids(history->summaries.get()), (std::vector{top.id, middle.id, sameStart.id, oldest.id}))
        << "an equal start goes after the listed ones";

    ConversationSession grown = top;
    grown.entries.push_back(entry(Side::me, "later", 9000));
    history->save(grown);
    const auto& list = history->summaries.get();
    EXPECT_EQ(ids(list), (std::vector{top.id, middle.id, sameStart.id, oldest.id}));
    EXPECT_EQ(list.front().count, 3);
    EXPECT_EQ(list.front().fileDate, HistoryFiles::modificationDate(folder / fileName(top.id)));

    EXPECT_EQ(temp.read(folder / "index.json"), indexBefore);
    for (const auto& name : folderNames(folder))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "no temporary file is left: " << name;
}

TEST_F(HistoryTest, RebuildRereadsOnlyFilesWhoseDateChanged)
{
    const rt::Date monday{800'000'000.25};
    const rt::Date tuesday{800'086'400.5};
    ConversationSession edited = session(1000, 2, "before");
    ConversationSession kept = session(2000, 2, "before");
    writeSession(edited, monday);
    writeSession(kept, monday);
    auto first = ConversationHistory::rebuildIndex(folder);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first.back().fileDate, monday);

    // Unchanged folder: the index is not rewritten.
    fs::last_write_time(folder / "index.json", HistoryFiles::fileTime(monday));
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), first);
    EXPECT_EQ(HistoryFiles::modificationDate(folder / "index.json"), monday);

    edited.entries[0].original = "after";
    kept.entries[0].original = "after";
    writeSession(edited, tuesday);
    writeSession(kept, monday);  // changed content, same date: trusted to the index
    auto second = ConversationHistory::rebuildIndex(folder);
    ASSERT_EQ(ids(second), (std::vector{kept.id, edited.id}));
    EXPECT_EQ(second[0].preview, "before 0");
    EXPECT_EQ(second[1].preview, "after");
    EXPECT_EQ(second[1].fileDate, tuesday);
    EXPECT_EQ(index(), second);
}

TEST_F(HistoryTest, IndexIsRebuiltWhenMissingUnreadableOrStale)
{
    const ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    writeSession(a);
    writeSession(b);
    const auto expected = ConversationHistory::rebuildIndex(folder);
    ASSERT_EQ(ids(expected), (std::vector{b.id, a.id}));

    fs::remove(folder / "index.json");
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), expected);
    EXPECT_EQ(index(), expected);

    temp.write(folder / "index.json", "[{\"id\": 12");
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), expected);
    EXPECT_EQ(index(), expected);

    // A row for a vanished file is dropped; a duplicate row is used once (the first).
    ConversationSummary ghost = ConversationHistory::summary(session(5000));
    ConversationSummary duplicate = expected[0];
    duplicate.preview = "second copy";
    std::vector<ConversationSummary> stale{ghost, expected[0], duplicate, expected[1]};
    temp.write(folder / "index.json", HistoryJson::encode(stale));
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), expected);
    EXPECT_EQ(index(), expected);

    // An index far larger than any is damage: not read, not trusted.
    std::vector<ConversationSummary> padded = expected;
    padded[0].preview = "from a damaged index";
    temp.write(folder / "index.json", HistoryJson::encode(padded) + std::string(HistoryFiles::largestFile, ' '));
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), expected);
    EXPECT_EQ(index(), expected);

    // A link in its place, to a file of the user's: the index replaces the
    // link, and the file is left as it was.
    temp.write("notes.txt", "my notes");
    fs::remove(folder / "index.json");
    fs::create_symlink(temp / "notes.txt", folder / "index.json");
    EXPECT_EQ(ConversationHistory::rebuildIndex(folder), expected);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder / "index.json")));
    EXPECT_EQ(index(), expected);
    EXPECT_EQ(temp.read("notes.txt"), "my notes");

    // An unlistable folder counts as empty.
    temp.write(folder / "index.json", HistoryJson::encode(expected));
    EXPECT_TRUE(ConversationHistory::rebuildIndex(temp / "no-such-folder").empty());
}

TEST_F(HistoryTest, UnreadableSessionFilesStayOnDiskUnlistedAndAreNeverOverwritten)
{
    const ConversationSession good = session(1000);
    writeSession(good);
    const ConversationSession foreign = session(2000);
    const rt::Uuid otherName = rt::Uuid::random();
    temp.write(folder / fileName(otherName), HistoryJson::encode(foreign));
    const rt::Uuid corruptId = rt::Uuid::random();
    const std::string corrupt = "{\"id\":\"" + corruptId.toString() + "\",\"entries\":[{\"side\":\"They\"";
    temp.write(folder / fileName(corruptId), corrupt);
    const rt::Uuid emptyId = rt::Uuid::random();
    temp.write(folder / fileName(emptyId), HistoryJson::encode(ConversationSession{.id = emptyId, .entries = {}}));
    const rt::Uuid badSideId = rt::Uuid::random();
    std::string badSide = HistoryJson::encode(session(3000));
    badSide.replace(badSide.find("\"them\""), 6, "\"Them\"");
    temp.write(folder / fileName(badSideId), badSide);
    temp.write(folder / "notes.JSON", "[]");
    temp.write(folder / "readme.txt", "hello");
    temp.write(folder / "not-a-uuid.json", HistoryJson::encode(session(4000)));
    // Bad UTF-8, far too large, a folder and a FIFO in a session's place.
    const rt::Uuid badTextId = rt::Uuid::random();
    std::string badText = HistoryJson::encode(session(5000));
    badText.replace(badText.find("sentence"), 1, "\xC3");
    temp.write(folder / fileName(badTextId), badText);
    const rt::Uuid hugeId = rt::Uuid::random();
    temp.write(folder / fileName(hugeId), "");
    fs::resize_file(folder / fileName(hugeId), HistoryFiles::largestFile + 1);
    const rt::Uuid folderId = rt::Uuid::random();
    fs::create_directory(folder / fileName(folderId));
    const rt::Uuid fifoId = rt::Uuid::random();
    ASSERT_EQ(::mkfifo((folder / fileName(fifoId)).c_str(), 0600), 0);
    takeEarlierEntryNotes();

    auto history = loaded();
    EXPECT_EQ(ids(history->summaries.get()), std::vector{good.id});
    EXPECT_EQ(index(), history->summaries.get());
    EXPECT_EQ(temp.read(folder / fileName(corruptId)), corrupt);
    EXPECT_EQ(temp.read(folder / fileName(badSideId)), badSide);
    EXPECT_EQ(temp.read(folder / fileName(badTextId)), badText);
    EXPECT_TRUE(fs::exists(folder / fileName(otherName)));
    // Each is named to the user once, with why, and as kept.
    std::map<fs::path, std::string> told;
    for (const EarlierEntryNote& note : takeEarlierEntryNotes()) {
        EXPECT_EQ(note.kind, EarlierEntryNote::Kind::conversationUnreadable);
        EXPECT_TRUE(told.emplace(note.earlier, note.reason).second) << note.earlier << " told twice";
    }
    const std::string unreadable = "not a readable conversation";
    EXPECT_EQ(told,
              (std::map<fs::path, std::string>{{folder / fileName(otherName), unreadable},
                                               {folder / fileName(corruptId), unreadable},
                                               {folder / fileName(badSideId), unreadable},
                                               {folder / fileName(badTextId), unreadable},
                                               {folder / fileName(hugeId), "File too large"},
                                               {folder / fileName(folderId), "not a regular file"},
                                               {folder / fileName(fifoId), "not a regular file"}}));

    // They are read again at every load, as the index never records them.
    EXPECT_EQ(ids(ConversationHistory::rebuildIndex(folder)), std::vector{good.id});

    history->deleteAll();
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"notes.JSON", "readme.txt"}));
    EXPECT_TRUE(history->summaries.get().empty());
    EXPECT_TRUE(history->isLoaded.get());
}

// A listed conversation whose file then loses its read permission keeps its
// date, so the index alone would list it: it is told and unlisted like any
// file that cannot be read, and kept. Looked at as another user when the
// tests run as root, who reads every file.
TEST_F(HistoryTest, AListedConversationThatCanNoLongerBeReadIsToldAndKept)
{
    const ConversationSession kept = session(1000);
    const ConversationSession other = session(2000);
    writeSession(kept);
    writeSession(other);
    ASSERT_EQ(ConversationHistory::rebuildIndex(folder).size(), 2u);
    for (const fs::path& path : {temp.path(), temp / "data", temp / "data" / "parlaro", folder})
        ::chmod(path.c_str(), 0755);
    for (const fs::path& path : {folder / "index.json", folder / fileName(other.id)})
        ::chmod(path.c_str(), 0644);
    const fs::path file = folder / fileName(kept.id);
    ::chmod(file.c_str(), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        std::vector<ConversationHistory::UnreadableFile> unreadable;
        const auto listed = ConversationHistory::rebuildIndex(folder, &unreadable);
        if (ids(listed) != std::vector{other.id})
            ::_exit(11);
        const bool told = unreadable == std::vector<ConversationHistory::UnreadableFile>{{file, "Permission denied"}};
        ::_exit(told ? 0 : 12);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child ended with " << status;
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(temp.read(file), HistoryJson::encode(kept));
}

TEST_F(HistoryTest, FailedWritesLeaveFilesAndListAsTheyWere)
{
    auto history = loaded();
    const ConversationSession s = session(1000);
    history->save(s);
    ASSERT_EQ(history->summaries.get().size(), 1u);
    const std::string before = temp.read(folder / fileName(s.id));

    // The session's file name is taken by a folder: the write fails.
    ConversationSession blocked = session(2000);
    fs::create_directories(folder / fileName(blocked.id));
    history->save(blocked);
    EXPECT_EQ(ids(history->summaries.get()), std::vector{s.id});
    EXPECT_TRUE(fs::is_directory(folder / fileName(blocked.id)));

    // The history folder cannot be made: a file sits where it should be,
    // or on the way to it. The conversations it may hold are told once, as
    // any that cannot be read, and the file is kept.
    test::TempDirectory other;
    other.write("History", "a file");
    for (const fs::path& place : {other / "History", other / "History" / "deeper"}) {
        takeEarlierEntryNotes();
        auto elsewhere = ConversationHistory::make(place, platform.defaults);
        elsewhere->load();
        runtime.runUntilIdle();
        elsewhere->save(s);
        elsewhere->load();
        runtime.runUntilIdle();
        EXPECT_TRUE(elsewhere->summaries.get().empty());
        const EarlierEntryNote told{EarlierEntryNote::Kind::conversationUnreadable, place, {}, {}, "Not a directory"};
        EXPECT_EQ(takeEarlierEntryNotes(), std::vector{told});
        EXPECT_EQ(other.read("History"), "a file");
    }

    EXPECT_EQ(temp.read(folder / fileName(s.id)), before);
    for (const auto& name : folderNames(folder))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(HistoryTest, DeletionByIdAndByAgeOfTheLastSentence)
{
    // Starts 1000/2000/3000, last sentences at start + 60.
    const ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    const ConversationSession c = session(3000);
    for (const auto& s : {a, b, c})
        writeSession(s);
    auto history = loaded();

    EXPECT_EQ(history->sessions(rt::Date{2060}), 1) << "a cutoff equal to updated does not count";
    EXPECT_EQ(history->sessions(rt::Date{2061}), 2);
    EXPECT_EQ(history->sessions(rt::Date{1500}), 1) << "age is the last sentence, not the start";
    EXPECT_EQ(history->sessions(rt::Date{1060}), 0);

    history->deleteSessions(rt::Date{2061});
    EXPECT_EQ(ids(history->summaries.get()), std::vector{c.id});
    EXPECT_FALSE(fs::exists(folder / fileName(a.id)));
    EXPECT_FALSE(fs::exists(folder / fileName(b.id)));
    EXPECT_TRUE(fs::exists(folder / fileName(c.id)));
    runtime.runUntilIdle();
    ASSERT_TRUE(index());
    EXPECT_EQ(ids(*index()), std::vector{c.id}) << "no deleted conversation's first words stay in the index";

    history->deleteSession(a.id);  // file already gone: ignored
    history->deleteSession(c.id);
    EXPECT_TRUE(history->summaries.get().empty());
    EXPECT_FALSE(fs::exists(folder / fileName(c.id)));

    auto next = loaded();
    EXPECT_TRUE(next->summaries.get().empty());
    EXPECT_EQ(index(), std::vector<ConversationSummary>{});

    // Killed before the index caught up, and amid a write of it: the next
    // start tidies both, though the list is never shown.
    const ConversationSession d = session(4000);
    writeSession(d);
    temp.write(folder / "index.json",
               HistoryJson::encode(std::vector{ConversationHistory::summary(d), ConversationHistory::summary(a)}));
    temp.write(folder / ".index.json.tmp-Ab12Cd", HistoryJson::encode(std::vector{ConversationHistory::summary(b)}));
    fs::last_write_time(folder / ".index.json.tmp-Ab12Cd", fs::file_time_type::clock::now() - std::chrono::hours(1));
    makeHistory()->tidy();
    runtime.runUntilIdle();
    ASSERT_TRUE(index());
    EXPECT_EQ(ids(*index()), std::vector{d.id});
    EXPECT_EQ(folderNames(folder), sorted({fileName(d.id), "index.json"}));
}

// Those who file sessions hear what each deletion took: only sessions whose
// files are gone, and "everything" only when every file went.
TEST_F(HistoryTest, DeletionsTellWhatIsGone)
{
    test::ReadOnlyFolder readOnly(folder);
    const ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    auto history = loaded();
    for (const auto& s : {a, b})
        ASSERT_EQ(history->save(s), std::nullopt);
    std::vector<ConversationHistory::Deletion> heard;
    auto listening = history->subscribeDeletions([&](const auto& deletion) { heard.push_back(deletion); });
    const auto gone = [&](std::size_t n) { return heard.at(n).sessions; };

    history->deleteSessions(rt::Date{1061});
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(gone(0), std::unordered_set<rt::Uuid>{a.id});
    EXPECT_FALSE(heard[0].all);

    readOnly.setReadOnly(true);
    ASSERT_TRUE(history->deleteAll());
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_TRUE(gone(1).empty()) << "b stayed on disk";
    EXPECT_FALSE(heard[1].all);
    readOnly.setReadOnly(false);
    EXPECT_EQ(history->deleteAll(), std::nullopt);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(gone(2), std::unordered_set<rt::Uuid>{b.id});
    EXPECT_TRUE(heard[2].all);

    listening.reset();
    history->deleteSession(b.id);
    EXPECT_EQ(heard.size(), 3u);
}

TEST_F(HistoryTest, LeftoversOfKilledWritesAreRemovedByLoadsAndDeletions)
{
    const ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    writeSession(a);
    writeSession(b);
    const auto now = fs::file_time_type::clock::now();
    auto leftover = [&](const std::string& name, std::chrono::seconds age) {
        temp.write(folder / name, "{\"entries\":[{\"original\":\"private words\"}]}");
        fs::last_write_time(folder / name, now - age);
    };
    std::string lowerA = a.id.toString();
    std::transform(lowerA.begin(), lowerA.end(), lowerA.begin(), [](unsigned char c) { return std::tolower(c); });
    // Killed mid-write an hour ago: a session (either case of its name),
    // one that was never finished at all, and the index.
    leftover("." + fileName(a.id) + ".tmp-Ab12Cd", std::chrono::hours(1));
    leftover("." + lowerA + ".json.tmp-q9W8e7", std::chrono::hours(1));
    leftover("." + fileName(rt::Uuid::random()) + ".tmp-000000", std::chrono::hours(1));
    leftover(".index.json.tmp-zZ9yY8", std::chrono::hours(1));
    // A write that may still be under way, and files that are not ours.
    leftover("." + fileName(b.id) + ".tmp-fresh1", std::chrono::seconds(1));
    leftover(".notes.txt.tmp-abcdef", std::chrono::hours(1));
    leftover("." + fileName(b.id) + ".tmp-toolong1", std::chrono::hours(1));

    auto history = loaded();
    EXPECT_EQ(ids(history->summaries.get()), (std::vector{b.id, a.id}));
    EXPECT_EQ(folderNames(folder),
              sorted({"." + fileName(b.id) + ".tmp-fresh1", "." + fileName(b.id) + ".tmp-toolong1",
                      ".notes.txt.tmp-abcdef", fileName(b.id), fileName(a.id), "index.json"}));

    // Deleting a session removes what is left of its writes, whatever its age.
    history->deleteSession(b.id);
    EXPECT_EQ(folderNames(folder),
              sorted({"." + fileName(b.id) + ".tmp-toolong1", ".notes.txt.tmp-abcdef", fileName(a.id), "index.json"}));

    // Deleting all leaves no conversation text behind.
    leftover("." + fileName(a.id) + ".tmp-new123", std::chrono::seconds(0));
    leftover(".index.json.tmp-new456", std::chrono::seconds(0));
    history->deleteAll();
    EXPECT_EQ(folderNames(folder), sorted({"." + fileName(b.id) + ".tmp-toolong1", ".notes.txt.tmp-abcdef"}));
}

TEST_F(HistoryTest, ASessionInALowerCaseFileIsSavedThereAndStaysDeleted)
{
    auto lowerName = [](const rt::Uuid& id) {
        std::string name = id.toString() + ".json";
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        return name;
    };
    ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    const ConversationSession c = session(3000);
    temp.write(folder / lowerName(a.id), HistoryJson::encode(a));
    temp.write(folder / lowerName(b.id), HistoryJson::encode(b));
    // Both names for one session, as an earlier save beside the lower-case file left them.
    writeSession(c);
    temp.write(folder / lowerName(c.id), HistoryJson::encode(c));

    auto history = loaded();
    ASSERT_EQ(history->summaries.get().size(), 4u);
    // Search reads the file the session was loaded from.
    EXPECT_EQ(ConversationHistory::searchNow("sentence 1", {ConversationHistory::summary(b)}, folder).size(), 1u);

    // A later save replaces the file the session came from.
    a.entries.push_back(entry(Side::me, "one more", 1200));
    history->save(a);
    EXPECT_FALSE(fs::exists(folder / fileName(a.id)));
    EXPECT_EQ(HistoryJson::decodeSession(temp.read(folder / lowerName(a.id))), a);

    history->deleteSession(a.id);
    history->deleteSession(c.id);
    history->deleteSessions(rt::Date{2100});
    EXPECT_TRUE(history->summaries.get().empty());
    EXPECT_EQ(folderNames(folder), std::vector<std::string>{"index.json"});
    EXPECT_TRUE(loaded()->summaries.get().empty()) << "nothing comes back at the next launch";
}

TEST_F(HistoryTest, DeletionsDuringTheLoadAreNotUndoneByIt)
{
    const ConversationSession a = session(1000);
    const ConversationSession b = session(2000);
    writeSession(a);
    writeSession(b);
    auto history = makeHistory();
    history->load();
    for (int step = 0; step < 10 && !fs::exists(folder / "index.json"); ++step)
        runtime.executor().runOne();
    ASSERT_FALSE(history->isLoaded.get());
    history->deleteSession(a.id);
    runtime.runUntilIdle();
    EXPECT_EQ(ids(history->summaries.get()), std::vector{b.id});

    auto again = makeHistory();
    const ConversationSession c = session(3000);
    fs::remove(folder / "index.json");
    again->load();
    for (int step = 0; step < 10 && !fs::exists(folder / "index.json"); ++step)
        runtime.executor().runOne();
    ASSERT_FALSE(again->isLoaded.get());
    again->save(c);
    again->deleteAll();
    const ConversationSession d = session(4000);
    again->save(d);
    runtime.runUntilIdle();
    EXPECT_EQ(ids(again->summaries.get()), std::vector{d.id}) << "only what was saved after the deletion";
}

TEST_F(HistoryTest, ReleasingTheHistoryDuringTheLoadDropsTheResult)
{
    writeSession(session(1000));
    auto history = makeHistory();
    history->load();
    history.reset();
    runtime.runUntilIdle();
    EXPECT_TRUE(fs::exists(folder / "index.json")) << "the scan itself still ran";
}

TEST_F(HistoryTest, SearchFindsTheFirstMatchingSentenceOfEachSession)
{
    const std::string longTranslation = "Meeting at the Café " + std::string(200, 'x');
    ConversationSession third = session(1000, 2, "nothing here");
    third.entries.push_back(entry(Side::them, "第三句", 1200, longTranslation));
    third.entries.push_back(entry(Side::me, "cafe again", 1300));
    ConversationSession both = session(2000, 1, "no");
    both.entries.push_back(entry(Side::me, "CAFÉ in original", 2100, "cafe in translation"));
    ConversationSession none = session(3000, 3, "unrelated");
    ConversationSession corrupt = session(4000, 1, "cafe");
    for (const auto& s : {third, both, none, corrupt})
        writeSession(s);
    temp.write(folder / fileName(corrupt.id), "{");
    auto history = loaded();
    const auto list = history->summaries.get();
    ASSERT_EQ(ids(list), (std::vector{none.id, both.id, third.id}));

    auto hits = ConversationHistory::searchNow("cafe", list, folder);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].summary, list[1]);
    EXPECT_EQ(hits[0].sentence, "CAFÉ in original") << "the original wins when both match";
    EXPECT_EQ(hits[1].summary.id, third.id);
    EXPECT_EQ(hits[1].sentence, longTranslation.substr(0, 121)) << "the translation, cut to 120 characters";
    EXPECT_EQ(hits[1].sentence.size(), 121u) << "É is one character of two bytes";

    EXPECT_TRUE(ConversationHistory::searchNow("", list, folder).empty());
    EXPECT_EQ(ConversationHistory::searchNow("第三", list, folder).size(), 1u);

    // A summary missing from the list is not searched, whatever its file holds.
    EXPECT_TRUE(ConversationHistory::searchNow("cafe", {list[0]}, folder).empty());
    auto hit = ConversationHistory::searchNow("cafe", {ConversationHistory::summary(corrupt)}, folder);
    EXPECT_TRUE(hit.empty()) << "an unreadable file is skipped";

    auto task = test::runTask(runtime, [&]() -> rt::Async<std::vector<ConversationHistory::SearchHit>> {
        co_return co_await ConversationHistory::search("CAFE", history->summaries.get(), history->directory());
    });
    ASSERT_TRUE(task.isFinished());
    EXPECT_EQ(task.result().size(), 2u);
}

TEST(HistorySearchText, MatchingIgnoresCaseAndDiacriticsOnly)
{
    using HistoryText::SearchPattern;
    EXPECT_TRUE(SearchPattern("strasse").isFoundIn("Große Straße"));
    EXPECT_TRUE(SearchPattern("ISTANBUL").isFoundIn("İstanbul'da"));
    EXPECT_TRUE(SearchPattern("résumé").isFoundIn("my RESUME"));
    EXPECT_TRUE(SearchPattern("e\xCC\x81t\xC3\xA9").isFoundIn("\xC3\x89T\xC3\x89"));
    EXPECT_TRUE(SearchPattern("你好").isFoundIn("他说你好吗"));
    EXPECT_FALSE(SearchPattern("你们").isFoundIn("他说你好吗"));
    EXPECT_FALSE(SearchPattern("cafe").isFoundIn("caffe"));
    EXPECT_FALSE(SearchPattern("").isFoundIn("anything"));
    // A syllable is a whole character, not the start of a longer one.
    EXPECT_FALSE(SearchPattern("가").isFoundIn("생각했어요"));
    EXPECT_TRUE(SearchPattern("각").isFoundIn("생각했어요"));
    EXPECT_TRUE(SearchPattern("\u1100\u1161\u11A8").isFoundIn("생각"));
}

TEST_F(HistoryTest, CancelledSearchReturnsNothing)
{
    std::vector<ConversationSession> sessions;
    for (int i = 0; i < 4; ++i) {
        sessions.push_back(session(1000.0 * (4 - i), 2, "match"));
        writeSession(sessions.back());
    }
    auto history = loaded();
    const auto list = history->summaries.get();
    int asked = 0;
    auto afterTwoHits = [&] { return ++asked > 2; };
    EXPECT_EQ(ConversationHistory::searchNow("match", list, folder).size(), 4u);
    EXPECT_TRUE(ConversationHistory::searchNow("match", list, folder, afterTwoHits).empty());
    EXPECT_EQ(asked, 3);

    auto task = rt::spawn([&]() -> rt::Async<std::vector<ConversationHistory::SearchHit>> {
        co_return co_await ConversationHistory::search("match", list, folder);
    });
    runtime.executor().runOne();  // the search starts and hands its work to the background
    task.cancel();
    runtime.runUntilIdle();
    ASSERT_TRUE(task.isFinished());
    EXPECT_TRUE(task.result().empty());
}

TEST_F(HistoryTest, OneSessionLoadsOrSaysWhyItCannot)
{
    auto history = loaded();
    ConversationSession kept = session(1000, 3);
    ASSERT_EQ(history->save(kept), std::nullopt);
    auto read = history->loadSession(kept.id);
    ASSERT_TRUE(std::holds_alternative<ConversationSession>(read));
    EXPECT_EQ(std::get<ConversationSession>(read), kept);

    auto failure = [&](const rt::Uuid& id) {
        auto result = history->loadSession(id);
        return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "a session";
    };
    const rt::Uuid missing = rt::Uuid::random();
    EXPECT_EQ(failure(missing), "No such file or directory");

    // The page's read, off the main thread, answers the same.
    std::vector<std::variant<ConversationSession, std::string>> inBackground;
    rt::spawn([&]() -> rt::Async<void> {
        inBackground.push_back(co_await history->readSession(kept.id));
        inBackground.push_back(co_await history->readSession(missing));
    });
    runtime.runUntilIdle();
    ASSERT_EQ(inBackground.size(), 2u);
    EXPECT_EQ(inBackground[0], (std::variant<ConversationSession, std::string>(kept)));
    EXPECT_EQ(inBackground[1],
              (std::variant<ConversationSession, std::string>(std::string("No such file or directory"))));

    ConversationSession broken = session(2000);
    writeSession(broken);
    temp.write(folder / fileName(broken.id), "{ not json");
    EXPECT_EQ(failure(broken.id), fileName(broken.id) + ": not a readable conversation");
    temp.write(folder / fileName(broken.id),
               R"({"id":")" + broken.id.toString() + R"(","entries":)" + std::string(100'000, '[')
                   + std::string(100'000, ']') + "}");
    EXPECT_EQ(failure(broken.id), fileName(broken.id) + ": not a readable conversation") << "nested too deep";

    // A FIFO in a session's place is refused at once, not waited on.
    const fs::path fifo = folder / fileName(kept.id);
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failure(kept.id), fileName(kept.id) + ": not a regular file");

    // Without a folder nothing is read from the current one.
    auto folderless = ConversationHistory::makeWithoutFolder(platform.defaults, "no home folder");
    auto none = folderless->loadSession(kept.id);
    ASSERT_TRUE(std::holds_alternative<std::string>(none));
    EXPECT_EQ(std::get<std::string>(none), "no home folder");
}

TEST_F(HistoryTest, TheSearchAnswersOnceTheQueryHasStoodAndForgetsDeletedSessions)
{
    std::vector<ConversationSession> sessions;
    for (int i = 0; i < 3; ++i) {
        sessions.push_back(session(1000.0 * (i + 1), 2, "match"));
        writeSession(sessions.back());
    }
    writeSession(session(500, 2, "other"));
    auto history = loaded();
    auto wait = [&](double seconds) {
        runtime.advance(seconds);
        runtime.runUntilIdle();
    };
    auto found = [&] {
        const auto& hits = history->searchHits.get();
        return hits ? static_cast<int>(hits->size()) : -1;
    };

    history->searchFor("match");
    wait(ConversationHistory::searchDelay - 0.01);
    EXPECT_EQ(found(), -1) << "not before the query has stood";
    wait(0.01);
    EXPECT_EQ(found(), 3);

    // A new query inside the delay replaces the old one, which never answers.
    history->searchFor("other");
    EXPECT_EQ(found(), -1);
    wait(0.2);
    history->searchFor("match");
    wait(0.1);
    EXPECT_EQ(found(), -1);
    wait(0.15);
    EXPECT_EQ(found(), 3);

    // Deleting by id, by age and all at once drops the deleted sessions' hits.
    history->deleteSession(sessions[2].id);
    EXPECT_EQ(found(), 2);
    history->deleteSessions(rt::Date{1500});
    EXPECT_EQ(found(), 1);
    ASSERT_EQ(history->searchHits.get()->front().summary.id, sessions[1].id);
    history->deleteAll();
    EXPECT_EQ(found(), 0) << "a search that finds nothing, not no search";

    // An empty query ends searching; a search outliving its history is dropped.
    history->searchFor("");
    wait(1);
    EXPECT_EQ(found(), -1);
    history->searchFor("match");
    history.reset();
    wait(1);
}

}  // namespace
}  // namespace parlaro
