#include "platform/ProgramFolder.h"
#include "platform/UserFolders.h"
#include "platform/linux/JsonFileSettingsStore.h"
#include "platform/linux/sphinx/SphinxChannelFile.h"
#include "runtime/Log.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parlaro;
namespace fs = std::filesystem;

namespace {

// What an earlier version left: settings and a history with a session.
void leaveEarlierFiles(const test::TempDirectory& home)
{
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "de", "onboardingDone": true})");
    home.write("data/wenmora/History/2026-12-07.json", R"({"entries": []})");
    home.write("data/wenmora/History/index.json", "[]");
    // An installation under ~/.local kept its string tables beside them.
    home.write("data/wenmora/resources/i18n/en/common.json", "{}");
}

}  // namespace

TEST(ProgramFolder, EarlierSettingsAndHistoryMoveOnceWithEveryFileAndNothingNewIsReplaced)
{
    test::TempDirectory home;
    leaveEarlierFiles(home);
    // An installation under ~/.local already put its string tables into the
    // new folder: the history moves in beside them.
    home.write("data/parlaro/resources/i18n/en/common.json", "{}");

    EXPECT_EQ(programPath(home / "data", "History"), home / "data/parlaro/History");
    EXPECT_EQ(home.read("data/parlaro/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_EQ(home.read("data/parlaro/History/index.json"), "[]");
    EXPECT_EQ(home.read("data/parlaro/resources/i18n/en/common.json"), "{}");
    EXPECT_FALSE(fs::exists(home / "data/wenmora")) << "the emptied earlier folder goes, its string tables too";

    // The settings store finds the moved file through its own path.
    const auto environment = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "XDG_CONFIG_HOME")
            return (home / "config").string();
        return std::nullopt;
    };
    const fs::path path = sys::JsonFileSettingsStore::defaultPath("settings", environment);
    EXPECT_EQ(path, home / "config/parlaro/settings.json");
    {
        sys::JsonFileSettingsStore store(path);
        EXPECT_EQ(store.get<std::string>("interfaceLanguage"), "de");
        EXPECT_EQ(store.get<bool>("onboardingDone"), true);
    }

    EXPECT_TRUE(takeEarlierEntryNotes().empty()) << "a move that went as asked needs no word";

    // An earlier copy ran again beside the new one: its settings are kept
    // aside, named to the user, and the new ones stay in force; its new
    // sessions come in beside the others, the new never replaced.
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "ja"})");
    home.write("data/wenmora/History/2026-12-08.json", R"({"entries": [1]})");
    home.write("data/wenmora/History/2026-12-07.json", R"({"entries": [2]})");
    home.write("data/wenmora/History/index.json", "[]");
    EXPECT_EQ(sys::JsonFileSettingsStore::defaultPath("settings", environment), path);
    EXPECT_EQ(programPath(home / "data", "History"), home / "data/parlaro/History");
    EXPECT_EQ(home.read("config/parlaro/settings.json.earlier"), R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(sys::JsonFileSettingsStore(path).get<std::string>("interfaceLanguage"), "de");
    EXPECT_EQ(home.read("data/parlaro/History/2026-12-08.json"), R"({"entries": [1]})");
    EXPECT_EQ(home.read("data/parlaro/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_EQ(home.read("data/wenmora/History/2026-12-07.json"), R"({"entries": [2]})")
        << "one of the same name stays where it was";
    EXPECT_FALSE(fs::exists(home / "config/wenmora"));
    const auto notes = takeEarlierEntryNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0],
              (EarlierEntryNote{EarlierEntryNote::Kind::keptAside, home / "config/wenmora/settings.json",
                                home / "config/parlaro/settings.json.earlier", path, ""}));
    EXPECT_EQ(notes[1].kind, EarlierEntryNote::Kind::leftBehind);
    EXPECT_EQ(notes[1].earlier, home / "data/wenmora/History");
    earlierEntryNoteTold(notes[0]);
    // A second time: the next name, nothing replaced.
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "ko"})");
    sys::JsonFileSettingsStore::defaultPath("settings", environment);
    EXPECT_EQ(home.read("config/parlaro/settings.json.earlier-2"), R"({"interfaceLanguage": "ko"})");
    EXPECT_EQ(home.read("config/parlaro/settings.json.earlier"), R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(takeEarlierEntryNotes().size(), 1u);

    // Nothing earlier, nothing made: whoever writes creates the folder.
    test::TempDirectory fresh;
    EXPECT_EQ(programPath(fresh.path(), "History"), fresh / "parlaro/History");
    EXPECT_FALSE(fs::exists(fresh / "parlaro"));
    // A file where the earlier folder would be holds nothing to move.
    fresh.write("wenmora", "not a folder");
    EXPECT_EQ(programPath(fresh.path(), "History"), fresh / "parlaro/History");
    EXPECT_EQ(fresh.read("wenmora"), "not a folder");
}

