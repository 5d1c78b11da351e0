#include "platform/ProgramFolder.h"
#include "platform/linux/JsonFileSettingsStore.h"
#include "runtime/Log.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <string>

using namespace parlaro;
namespace fs = std::filesystem;

namespace {

// What an earlier version left: settings and a history with a session.
void leaveEarlierFiles(const test::TempDirectory& home)
{
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "de", "onboardingDone": true})");
    home.write("data/wenmora/History/2026-12-07.json", R"({"entries": []})");
    home.write("data/wenmora/History/index.json", "[]");
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
    EXPECT_FALSE(fs::exists(home / "data/wenmora")) << "the emptied earlier folder goes";

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

    // Once the new file is there, an earlier one (an old copy ran again) is
    // left alone and never mixed in.
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(sys::JsonFileSettingsStore::defaultPath("settings", environment), path);
    EXPECT_EQ(home.read("config/wenmora/settings.json"), R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(sys::JsonFileSettingsStore(path).get<std::string>("interfaceLanguage"), "de");

    // Nothing earlier, nothing made: whoever writes creates the folder.
    test::TempDirectory fresh;
    EXPECT_EQ(programPath(fresh.path(), "History"), fresh / "parlaro/History");
    EXPECT_FALSE(fs::exists(fresh / "parlaro"));
    // A file where the earlier folder would be holds nothing to move.
    fresh.write("wenmora", "not a folder");
    EXPECT_EQ(programPath(fresh.path(), "History"), fresh / "parlaro/History");
    EXPECT_EQ(fresh.read("wenmora"), "not a folder");
}

TEST(ProgramFolder, AMoveThatFailsKeepsUsingTheEarlierPlaceAndTriesAgainNextTime)
{
    test::TempDirectory home;
    leaveEarlierFiles(home);
    int attempts = 0;
    const FolderRename refused = [&](const fs::path&, const fs::path&, std::error_code& error) {
        ++attempts;
        error = std::make_error_code(std::errc::cross_device_link);
    };

    rt::LogCapture log;
    EXPECT_EQ(programPath(home / "data", "History", refused), home / "data/wenmora/History");
    EXPECT_EQ(home.read("data/wenmora/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_FALSE(fs::exists(home / "data/parlaro/History"));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_NE(log.messages()[0].find("could not move " + (home / "data/wenmora/History").string()), std::string::npos)
        << log.messages()[0];

    EXPECT_EQ(programPath(home / "data", "History", refused), home / "data/wenmora/History");
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(programPath(home / "data", "History"), home / "data/parlaro/History") << "a later start moves it";
    EXPECT_EQ(home.read("data/parlaro/History/index.json"), "[]");
}
