#include "platform/sim/SimPlatform.h"
#include "speech/LanguageReadiness.h"

#include <gtest/gtest.h>

using namespace parlaro;

TEST(LanguageReadiness, LabelsSayWhatIsMissingInOrderOfWeight)
{
    sim::SimPlatform platform;
    const auto speech = SpeechEngine::speech;
    const LanguageReadiness ready{speech, true, true, true};
    EXPECT_EQ(ready.label(true), "");
    EXPECT_EQ(ready.label(false), "");

    for (bool mine : {true, false}) {
        EXPECT_EQ((LanguageReadiness{speech, true, true, false}.label(mine)), "不支持互译")
            << "no translation outweighs everything";
        EXPECT_EQ((LanguageReadiness{std::nullopt, false, false, false}.label(mine)), "不支持互译");
        EXPECT_EQ((LanguageReadiness{speech, false, true, true}.label(mine)), "需下载");
        EXPECT_EQ((LanguageReadiness{SpeechEngine::onDevice, true, false, true}.label(mine)), "需下载");
    }
    EXPECT_EQ((LanguageReadiness{std::nullopt, false, true, true}.label(true)), "本机无法识别");
    EXPECT_EQ((LanguageReadiness{std::nullopt, false, false, true}.label(true)), "本机无法识别");
    EXPECT_EQ((LanguageReadiness{std::nullopt, false, true, true}.label(false)), "只能单向");
    EXPECT_EQ((LanguageReadiness{std::nullopt, false, false, true}.label(false)), "只能单向 · 需下载");
}