TEST(ProgramFolder, AMoveThatFailsLeavesTheEarlierEntryUsesTheNewPlaceTellsOnceAndTriesAgain)
{
    test::TempDirectory home;
    leaveEarlierFiles(home);
    int attempts = 0;
    const FolderRename refused = [&](const fs::path&, const fs::path&, std::error_code& error) {
        ++attempts;
        error = std::make_error_code(std::errc::cross_device_link);
    };

    rt::LogCapture log;
    EXPECT_EQ(programPath(home / "data", "History", refused), home / "data/parlaro/History")
        << "saving works in the new place";
    EXPECT_EQ(home.read("data/wenmora/History/2026-12-07.json"), R"({"entries": []})");
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].find("could not bring " + (home / "data/wenmora/History").string()), 0u)
        << log.messages()[0];
    EXPECT_EQ(takeEarlierEntryNotes(),
              (std::vector<EarlierEntryNote>{{EarlierEntryNote::Kind::leftBehind,
                                              home / "data/wenmora/History",
                                              {},
                                              home / "data/parlaro/History",
                                              "Invalid cross-device link"}}));

    EXPECT_EQ(programPath(home / "data", "History", refused), home / "data/parlaro/History");
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(takeEarlierEntryNotes().empty()) << "told once";
    fs::create_directories(home / "data/parlaro/History");
    EXPECT_EQ(programPath(home / "data", "History"), home / "data/parlaro/History") << "a later start moves it";
    EXPECT_EQ(home.read("data/parlaro/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_FALSE(fs::exists(home / "data/wenmora"));
}

TEST(ProgramFolder, ARelativeLinkBroughtOverStillLeadsToItsFile)
{
    test::TempDirectory home;
    home.write("wenmora/settings-real.json", R"({"interfaceLanguage": "de"})");
    fs::create_symlink("settings-real.json", home / "wenmora/settings.json");
    home.write("wenmora/History/A.json", "{}");
    fs::create_symlink("../kept.json", home / "wenmora/History/B.json");
    home.write("wenmora/kept.json", "{}");
    fs::create_symlink("A.json", home / "wenmora/History/C.json");

    EXPECT_EQ(programPath(home.path(), "settings.json"), home / "parlaro/settings.json");
    EXPECT_EQ(home.read("parlaro/settings.json"), R"({"interfaceLanguage": "de"})");
    EXPECT_EQ(programPath(home.path(), "History"), home / "parlaro/History");
    EXPECT_EQ(home.read("parlaro/History/B.json"), "{}");
    EXPECT_EQ(fs::read_symlink(home / "parlaro/History/C.json"), "A.json") << "a link within what moved stays";
    EXPECT_EQ(home.read("wenmora/settings-real.json"), R"({"interfaceLanguage": "de"})");
}

// An earlier folder of another owner that this user may not read (left by
// a run as root): the new place is used, so settings and history can be
// saved, and the user is told once.
TEST(ProgramFolder, AnEarlierFolderThatCannotBeReadIsLeftAndTheNewPlaceUsed)
{
    test::TempDirectory home;
    home.write("config/wenmora/settings.json", "{}");
    uid_t stranger = 54321;
    if (::geteuid() == 0) {
        while (::getpwuid(stranger) != nullptr)
            ++stranger;
        ASSERT_EQ(::chown(home.path().c_str(), stranger, stranger), 0);
        ASSERT_EQ(::chown((home / "config").c_str(), stranger, stranger), 0);
    }
    fs::permissions(home / "config/wenmora", fs::perms::owner_all);
    if (::geteuid() != 0)
        fs::permissions(home / "config/wenmora", fs::perms::none);
    // Run as a user who cannot look in: as the stranger when this is root.
    const auto seen = [&]() -> std::string {
        int channel[2];
        if (::pipe(channel) != 0)
            return "no pipe";
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            if (::geteuid() == 0 && (::setgid(stranger) != 0 || ::setuid(stranger) != 0))
                ::_exit(2);
            std::string said = programPath(home / "config", "settings.json").string() + "\n";
            for (const auto& note : takeEarlierEntryNotes())
                said += note.earlier.string() + ": " + note.reason + "\n";
            said += programPath(home / "config", "settings.json").string() + "\n";
            for (const auto& note : takeEarlierEntryNotes())
                said += "again: " + note.earlier.string() + "\n";
            const bool written = ::write(channel[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
            ::_exit(written ? 0 : 3);
        }
        ::close(channel[1]);
        std::string said;
        char buffer[512];
        for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
            said.append(buffer, static_cast<std::size_t>(got));
        ::close(channel[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return said;
    }();
    fs::permissions(home / "config/wenmora", fs::perms::owner_all);
    const std::string current = (home / "config/parlaro/settings.json").string();
    EXPECT_EQ(seen,
              current + "\n" + (home / "config/wenmora/settings.json").string() + ": Permission denied\n" + current
                  + "\n");
    EXPECT_EQ(home.read("config/wenmora/settings.json"), "{}");
}

// A start killed anywhere in bringing the earlier folder over: the next one
// finishes it, and a file kept aside is told until the user has seen it.
TEST(ProgramFolder, AStartKilledHalfwayIsFinishedByTheNextAndTheKeptAsideNoteWaitsUntilShown)
{
    test::TempDirectory home;
    home.write("wenmora/kept.json", "{}");
    home.write("wenmora/History/A.json", "{}");
    fs::create_symlink("../kept.json", home / "wenmora/History/L.json");
    // Killed right after a rename, before the links that moved were mended.
    const FolderRename killed = [](const fs::path& from, const fs::path& to, std::error_code& error) {
        fs::rename(from, to, error);
        throw std::runtime_error("killed");
    };
    EXPECT_THROW(programPath(home.path(), "History", killed), std::runtime_error);
    EXPECT_EQ(programPath(home.path(), "History"), home / "parlaro/History");
    EXPECT_EQ(home.read("parlaro/History/L.json"), "{}");

    // The same while an earlier copy's sessions move in beside the new.
    fs::create_directories(home / "wenmora/History");
    fs::create_symlink("../kept.json", home / "wenmora/History/M.json");
    EXPECT_THROW(programPath(home.path(), "History", killed), std::runtime_error);
    EXPECT_EQ(programPath(home.path(), "History"), home / "parlaro/History");
    EXPECT_EQ(home.read("parlaro/History/M.json"), "{}");
    EXPECT_FALSE(fs::exists(home / "wenmora/History"));

    home.write("parlaro/settings.json", R"({"new": 1})");
    home.write("wenmora/settings.json", R"({"old": 1})");
    takeEarlierEntryNotes();
    programPath(home.path(), "settings.json");
    EXPECT_EQ(takeEarlierEntryNotes().size(), 1u) << "killed before it was shown";
    programPath(home.path(), "settings.json");
    const auto notes = takeEarlierEntryNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              (EarlierEntryNote{EarlierEntryNote::Kind::keptAside, home / "wenmora/settings.json",
                                home / "parlaro/settings.json.earlier", home / "parlaro/settings.json", ""}));
    earlierEntryNoteTold(notes[0]);
    programPath(home.path(), "settings.json");
    EXPECT_TRUE(takeEarlierEntryNotes().empty());
    EXPECT_EQ(home.read("parlaro/settings.json.earlier"), R"({"old": 1})");
}

// A config, data or state folder that others may write in, or that is not
// the user's, is passed over for the one under the home folder: a link
// planted there never leads a write out of the program's folders.
TEST(ProgramFolder, AFolderThatIsNotTheUsersAloneIsPassedOverAndTheUserToldOnce)
{
    test::TempDirectory home;
    fs::create_directories(home / "home");
    const fs::path shared = home / "shared";
    fs::create_directories(shared / "parlaro");
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    home.write("home/.profile", "profile");
    fs::create_symlink(home / "home/.profile", shared / "parlaro/recognition-channels.json");
    takeEarlierEntryNotes();
    {
        rt::LogCapture log;
        for (int start = 0; start < 2; ++start) {
            EXPECT_EQ(sys::SphinxChannelFile::defaultPath(shared.string(), (home / "home").string()),
                      home / "home/.local/state/parlaro/recognition-channels.json");
        }
        EXPECT_EQ(log.messages(), std::vector<std::string>{}) << "the notice of the note says it, in one line";
    }
    EXPECT_EQ(
        takeEarlierEntryNotes(),
        (std::vector<EarlierEntryNote>{
            {EarlierEntryNote::Kind::passedOver, shared, {}, home / "home/.local/state", "others may write in it"}}))
        << "told once";

    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        bool used;
    };
    const auto mode = [](fs::perms perms) {
        return [perms](const fs::path& folder) { fs::permissions(folder, perms); };
    };
    const auto owner = [](uid_t user, gid_t group, fs::perms perms, const char* below = "") {
        return [=](const fs::path& folder) {
            ASSERT_EQ(::chown((folder / below).c_str(), user, group), 0);
            fs::permissions(folder / below, perms);
        };
    };
    // A folder above that another may rename lets them swap in a folder of
    // their own while the program runs.
    const auto above = [](fs::perms perms) {
        return [perms](const fs::path& folder) { fs::permissions(folder.parent_path(), perms); };
    };
    const auto linkedInto = [&](const fs::path& folder) {
        fs::remove_all(folder);
        fs::create_directories(home / "open/real/parlaro");
        fs::permissions(home / "open", fs::perms::all);
        fs::create_symlink(home / "open/real", folder);
    };
    // Each hop of a chain of links counts: one that lies in a folder others
    // may write in may be swapped, wherever the chain ends.
    const auto linkedThroughAHop = [&](const fs::path& folder) {
        fs::remove_all(folder);
        fs::create_directories(home / "hops/open");
        fs::create_directories(home / "hops/real/parlaro");
        fs::permissions(home / "hops/open", fs::perms::all);
        fs::create_symlink(home / "hops/real", home / "hops/open/hop");
        fs::create_symlink("hops/open/hop", folder);
    };
    std::vector<Case> cases{{"own", mode(fs::perms::owner_all), true},
                            {"through a hop", linkedThroughAHop, false},
                            {"world-writable", mode(fs::perms::all), false},
                            {"open/below", above(fs::perms::all), false},
                            {"sticky/below", above(fs::perms::all | fs::perms::sticky_bit), true},
                            {"linked", linkedInto, false}};
    if (root) {
        cases.push_back(
            {"another's above/below", owner(65534, 65534, fs::perms::owner_all | fs::perms::others_exec, ".."), false});
        cases.push_back({"of the user's own group", owner(0, 0, fs::perms::owner_all | fs::perms::group_all), true});
        cases.push_back({"another's", owner(65534, 65534, fs::perms::owner_all), false});
        cases.push_back({"its program folder another's", owner(65534, 65534, fs::perms::owner_all, "parlaro"), false});
        cases.push_back(
            {"group-writable by another group", owner(0, 65534, fs::perms::owner_all | fs::perms::group_all), false});
    }
    for (const Case& folder : cases) {
        const fs::path config = home / folder.name;
        fs::create_directories(config / "parlaro");
        folder.make(config);
        const auto environment = [&](const std::string& name) -> std::optional<std::string> {
            if (name == "XDG_CONFIG_HOME")
                return config.string();
            if (name == "HOME")
                return (home / "home").string();
            return std::nullopt;
        };
        EXPECT_EQ(sys::JsonFileSettingsStore::defaultPath("settings", environment),
                  (folder.used ? config : home / "home/.config") / "parlaro/settings.json")
            << folder.name;
    }
    EXPECT_EQ(whyNotTheUsers(home / "open/below/parlaro"), "others may write in " + (home / "open").string());
    EXPECT_EQ(whyNotTheUsers(home / "sticky/below/parlaro/History"), std::nullopt);
    // Not there yet, in a folder others may write in: whoever comes first
    // would own it.
    EXPECT_EQ(sys::JsonFileSettingsStore::defaultPath("settings",
                                                      [&](const std::string& name) -> std::optional<std::string> {
                                                          if (name == "HOME")
                                                              return (home / "home").string();
                                                          return name == "XDG_CONFIG_HOME"
                                                              ? std::optional((shared / "config").string())
                                                              : std::nullopt;
                                                      }),
              home / "home/.config/parlaro/settings.json");
    takeEarlierEntryNotes();

    // What the program puts in its own environment for the libraries it
    // loads: the folders it uses in place of those it refused, and where it
    // uses none, a path under which nothing can be made. Looked up again,
    // each gives the decision it stands for.
    const auto started = [&](const fs::path& homeFolder) {
        return [=](const std::string& name) -> std::optional<std::string> {
            if (name == "XDG_CONFIG_HOME")
                return shared.string();
            if (name == "XDG_DATA_HOME")
                return (homeFolder / ".local/share").string();
            if (name == "XDG_STATE_HOME")
                return "relative";
            if (name == "HOME")
                return homeFolder.string();
            return std::nullopt;
        };
    };
    EXPECT_EQ(
        settleFolderVariables(started(home / "home")),
        (std::vector<std::pair<std::string, std::string>>{{"XDG_CONFIG_HOME", (home / "home/.config").string()},
                                                          {"XDG_STATE_HOME", (home / "home/.local/state").string()}}));
    const fs::path noHome = shared / "no-home";
    EXPECT_EQ(settleFolderVariables(started(noHome)),
              (std::vector<std::pair<std::string, std::string>>{
                  {"XDG_CONFIG_HOME", "/dev/null"}, {"XDG_DATA_HOME", "/dev/null"}, {"XDG_STATE_HOME", "/dev/null"}}));
    const auto settled = [&](const std::string& name) -> std::optional<std::string> {
        return name == "HOME" ? std::optional(noHome.string()) : std::optional<std::string>("/dev/null");
    };
    EXPECT_EQ(userFolder(UserFolder::config, settled), std::nullopt);
    EXPECT_EQ(userFolder(UserFolder::state, settled), std::nullopt);
    takeEarlierEntryNotes();
}

// Folders not made yet, in a folder another user owns: its owner could
// rename them while the program runs and put links of their own in their
// place. They are refused once, every part keeps to that, and a link
// swapped in where they would have been leads nothing of the program's to
// a file of the user's.
TEST(ProgramFolder, FoldersStillToBeMadeInAnothersFolderAreRefusedForEveryPartAndNoSwappedLinkIsWrittenThrough)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a folder of another user's";
    test::TempDirectory root;
    const fs::path other = root / "other";
    fs::create_directories(other);
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
    fs::permissions(other,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                        | fs::perms::others_exec);
    root.write("home/.profile", "profile");
    const fs::path home = root / "home";
    const auto environment = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "HOME")
            return home.string();
        if (name == "XDG_CONFIG_HOME")
            return (other / "config").string();
        if (name == "XDG_DATA_HOME")
            return (other / "data").string();
        if (name == "XDG_STATE_HOME")
            return (other / "state").string();
        return std::nullopt;
    };
    takeEarlierEntryNotes();

    const fs::path settings = sys::JsonFileSettingsStore::defaultPath("settings", environment);
    EXPECT_EQ(settings, home / ".config/parlaro/settings.json");
    sys::JsonFileSettingsStore store(settings);
    store.set("legacyHelperRemoved", true);
    // The other parts look the folders up after the settings were written.
    EXPECT_EQ(programFolder(UserFolder::config, environment, {}), home / ".config/parlaro");
    EXPECT_EQ(userFolder(UserFolder::data, environment), home / ".local/share");
    EXPECT_EQ(sys::SphinxChannelFile::defaultPath((other / "state").string(), home.string()),
              home / ".local/state/parlaro/recognition-channels.json");
    const std::string why = "another user owns " + other.string() + ", where it would be made";
    EXPECT_EQ(takeEarlierEntryNotes(),
              (std::vector<EarlierEntryNote>{
                  {EarlierEntryNote::Kind::passedOver, other / "config", {}, home / ".config", why},
                  {EarlierEntryNote::Kind::passedOver, other / "data", {}, home / ".local/share", why},
                  {EarlierEntryNote::Kind::passedOver, other / "state", {}, home / ".local/state", why}}));

    // The other user moves whatever is there aside and puts a folder of
    // theirs in its place, with a link to the user's profile; then the
    // program saves its settings again.
    if (fs::exists(other / "config"))
        fs::rename(other / "config", other / "aside");
    fs::create_directories(other / "config/parlaro");
    fs::create_symlink(home / ".profile", other / "config/parlaro/settings.json");
    for (const fs::path& folder : {other / "config", other / "config/parlaro"})
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::lchown((other / "config/parlaro/settings.json").c_str(), 65534, 65534), 0);
    store.set("interfaceLanguage", std::string("de"));
    EXPECT_EQ(root.read("home/.profile"), "profile");
    EXPECT_EQ(sys::JsonFileSettingsStore(settings).get<std::string>("interfaceLanguage"), "de");
    EXPECT_FALSE(fs::exists(other / "aside")) << "nothing of the program's was made in the other's folder";
}
