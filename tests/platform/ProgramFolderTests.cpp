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

TEST(ProgramFolder, AnEarlierFolderMovesOnceWithEveryFileAndANewOneIsNeverReplaced)
{
    test::TempDirectory home;
    leaveEarlierFiles(home);

    EXPECT_EQ(programFolder(home / "data"), home / "data/parlaro");
    EXPECT_FALSE(fs::exists(home / "data/wenmora"));
    EXPECT_EQ(home.read("data/parlaro/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_EQ(home.read("data/parlaro/History/index.json"), "[]");

    // The settings store finds the moved file through its own path.
    const auto environment = [&](const std::string& name) -> std::optional<std::string> {
        if (name == "XDG_CONFIG_HOME")
            return (home / "config").string();
        return std::nullopt;
    };
    const fs::path path = sys::JsonFileSettingsStore::defaultPath("settings", environment);
    EXPECT_EQ(path, home / "config/parlaro/settings.json");
    sys::JsonFileSettingsStore store(path);
    EXPECT_EQ(store.get<std::string>("interfaceLanguage"), "de");
    EXPECT_EQ(store.get<bool>("onboardingDone"), true);

    // Once the new folder is there, an old one (an old copy ran again) is
    // left alone and never mixed in.
    home.write("config/wenmora/settings.json", R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(programFolder(home / "config"), home / "config/parlaro");
    EXPECT_EQ(home.read("config/wenmora/settings.json"), R"({"interfaceLanguage": "ja"})");
    EXPECT_EQ(sys::JsonFileSettingsStore(path).get<std::string>("interfaceLanguage"), "de");

    // Nothing earlier, nothing made: the folder is created by whoever writes.
    test::TempDirectory fresh;
    EXPECT_EQ(programFolder(fresh.path()), fresh / "parlaro");
    EXPECT_FALSE(fs::exists(fresh / "parlaro"));

    // A file of that name is no folder to move.
    fresh.write("wenmora", "not a folder");
    EXPECT_EQ(programFolder(fresh.path()), fresh / "parlaro");
    EXPECT_EQ(fresh.read("wenmora"), "not a folder");
}

TEST(ProgramFolder, AMoveThatFailsKeepsUsingTheEarlierFolderAndTriesAgainNextTime)
{
    test::TempDirectory home;
    leaveEarlierFiles(home);
    int attempts = 0;
    const FolderRename refused = [&](const fs::path&, const fs::path&, std::error_code& error) {
        ++attempts;
        error = std::make_error_code(std::errc::cross_device_link);
    };

    rt::LogCapture log;
    EXPECT_EQ(programFolder(home / "data", refused), home / "data/wenmora");
    EXPECT_EQ(home.read("data/wenmora/History/2026-12-07.json"), R"({"entries": []})");
    EXPECT_FALSE(fs::exists(home / "data/parlaro"));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_NE(log.messages()[0].find("could not move " + (home / "data/wenmora").string()), std::string::npos)
        << log.messages()[0];

    EXPECT_EQ(programFolder(home / "data", refused), home / "data/wenmora");
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(programFolder(home / "data"), home / "data/parlaro") << "a later start moves it";
    EXPECT_EQ(home.read("data/parlaro/History/index.json"), "[]");
}
