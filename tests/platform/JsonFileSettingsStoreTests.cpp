#include "platform/linux/JsonFileSettingsStore.h"

#include "platform/ProgramFolder.h"
#include "runtime/Error.h"
#include "support/DeepJson.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace parlaro::sys {
namespace {

using test::TempDirectory;
namespace fs = std::filesystem;
// A file and a folder for the user alone.
constexpr fs::perms userFile = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms userFolder = fs::perms::owner_all;

std::vector<std::string> filesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(JsonFileSettingsStore, EveryTypeSurvivesReopening)
{
    TempDirectory folder;
    const auto file = folder / "nested" / "settings.json";
    DefaultsData bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(255 - i));
    }
    const std::map<std::string, DefaultsValue> values = {
        {"string", "简体中文 \"quoted\""},
        {"bool", false},
        {"int", std::int64_t{-9007199254740993}},
        {"wholeDouble", 2.0},
        {"double", 0.1},
        {"infinite", -std::numeric_limits<double>::infinity()},
        {"data", bytes},
        {"oneByte", DefaultsData{0xff}},
        {"emptyData", DefaultsData{}},
        {"list", DefaultsStringList{"en", "", "zh-Hant"}},
        {"emptyList", DefaultsStringList{}},
        {"dictionary", DefaultsDictionary{{"$data", "not bytes"}, {"inner", DefaultsDictionary{{"n", 1.5}}}}},
    };
    {
        JsonFileSettingsStore defaults(file);
        for (const auto& [key, value] : values) {
            defaults.set(key, value);
        }
        defaults.set("nan", std::numeric_limits<double>::quiet_NaN());
    }
    JsonFileSettingsStore reopened(file);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reopened.value(key), value) << key;
    }
    EXPECT_TRUE(std::isnan(reopened.get<double>("nan").value_or(0)));
    EXPECT_EQ(reopened.get<std::int64_t>("wholeDouble"), std::nullopt);
    EXPECT_EQ(reopened.get<double>("int"), std::nullopt);

    reopened.remove("string");
    EXPECT_FALSE(JsonFileSettingsStore(file).has("string"));
    // Only the settings file remains: no temporary files are left behind.
    EXPECT_EQ(filesIn(folder / "nested"), std::vector<std::string>{"settings.json"});
    // The folder it made and the file are the user's alone.
    EXPECT_EQ(fs::status(folder / "nested").permissions(), userFolder);
    EXPECT_EQ(fs::status(file).permissions(), userFile);
}

TEST(JsonFileSettingsStore, DamagedFilesAreSetAsideNeverOverwritten)
{
    TempDirectory folder;
    const auto file = folder / "settings.json";
    auto sameSecond = [] { return std::string("20250101T000000Z"); };

    folder.write("settings.json", "{\"volume\": 0.5,");
    fs::permissions(file, userFile | fs::perms::group_read | fs::perms::others_read);
    {
        JsonFileSettingsStore defaults(file, sameSecond);
        EXPECT_FALSE(defaults.has("volume"));
        EXPECT_EQ(defaults.setAsidePath(), folder / "settings.json.corrupt-20250101T000000Z");
        EXPECT_EQ(defaults.openProblem(),
                  (JsonFileSettingsStore::OpenProblem{JsonFileSettingsStore::OpenProblem::Kind::setAside,
                                                      folder / "settings.json.corrupt-20250101T000000Z",
                                                      "is not valid JSON"}));
        defaults.set("volume", 0.25);
    }
    EXPECT_EQ(folder.read("settings.json.corrupt-20250101T000000Z"), "{\"volume\": 0.5,");
    EXPECT_EQ(fs::status(folder / "settings.json.corrupt-20250101T000000Z").permissions(), userFile)
        << "a copy set aside is the user's alone";

    folder.write("settings.json", "[1, 2, 3]");
    {
        JsonFileSettingsStore defaults(file, sameSecond);
        EXPECT_EQ(defaults.setAsidePath(), folder / "settings.json.corrupt-20250101T000000Z-2");
    }
    EXPECT_EQ(folder.read("settings.json.corrupt-20250101T000000Z"), "{\"volume\": 0.5,");
    EXPECT_EQ(folder.read("settings.json.corrupt-20250101T000000Z-2"), "[1, 2, 3]");

    JsonFileSettingsStore healthy(file, sameSecond);
    EXPECT_EQ(healthy.setAsidePath(), std::nullopt);
    EXPECT_EQ(healthy.openProblem(), std::nullopt);
}

