#include "platform/linux/FileResourceBundles.h"
#include "platform/sim/SimResourceBundles.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace parlaro {
namespace {

using test::TempDirectory;
using Codes = std::vector<std::string>;

TEST(FileResourceBundles, MergesEveryFileOfALanguage)
{
    TempDirectory root;
    root.write("i18n/en/common.json", R"({"取消": "Cancel", "好": "OK"})");
    root.write("i18n/en/history.json", R"({"历史": "History", "好": "Okay", "count": 3})");
    root.write("i18n/en/broken.json", R"({"坏": "Broken",)");
    root.write("i18n/en/list.json", R"(["not", "an", "object"])");
    root.write("i18n/en/notes.txt", R"({"笔记": "Notes"})");
    root.write("i18n/en/deep.json", R"({"深": "Deep", "x": )" + std::string(100'000, '[') + "]}");
    root.write("i18n/fr/common.json", "{}");
    std::filesystem::create_directories(root / "i18n" / "ja");
    root.write("i18n/README", "not a language");
    std::filesystem::create_directories(root / "i18n" / "bad.name");

    sys::FileResourceBundles bundles(root.path());
    EXPECT_EQ(bundles.localizations(), (Codes{"en", "fr", "ja"}));

    const auto english = bundles.openTable("en");
    ASSERT_TRUE(english);
    // broken.json sorts first and is skipped, as is deep.json, nested past
    // any table; common.json comes before history.json, so its "好" stands.
    EXPECT_EQ(*english, (StringTable{{"取消", "Cancel"}, {"好", "OK"}, {"历史", "History"}}));
    EXPECT_EQ(*bundles.openTable("fr"), StringTable{});
    EXPECT_EQ(*bundles.openTable("ja"), StringTable{});
    EXPECT_EQ(bundles.openTable("ko"), nullptr);
}

TEST(FileResourceBundles, OnlyPlainCodesOpenTables)
{
    TempDirectory root;
    root.write("i18n/en/common.json", R"({"好": "OK"})");
    root.write("secret/common.json", R"({"password": "hunter2"})");
    root.write("i18n/common.json", R"({"好": "loose"})");
    sys::FileResourceBundles bundles(root.path());
    for (const char* code : {"../secret", "..", ".", "", "en/..", "en/../../secret", "/etc", "en\\x", "en.json"}) {
        EXPECT_EQ(bundles.openTable(code), nullptr) << code;
    }
    EXPECT_TRUE(bundles.openTable("en"));
    EXPECT_TRUE(ResourceBundles::isPlainCode("zh-Hans"));
    EXPECT_FALSE(ResourceBundles::isPlainCode("zh_Hans"));
}

TEST(FileResourceBundles, LocatesInstalledResources)
{
    TempDirectory root;
    const auto bin = root / "prefix" / "bin";
    std::filesystem::create_directories(bin);
    const auto prefix = root / "other";
    EXPECT_EQ(sys::FileResourceBundles::locateRoot(bin, prefix), std::nullopt);

    std::filesystem::create_directories(prefix / "share/parlaro/resources/i18n");
    EXPECT_EQ(sys::FileResourceBundles::locateRoot(bin, prefix), prefix / "share/parlaro/resources");
    std::filesystem::create_directories(root / "prefix/share/parlaro/resources/i18n");
    EXPECT_EQ(sys::FileResourceBundles::locateRoot(bin, prefix), root / "prefix/share/parlaro/resources");
    std::filesystem::create_directories(bin / "resources/i18n");
    EXPECT_EQ(sys::FileResourceBundles::locateRoot(bin, prefix), bin / "resources");
}

TEST(FileResourceBundles, SourceTreeHasEveryInterfaceLanguage)
{
    sys::FileResourceBundles bundles(std::filesystem::path(PARLARO_SOURCE_DIR) / "resources");
    const Codes codes = bundles.localizations();
    for (const char* code : {"zh-Hans", "zh-Hant", "en", "ja", "ko", "es", "de", "fr", "pt-BR", "it", "tr", "nl", "pl",
                             "vi", "th", "id", "ar"}) {
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
        EXPECT_TRUE(bundles.openTable(code)) << code;
    }
}

TEST(SimResourceBundles, TablesSetByTheTest)
{
    sim::SimResourceBundles bundles({{"en", {{"好", "OK"}}}});
    bundles.setTable("ja", {{"好", "はい"}});
    bundles.setTable("../x", {{"a", "b"}});
    EXPECT_EQ(bundles.localizations(), (Codes{"en", "ja"}));
    EXPECT_EQ(*bundles.openTable("ja"), (StringTable{{"好", "はい"}}));
    EXPECT_EQ(bundles.openTable("../x"), nullptr);
    bundles.removeTable("en");
    EXPECT_EQ(bundles.openTable("en"), nullptr);
}

}  // namespace
}  // namespace parlaro
