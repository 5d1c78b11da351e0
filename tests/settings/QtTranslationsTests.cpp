#include "settings/QtTranslations.h"

#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

TEST(QtTranslations, NamesQtsFileForEveryLanguageItShipsAndNothingOtherwise)
{
    EXPECT_EQ(settings::qtTranslationFile("zh-Hans"), QStringLiteral("qtbase_zh_CN"));
    EXPECT_EQ(settings::qtTranslationFile("zh-Hant"), QStringLiteral("qtbase_zh_TW"));
    EXPECT_EQ(settings::qtTranslationFile("pt-BR"), QStringLiteral("qtbase_pt_BR"));
    EXPECT_EQ(settings::qtTranslationFile("de"), QStringLiteral("qtbase_de"));
    EXPECT_TRUE(settings::qtTranslationFile("").isEmpty());
    EXPECT_TRUE(settings::qtTranslationFile("../x").isEmpty());
    int named = 0;
    for (const auto& entry : InterfaceLanguage::supported())
        named += settings::qtTranslationFile(entry.code).isEmpty() ? 0 : 1;
    EXPECT_GE(named, 14);
}

}  // namespace
}  // namespace parlaro::test