// Opens the store in a child process that may not read the file (an
// unprivileged user when the tests run as root, where no mode keeps a
// reader out) and returns what it found: 0 when the file was left alone as
// unreadable and writes were refused.
int openUnreadableInChild(const std::filesystem::path& file)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        JsonFileSettingsStore defaults(file);
        const auto problem = defaults.openProblem();
        if (!problem || problem->kind != JsonFileSettingsStore::OpenProblem::Kind::unreadable || problem->keptAt != file
            || problem->reason != "cannot be read: Permission denied")
            ::_exit(11);
        if (defaults.has("saveConversationHistory"))
            ::_exit(12);
        try {
            defaults.set("saveConversationHistory", true);
            ::_exit(13);
        } catch (const DomainError& error) {
            ::_exit(error.code() == 3 ? 0 : 14);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(JsonFileSettingsStore, AFileThatCannotBeReadIsLeftAloneAndNeverWrittenOver)
{
    TempDirectory folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    const auto file = folder / "settings.json";
    const std::string saved = R"({"saveConversationHistory": false})";
    folder.write("settings.json", saved);
    ::chmod(file.c_str(), 0);
    EXPECT_EQ(openUnreadableInChild(file), 0);
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"settings.json"});
    EXPECT_EQ(folder.read("settings.json"), saved);
    // Once it can be read again, its settings are back.
    EXPECT_EQ(JsonFileSettingsStore(file).get<bool>("saveConversationHistory"), false);

    // A folder or a pipe in its place is no settings file either; the pipe
    // does not hang the start.
    for (const bool pipe : {false, true}) {
        TempDirectory other;
        const auto path = other / "settings.json";
        if (pipe)
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else
            std::filesystem::create_directory(path);
        JsonFileSettingsStore defaults(path);
        EXPECT_EQ(defaults.openProblem(),
                  (JsonFileSettingsStore::OpenProblem{JsonFileSettingsStore::OpenProblem::Kind::unreadable, path,
                                                      pipe ? "cannot be read: it is not a regular file"
                                                           : "cannot be read: it is a folder"}));
        EXPECT_THROW(defaults.set("volume", 1.0), DomainError);
        EXPECT_EQ(filesIn(other.path()), std::vector<std::string>{"settings.json"});
        EXPECT_EQ(std::filesystem::is_fifo(path), pipe);
    }
}

