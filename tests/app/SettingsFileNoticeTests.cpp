#include "app/SettingsFileNotice.h"

#include "ModelWorld.h"
#include "StringTableFiles.h"
#include "speech/InterfaceLanguage.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace parlaro::test {
namespace {

// What one call printed, and the message the window's alert would show.
struct Told {
    std::string printed;
    std::optional<std::string> alert;
};

Told tell(const sys::JsonFileSettingsStore& defaults, AppModel& model)
{
    model.dismissError();
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    app::tellSettingsFileProblem(defaults, model, stream);
    std::fclose(stream);
    Told told{std::string(buffer, size), model.errorMessage.get()};
    std::free(buffer);
    return told;
}

TEST(SettingsFileNotice, TheUserHearsOfADamagedOrUnreadableFileWithTheKeptFilesName)
{
    ModelWorld world;
    auto model = world.make();
    loadStringTables(world.platform.bundles, "en");
    InterfaceLanguage::set("en");
    TempDirectory folder;
    const auto file = folder / "settings.json";

    folder.write("settings.json", R"({"saveConversationHistory": false})");
    EXPECT_EQ(tell(sys::JsonFileSettingsStore(file), *model).printed, "");
    EXPECT_EQ(tell(sys::JsonFileSettingsStore(file), *model).alert, std::nullopt);

    folder.write("settings.json", "{\"saveConv");
    const Told damaged = tell(sys::JsonFileSettingsStore(file, [] { return std::string("20260101T000000Z"); }), *model);
    const std::string kept = (folder / "settings.json.corrupt-20260101T000000Z").string();
    EXPECT_EQ(damaged.alert,
              "The settings file was damaged. It was kept as " + kept + " and the default settings are in use.");
    EXPECT_EQ(damaged.printed,
              "Parlaro: the settings file " + file.string() + " is not valid JSON; it was moved to " + kept
                  + " and the defaults are in use.\n");
    // Told once: the next start finds no file and says nothing.
    EXPECT_EQ(tell(sys::JsonFileSettingsStore(file), *model).alert, std::nullopt);

    std::filesystem::create_directory(file);
    const Told unreadable = tell(sys::JsonFileSettingsStore(file), *model);
    EXPECT_EQ(unreadable.alert,
              "The settings file " + file.string()
                  + " cannot be read. The default settings are in use, and changes will not be "
                    "written to that file.");
    EXPECT_EQ(unreadable.printed,
              "Parlaro: the settings file " + file.string()
                  + " cannot be read: it is a folder; it was left as it is, the defaults are in "
                    "use and no change is saved over it.\n");
    InterfaceLanguage::set("zh-Hans");
}

}  // namespace
}  // namespace parlaro::test
