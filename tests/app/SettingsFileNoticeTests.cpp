#include "app/EarlierFolderNotice.h"
#include "app/SettingsFileNotice.h"

#include "ModelWorld.h"
#include "StringTableFiles.h"
#include "speech/InterfaceLanguage.h"
#include "support/CapturedStream.h"
#include "support/DeepJson.h"
#include "support/TempDirectory.h"

#include <QFont>
#include <QGlyphRun>
#include <QTextLayout>
#include <QTextOption>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

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
    CapturedStream printed;
    app::tellSettingsFileProblem(defaults, model, printed.file());
    return Told{printed.text(), model.errorMessage.get()};
}

// A model whose alerts read in English, and a folder for the file.
class SettingsFileNotice : public ::testing::Test {
protected:
    SettingsFileNotice()
    {
        loadStringTables(world.platform.bundles, "en");
        InterfaceLanguage::set("en");
    }
    ~SettingsFileNotice() override { InterfaceLanguage::set("zh-Hans"); }

    ModelWorld world;
    std::shared_ptr<AppModel> model = world.make();
    TempDirectory folder;
    const std::filesystem::path file = folder / "settings.json";
};

TEST_F(SettingsFileNotice, TheUserHearsOfADamagedOrUnreadableFileWithTheKeptFilesName)
{
    folder.write("settings.json", R"({"saveConversationHistory": false})");
    EXPECT_EQ(tell(sys::JsonFileSettingsStore(file), *model).printed, "");
    EXPECT_EQ(tell(sys::JsonFileSettingsStore(file), *model).alert, std::nullopt);

    folder.write("settings.json", "{\"saveConv");
    const Told damaged = tell(sys::JsonFileSettingsStore(file, [] { return std::string("20260101T000000Z"); }), *model);
    const std::string kept = (folder / "settings.json.corrupt-20260101T000000Z").string();
    EXPECT_EQ(damaged.alert,
              "The settings file was damaged. It was kept as " + kept + " and the default settings are in use.");
    EXPECT_EQ(damaged.printed,
              "parlaro: the settings file " + file.string() + " is not valid JSON; it was moved to " + kept
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
              "parlaro: the settings file " + file.string()
                  + " cannot be read: it is a folder; it was left as it is, the defaults are in "
                    "use and no change is saved over it.\n");

    // A pipe in its place is told the same way, and stays.
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const Told pipe = tell(sys::JsonFileSettingsStore(file), *model);
    EXPECT_EQ(pipe.alert, unreadable.alert);
    EXPECT_NE(pipe.printed.find("cannot be read: it is not a regular file;"), std::string::npos) << pipe.printed;
    EXPECT_TRUE(std::filesystem::is_fifo(file));
}

// Entries of the wrong type read as their defaults; the user hears of each
// once, and the file keeps them and everything else it holds.
TEST_F(SettingsFileNotice, EntriesOfTheWrongTypeAreToldOnceAndKeptWhileTheirDefaultsServe)
{
    folder.write("settings.json",
                 R"({"myLanguage": 7, "onboardingDone": "yes", "theirLanguage": "es-ES",)"
                 R"( "historyDeleteDays": 30, "someoneElses": 1})");
    sys::JsonFileSettingsStore defaults(file);
    const Told told = tell(defaults, *model);
    EXPECT_EQ(told.printed,
              "parlaro: the settings file " + file.string()
                  + " holds \"myLanguage\" with a value of the wrong type; its default is in use and the entry is "
                    "left in the file.\n"
                    "parlaro: the settings file "
                  + file.string()
                  + " holds \"onboardingDone\" with a value of the wrong type; its default is in use and the entry "
                    "is left in the file.\n");
    EXPECT_EQ(told.alert,
              "The entry “myLanguage” in the settings file " + file.string()
                  + " has the wrong type. Its default is in use, and the entry stays in the file.\n"
                    "The entry “onboardingDone” in the settings file "
                  + file.string() + " has the wrong type. Its default is in use, and the entry stays in the file.");
    EXPECT_EQ(defaults.get<bool>("onboardingDone").value_or(false), false);
    defaults.set("translateWhileHolding", true);
    EXPECT_EQ(nlohmann::json::parse(folder.read("settings.json")),
              nlohmann::json::parse(R"({"myLanguage": 7, "onboardingDone": "yes", "theirLanguage": "es-ES",)"
                                    R"( "historyDeleteDays": 30, "someoneElses": 1, "translateWhileHolding": true})"));
    // Once the setting is made again, it is of its type and nothing is said.
    defaults.set("myLanguage", std::string("de-DE"));
    defaults.set("onboardingDone", true);
    EXPECT_EQ(tell(defaults, *model).printed, "");
}