TEST(JsonFileSettingsStore, KeepsEntriesItCannotReadAndReportsFailedWrites)
{
    TempDirectory folder;
    folder.write("settings.json", R"({"future": {"$color": "red"}, "big": 18446744073709551615, "name": "a"})");
    {
        JsonFileSettingsStore defaults(folder / "settings.json");
        EXPECT_TRUE(defaults.has("future"));
        EXPECT_EQ(defaults.value("future"), std::nullopt);
        EXPECT_EQ(defaults.get<std::int64_t>("big"), std::nullopt);
        defaults.set("name", "b");
    }
    const auto saved = nlohmann::json::parse(folder.read("settings.json"));
    EXPECT_EQ(saved["future"]["$color"], "red");
    EXPECT_EQ(saved["big"].get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_EQ(saved["name"], "b");

    // A folder that cannot exist (its parent is a file) makes every write fail.
    folder.write("blocker", "");
    JsonFileSettingsStore unwritable(folder / "blocker" / "settings.json");
    try {
        unwritable.set("volume", 1.0);
        ADD_FAILURE() << "the write was reported as stored";
    } catch (const DomainError& error) {
        EXPECT_EQ(error.domain(), "SettingsStore");
        EXPECT_EQ(error.code(), 1);
    }
    EXPECT_FALSE(unwritable.has("volume"));

    // Text that is not UTF-8 cannot be stored in JSON; the caller hears so.
    JsonFileSettingsStore defaults(folder / "other.json");
    EXPECT_THROW(defaults.set("bad", std::string("\xff\xfe")), DomainError);
    EXPECT_FALSE(defaults.has("bad"));
}

TEST(JsonFileSettingsStore, ADeeplyNestedFileIsSetAsideAndNoWriteBalloons)
{
    using test::nestedArrays;
    TempDirectory folder;
    const auto file = folder / "settings.json";
    auto sameSecond = [] { return std::string("20250101T000000Z"); };
    // A small file holding one value nested far deeper than anything the
    // program writes: once a crash on the first save, once a 200 MB file.
    for (const std::size_t depth : {100'000u, 10'000u, 65u}) {
        const std::string deep = "{\"k\":" + nestedArrays(depth - 1) + ",\"volume\":0.5}";
        folder.write("settings.json", deep);
        {
            JsonFileSettingsStore defaults(file, sameSecond);
            EXPECT_EQ(defaults.openProblem(),
                      (JsonFileSettingsStore::OpenProblem{JsonFileSettingsStore::OpenProblem::Kind::setAside,
                                                          folder / "settings.json.corrupt-20250101T000000Z",
                                                          "is nested more than 64 levels deep"}))
                << depth;
            EXPECT_FALSE(defaults.has("volume"));
            defaults.set("volume", 0.25);
        }
        EXPECT_EQ(folder.read("settings.json.corrupt-20250101T000000Z"), deep);
        EXPECT_EQ(JsonFileSettingsStore(file).get<double>("volume"), 0.25);
        std::filesystem::remove(folder / "settings.json.corrupt-20250101T000000Z");
    }

    // Far larger than settings ever are, though what it starts with reads
    // well: set aside unread (a sparse gigabyte once ran a start out of
    // memory).
    const std::string padded = "{\"volume\": 0.5}" + std::string(JsonFileSettingsStore::largestFile, ' ');
    folder.write("settings.json", padded);
    {
        JsonFileSettingsStore defaults(file, sameSecond);
        EXPECT_EQ(defaults.openProblem(),
                  (JsonFileSettingsStore::OpenProblem{JsonFileSettingsStore::OpenProblem::Kind::setAside,
                                                      folder / "settings.json.corrupt-20250101T000000Z",
                                                      "is larger than 16 MiB"}));
        EXPECT_FALSE(defaults.has("volume"));
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "settings.json.corrupt-20250101T000000Z"), padded.size());
    std::filesystem::remove(folder / "settings.json.corrupt-20250101T000000Z");

    // As deep as allowed, it is kept, and every save writes it back at about
    // its own size rather than indented level by level.
    std::string atLimit = "{\"k\":" + nestedArrays(63, "1") + ",\"wide\":[";
    for (int i = 0; i < 200; ++i)
        atLimit += nestedArrays(62, std::to_string(i)) + ",";
    atLimit += "0]}";
    folder.write("settings.json", atLimit);
    const nlohmann::json written = nlohmann::json::parse(atLimit);
    {
        JsonFileSettingsStore defaults(file);
        EXPECT_EQ(defaults.openProblem(), std::nullopt);
        defaults.set("volume", 0.5);
        defaults.set("languages", DefaultsStringList{"en", "es"});
        defaults.remove("volume");
    }
    const std::string saved = folder.read("settings.json");
    EXPECT_LE(saved.size(), atLimit.size() + 100);
    nlohmann::json expected = written;
    expected["languages"] = {"en", "es"};
    EXPECT_TRUE(nlohmann::json::parse(saved) == expected);
    JsonFileSettingsStore reopened(file);
    EXPECT_EQ(reopened.openProblem(), std::nullopt);
    EXPECT_EQ(reopened.get<DefaultsStringList>("languages"), (DefaultsStringList{"en", "es"}));
    // Still one entry a line, in key order.
    EXPECT_EQ(saved.substr(0, 9), "{\n  \"k\": ");
    EXPECT_NE(saved.find("]]]]]],\n  \"languages\": [\"en\",\"es\"],\n  \"wide\": [[[["), std::string::npos)
        << saved.substr(0, 300);
}

TEST(JsonFileSettingsStore, OpeningRemovesOnlyItsOwnStaleTemporaries)
{
    TempDirectory folder;
    // What a save killed before its rename leaves, and names that only look
    // alike or belong to someone else.
    const std::vector<std::string> names = {".settings.json.tmp-a1B2c3", ".settings.json.tmp-Zz9999",
                                            ".other.json.tmp-a1B2c3",    "settings.json.tmp-a1B2c3",
                                            ".settings.json.tmp-a1B2",   ".settings.json.tmp-a1B2c3.bak"};
    const auto twoMinutesAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const auto& name : names) {
        folder.write(name, "{}");
        std::filesystem::last_write_time(folder / name, twoMinutesAgo);
    }
    // A save of another process that is under way right now.
    folder.write(".settings.json.tmp-n0wN0w", "{}");
    folder.write("settings.json", R"({"volume": 0.5})");

    JsonFileSettingsStore defaults(folder / "settings.json");
    EXPECT_EQ(defaults.get<double>("volume"), 0.5);
    EXPECT_EQ(
        filesIn(folder.path()),
        (std::vector<std::string>{".other.json.tmp-a1B2c3", ".settings.json.tmp-a1B2", ".settings.json.tmp-a1B2c3.bak",
                                  ".settings.json.tmp-n0wN0w", "settings.json", "settings.json.tmp-a1B2c3"}));
}

TEST(JsonFileSettingsStore, ALinkedSettingsFileStaysALinkAndIsWrittenWhereItLeads)
{
    TempDirectory home;
    home.write("dotfiles/parlaro/settings.json", R"({"volume": 0.5})");
    fs::create_directories(home / "config");
    // A relative link to a relative link, as dotfile managers make them.
    fs::create_symlink("../dotfiles/parlaro/settings.json", home / "dotfiles" / "current.json");
    fs::create_symlink("../dotfiles/current.json", home / "config" / "settings.json");
    const auto link = home / "config" / "settings.json";
    const auto target = home / "dotfiles" / "parlaro" / "settings.json";
    const auto sameSecond = [] { return std::string("20250101T000000Z"); };
    {
        JsonFileSettingsStore defaults(link);
        EXPECT_EQ(defaults.get<double>("volume"), 0.5);
        defaults.set("volume", 0.75);
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(home / "dotfiles" / "current.json")));
    EXPECT_EQ(nlohmann::json::parse(home.read("dotfiles/parlaro/settings.json"))["volume"], 0.75);
    EXPECT_EQ(filesIn(home / "config"), std::vector<std::string>{"settings.json"});
    EXPECT_EQ(filesIn(home / "dotfiles" / "parlaro"), std::vector<std::string>{"settings.json"});

    // Damaged where it leads: set aside there, and the next save writes a
    // fresh file through the link.
    home.write("dotfiles/parlaro/settings.json", "{\"volume\"");
    {
        JsonFileSettingsStore defaults(link, sameSecond);
        EXPECT_EQ(defaults.setAsidePath(), target.string() + ".corrupt-20250101T000000Z");
        defaults.set("volume", 0.25);
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(home.read("dotfiles/parlaro/settings.json.corrupt-20250101T000000Z"), "{\"volume\"");
    EXPECT_EQ(JsonFileSettingsStore(link).get<double>("volume"), 0.25);

    // Links that go round in a circle lead to no file: it cannot be read,
    // and nothing is written over the links.
    fs::create_symlink("loop-b", home / "loop-a");
    fs::create_symlink("loop-a", home / "loop-b");
    JsonFileSettingsStore looped(home / "loop-a");
    ASSERT_TRUE(looped.openProblem());
    EXPECT_EQ(looped.openProblem()->kind, JsonFileSettingsStore::OpenProblem::Kind::unreadable);
    EXPECT_THROW(looped.set("volume", 1.0), DomainError);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(home / "loop-a")));

    // A link to a file in a folder anyone may write in: another may have
    // put the file there, or may swap it. It is no more read than written
    // through: the user is told as for any folder not theirs alone, the
    // defaults are in use, and the first save replaces the link.
    fs::create_directories(home / "open");
    fs::permissions(home / "open", fs::perms::all);
    home.write("open/settings.json", R"({"interfaceLanguage": "xx"})");
    fs::create_symlink(home / "open/settings.json", home / "config/planted.json");
    takeEarlierEntryNotes();
    {
        JsonFileSettingsStore planted(home / "config/planted.json");
        EXPECT_FALSE(planted.has("interfaceLanguage"));
        EXPECT_EQ(planted.openProblem(), std::nullopt);
        EXPECT_EQ(takeEarlierEntryNotes(),
                  (std::vector<EarlierEntryNote>{{EarlierEntryNote::Kind::passedOver,
                                                  home / "open",
                                                  {},
                                                  home / "config/planted.json",
                                                  "others may write in it"}}));
        planted.set("volume", 0.5);
    }
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(home / "config/planted.json")));
    EXPECT_EQ(JsonFileSettingsStore(home / "config/planted.json").get<double>("volume"), 0.5);
    EXPECT_EQ(home.read("open/settings.json"), R"({"interfaceLanguage": "xx"})");

    // Where the file is, is decided as the store opens: a folder swapped
    // afterwards for a link to another place takes nothing there.
    home.write("swapped/parlaro/settings.json", R"({"volume": 0.5})");
    JsonFileSettingsStore held(home / "swapped/parlaro/settings.json");
    fs::rename(home / "swapped/parlaro", home / "swapped/aside");
    fs::create_directories(home / "elsewhere");
    fs::create_symlink(home / "elsewhere", home / "swapped/parlaro");
    held.set("volume", 0.75);
    EXPECT_EQ(filesIn(home / "elsewhere"), std::vector<std::string>{});
    EXPECT_EQ(nlohmann::json::parse(home.read("swapped/aside/settings.json"))["volume"], 0.75);

    // A folder removed, with those above it, is made again where the path
    // now leads, whether it held the file or was still to be made.
    for (const std::string before : {"gone/config/parlaro/settings.json", "gone/other"}) {
        home.write(before, R"({"volume": 0.5})");
        JsonFileSettingsStore cleared(home / "gone/config/parlaro/settings.json");
        fs::remove_all(home / "gone");
        fs::create_directories(home / "gone");
        cleared.set("volume", 0.25);
        EXPECT_EQ(nlohmann::json::parse(home.read("gone/config/parlaro/settings.json"))["volume"], 0.25) << before;
        fs::remove_all(home / "gone");
    }
}