TEST_F(SettingsFileNotice, AFileNestedTooDeepIsADamagedFileAndTheUserIsTold)
{
    // 200 KB and 20 KB on disk: once a crash at every start, once a file
    // rewritten at 200 MB.
    for (const std::size_t depth : {100'000u, 10'000u}) {
        folder.write("settings.json", "{\"k\":" + nestedArrays(depth) + "}");
        const std::string stamp = "20260101T00000" + std::to_string(depth % 7) + "Z";
        sys::JsonFileSettingsStore defaults(file, [&] { return stamp; });
        const Told told = tell(defaults, *model);
        const std::string kept = (folder / ("settings.json.corrupt-" + stamp)).string();
        EXPECT_EQ(told.alert,
                  "The settings file was damaged. It was kept as " + kept + " and the default settings are in use.");
        EXPECT_EQ(told.printed,
                  "parlaro: the settings file " + file.string()
                      + " is nested more than 64 levels deep; it was moved to " + kept
                      + " and the defaults are in use.\n");
        // The program goes on saving as on a first start.
        defaults.set("saveConversationHistory", false);
        EXPECT_LT(std::filesystem::file_size(file), 100u);
    }
}

// What bringing an earlier version's folders over could not do as asked,
// said once in the user's language after what the alert already says.
TEST_F(SettingsFileNotice, WhatTheEarlierFoldersLeftIsToldAfterTheSettingsProblem)
{
    folder.write("settings.json", "{\"saveConv");
    tell(sys::JsonFileSettingsStore(file, [] { return std::string("20260101T000000Z"); }), *model);
    const std::string before = *model->errorMessage.get();
    CapturedStream stream;
    app::tellEarlierEntries(
        {{EarlierEntryNote::Kind::leftBehind,
          "/h/.config/wenmora/settings.json",
          {},
          "/h/.config/parlaro/settings.json",
          "Permission denied"},
         {EarlierEntryNote::Kind::keptAside, "/h/.config/wenmora/settings.json",
          "/h/.config/parlaro/settings.json.earlier", "/h/.config/parlaro/settings.json", ""},
         {EarlierEntryNote::Kind::passedOver, "/tmp/state", {}, "/h/.local/state", "others may write in it"},
         {EarlierEntryNote::Kind::passedOver, "/h/.local/share", {}, {}, "another user owns it"},
         {EarlierEntryNote::Kind::conversationUnreadable, "/h/History/A.json", {}, {}, "File too large"},
         {EarlierEntryNote::Kind::cacheUnreadable, "/s/r.json", "/s/r.json.damaged", {}, "it is not valid JSON"},
         {EarlierEntryNote::Kind::cacheUnreadable, "/s/r.json", {}, {}, "it is a folder"}},
        *model, stream.file());
    EXPECT_EQ(stream.text(),
              "parlaro: /h/.config/wenmora/settings.json, left by an earlier version, cannot be read or "
              "moved (Permission denied); /h/.config/parlaro/settings.json is used.\n"
              "parlaro: an earlier version's /h/.config/wenmora/settings.json was kept aside as "
              "/h/.config/parlaro/settings.json.earlier; /h/.config/parlaro/settings.json is in use.\n"
              "parlaro: /tmp/state is not used (others may write in it); /h/.local/state is used instead.\n"
              "parlaro: /h/.local/share is not used (another user owns it); what would be kept there is not kept.\n"
              "parlaro: the conversation file /h/History/A.json cannot be read (File too large); it is kept as it is, "
              "unlisted.\n"
              "parlaro: the speech recognition cache /s/r.json cannot be read (it is not valid JSON); it was kept as "
              "/s/r.json.damaged and a new one is started.\n"
              "parlaro: the speech recognition cache /s/r.json cannot be read (it is a folder); it is left as it is "
              "and what speech recognition learns is not kept.\n");
    // A path wraps at a slash, never at its leading one.
    const QString message = QString::fromStdString(*model->errorMessage.get());
    const QString told = message.mid(QString::fromStdString(before).size());
    for (int width = 60; width <= 600; width += 7) {
        QTextLayout layout(told, QFont());
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString text = told.mid(line.textStart(), line.textLength()).trimmed();
            EXPECT_FALSE(text == "/" || text.endsWith(QStringLiteral(" /"))) << width << ": " << text.toStdString();
        }
        layout.endLayout();
    }
    EXPECT_EQ(QString(message).remove(QChar(0x2060)).toStdString(),
              before
                  + "\n/h/.config/wenmora/settings.json, left by an earlier version, cannot be read or moved "
                    "(Permission denied). It stays where it is, and /h/.config/parlaro/settings.json is used instead.\n"
                    "An earlier version’s settings file was found beside the current one: the current settings stay "
                    "in force, and the earlier file was kept as /h/.config/parlaro/settings.json.earlier.\n"
                    "The folder /tmp/state is not yours alone (others may write in it), so Parlaro keeps nothing in it "
                    "and uses /h/.local/state instead.\n"
                    "The folder /h/.local/share is not yours alone (another user owns it), so Parlaro keeps nothing "
                    "in it; what it would keep there is not saved while it runs.\n"
                    "The conversation file /h/History/A.json cannot be read. It is kept as it is but is not listed.\n"
                    "The speech recognition cache /s/r.json was damaged. It was kept as /s/r.json.damaged, and a new "
                    "one is started.\n"
                    "The speech recognition cache /s/r.json cannot be read. It is left as it is, and what speech "
                    "recognition learns is not kept until it is moved away.");
}