TEST(JsonFileSettingsStore, ConcurrentWritersLoseNothing)
{
    TempDirectory folder;
    const auto file = folder / "settings.json";
    {
        JsonFileSettingsStore defaults(file);
        std::vector<std::thread> writers;
        for (int writer = 0; writer < 4; ++writer) {
            writers.emplace_back([&defaults, writer] {
                for (int i = 0; i < 25; ++i) {
                    defaults.set("key" + std::to_string(writer) + "-" + std::to_string(i), writer * 100 + i);
                }
            });
        }
        for (auto& thread : writers) {
            thread.join();
        }
    }
    JsonFileSettingsStore reopened(file);
    for (int writer = 0; writer < 4; ++writer) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(reopened.get<std::int64_t>("key" + std::to_string(writer) + "-" + std::to_string(i)),
                      writer * 100 + i);
        }
    }
}

TEST(JsonFileSettingsStore, DefaultPathFollowsTheConfigFolder)
{
    auto environment = [](std::map<std::string, std::string> values) -> Environment {
        return [values](const std::string& name) -> std::optional<std::string> {
            auto found = values.find(name);
            return found == values.end() ? std::nullopt : std::optional(found->second);
        };
    };
    EXPECT_EQ(JsonFileSettingsStore::defaultPath("app", environment({{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/h"}})),
              "/cfg/parlaro/app.json");
    EXPECT_EQ(JsonFileSettingsStore::defaultPath("app", environment({{"HOME", "/h"}})), "/h/.config/parlaro/app.json");
    EXPECT_EQ(JsonFileSettingsStore::defaultPath("app", environment({{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/h"}})),
              "/h/.config/parlaro/app.json");
    // A relative home is ignored for the account's own, which is absolute.
    for (const char* home : {"relative", ""}) {
        auto path = JsonFileSettingsStore::defaultPath("app", environment({{"HOME", home}}));
        EXPECT_TRUE(path.is_absolute()) << home << " -> " << path;
    }
    for (const char* bad : {"", "..", "a/b", "."}) {
        EXPECT_THROW(JsonFileSettingsStore::defaultPath(bad, environment({{"HOME", "/h"}})), std::invalid_argument)
            << bad;
    }
}

}  // namespace
}  // namespace parlaro::sys