// In a right-to-left notice a path reads left to right, its leading "/"
// before its first folder, in every notice that names one; what is
// printed for a terminal stays plain.
TEST_F(SettingsFileNotice, APathInARightToLeftNoticeKeepsItsOrder)
{
    loadStringTables(world.platform.bundles, "ar");
    InterfaceLanguage::set("ar");
    // Where the path's leading "/" and the letter after it stand when the
    // whole alert is laid out as a right-to-left paragraph.
    const auto slashLeadsThePath = [](const std::string& alert, const std::string& path) {
        const QString text = QString::fromStdString(alert);
        const int at = text.indexOf(QString::fromStdString(path));
        EXPECT_GE(at, 0) << alert;
        QTextLayout layout(text, QFont());
        QTextOption option;
        option.setTextDirection(Qt::RightToLeft);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(100000);
        layout.endLayout();
        const auto x = [&](int index) {
            const QList<QGlyphRun> runs = line.glyphRuns(index, 1);
            return runs.isEmpty() || runs[0].positions().isEmpty() ? -1.0 : runs[0].positions()[0].x();
        };
        return x(at) >= 0 && x(at) < x(at + 1);
    };

    folder.write("settings.json", "{\"saveConv");
    const Told damaged = tell(sys::JsonFileSettingsStore(file, [] { return std::string("20260101T000000Z"); }), *model);
    const std::string kept = (folder / "settings.json.corrupt-20260101T000000Z").string();
    ASSERT_TRUE(damaged.alert);
    EXPECT_TRUE(slashLeadsThePath(*damaged.alert, kept)) << *damaged.alert;
    EXPECT_EQ(damaged.printed.find("\u2066"), std::string::npos);

    app::tellEarlierEntries({{EarlierEntryNote::Kind::passedOver, "/tmp/state", {}, "/h/.local/state", "x"}}, *model,
                            CapturedStream().file());
    const std::string told = QString::fromStdString(*model->errorMessage.get()).remove(QChar(0x2060)).toStdString();
    EXPECT_TRUE(slashLeadsThePath(told, "/tmp/state")) << told;
    EXPECT_TRUE(slashLeadsThePath(told, "/h/.local/state")) << told;
}

}  // namespace
}  // namespace parlaro::test
