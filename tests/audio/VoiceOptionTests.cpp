#include "audio/VoiceOption.h"

#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSpeechSynthesizer.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

SynthesisVoice voice(std::string id, std::string name, std::string language, std::int64_t quality = 1,
                     bool system = true)
{
    return SynthesisVoice{std::move(id), std::move(name), std::move(language), quality, system};
}

std::vector<std::string> ids(const std::vector<VoiceOption>& options)
{
    std::vector<std::string> out;
    for (const auto& option : options) {
        out.push_back(option.id);
    }
    return out;
}

const CallLanguage& language(const std::string& id)
{
    static std::map<std::string, CallLanguage> rows;
    auto it = rows.find(id);
    if (it == rows.end()) {
        it = rows.emplace(id, *CallLanguage::find(id)).first;
    }
    return it->second;
}

class VoiceCatalogue : public ::testing::Test {
protected:
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimSpeechSynthesizer synthesizer;
};

TEST_F(VoiceCatalogue, OrdersBestFirstByQualityLanguageNamePrefixAndSystemVoices)
{
    synthesizer.setVoices({
        voice("v.other", "Bruno", "en-US"),
        voice("v.gb", "Ava", "en-GB"),
        voice("v.zoe", "Zoe", "en-US"),
        voice("v.ava", "Ava", "en-US"),
        voice("v.addon.alex", "Alex", "en-US", 1, false),
        voice("v.alex", "Alex", "en-US"),
        voice("v.premium", "Zed", "en-AU", 3),
        voice("v.enhanced", "Yann", "en-US", 2),
        voice("v.anna", "anna", "en-US"),
        voice("v.nathan", "Nathan", "en-US"),
        voice("v.de", "Ava", "de-DE", 3),
        voice("v.bare", "Plain", "en"),
        voice("v.long", "Long", "enx-US"),
    });
    const auto options = VoiceOption::voices(language("en"));
    EXPECT_EQ(ids(options),
              (std::vector<std::string>{
                  "v.premium",     // quality 3 beats everything
                  "v.enhanced",    // then quality 2
                  "v.ava",         // en-US (the first voice locale), "Ava" ranks first
                  "v.zoe",         // then "Zoe"
                  "v.nathan",      // then "Nathan"
                  "v.alex",        // "Alex": the system voice first
                  "v.addon.alex",  // the add-on after it
                  "v.anna",        // no prefix: by name, case-blind
                  "v.other",
                  "v.gb",    // en-GB (matches the bare "en"): after en-US, "Ava" first
                  "v.bare",  // language "en" itself
              }));

    // Languages without any voice yield nothing; a locale with a hyphen
    // matches only itself.
    EXPECT_TRUE(VoiceOption::voices(language("ja")).empty());
    EXPECT_TRUE(VoiceOption::matches("en-GB", "en"));
    EXPECT_TRUE(VoiceOption::matches("en", "en"));
    EXPECT_TRUE(VoiceOption::matches("en-", "en"));
    EXPECT_FALSE(VoiceOption::matches("enx-US", "en"));
    EXPECT_FALSE(VoiceOption::matches("eng", "en"));
    EXPECT_FALSE(VoiceOption::matches("en-GB", "en-US"));
    EXPECT_FALSE(VoiceOption::matches("en-US-x", "en-US"));

    // Names without a preferred prefix compare by value, numbers included.
    synthesizer.setVoices(
        {voice("b10", "Voice 10", "de-DE"), voice("b9", "Voice 9", "de-DE"), voice("a", "voice 1", "de-DE")});
    EXPECT_EQ(ids(VoiceOption::voices(language("de"))), (std::vector<std::string>{"a", "b9", "b10"}));
}

TEST_F(VoiceCatalogue, LabelsNameTheQualityAndDropBracketedRemarksOfBetterVoices)
{
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "Ava (Premium)", "en-US", 3)), "Ava（高音质）");
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "Tingting （增强）", "zh-CN", 2)), "Tingting（优化音质）");
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "Anna  \u3000(Deutsch)", "de-DE", 2)), "Anna（优化音质）");
    // A default voice keeps its brackets.
    EXPECT_EQ(VoiceOption::labelOf(voice("d", "Ava (Premium)", "en-US", 1)), "Ava (Premium)");
    // Only a last remark without brackets inside is removed.
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "A (x) (y)", "en-US", 3)), "A (x)（高音质）");
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "A (x) y)", "en-US", 3)), "A (x) y)（高音质）");
    EXPECT_EQ(VoiceOption::labelOf(voice("p", "Mid (x) end", "en-US", 3)), "Mid (x) end（高音质）");

    synthesizer.setVoices({voice("p", "Ava (Premium)", "en-US", 3)});
    const auto options = VoiceOption::voices(language("en"));
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0], (VoiceOption{"p", "Ava（高音质）", 3, "Ava (Premium)", "en-US"}));
}

TEST_F(VoiceCatalogue, FallsBackToTheBestEnglishVoiceThenTheSystemEnUSVoice)
{
    synthesizer.setVoices(
        {voice("en.plain", "Bob", "en-GB"), voice("en.best", "Samantha", "en-US", 2), voice("de", "Anna", "de-DE")});
    EXPECT_EQ(VoiceOption::fallbackVoice(synthesizer)->identifier, "en.best");

    // No voice the catalogue offers for English: the synthesizer's own pick
    // for "en-US".
    synthesizer.setVoices({voice("de", "Anna", "de-DE"), voice("enx", "Odd", "en-us")});
    EXPECT_EQ(VoiceOption::fallbackVoice(synthesizer)->identifier, "enx");
    synthesizer.setVoices({voice("de", "Anna", "de-DE")});
    EXPECT_FALSE(VoiceOption::fallbackVoice(synthesizer).has_value());

    int changes = 0;
    auto subscription = VoiceOption::observeVoicesChanged([&] { ++changes; });
    synthesizer.setVoices({});
    EXPECT_EQ(changes, 1);
}

TEST_F(VoiceCatalogue, ConvertsRenderedAudioToDeinterleavedFloat)
{
    PcmBuffer stereo({.sampleRate = 22050, .channelCount = 2, .sampleType = SampleType::int16, .interleaved = true}, 3);
    stereo.setFrameLength(2);
    stereo.setFloatSample(0, 0, 0.5f);
    stereo.setFloatSample(0, 1, -0.25f);
    stereo.setFloatSample(1, 0, 1.0f);
    auto converted = VoiceOption::toStandardFloat(stereo);
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(
        converted->format(),
        (AudioFormat{.sampleRate = 22050, .channelCount = 2, .sampleType = SampleType::float32, .interleaved = false}));
    EXPECT_EQ(converted->frameLength(), 2u);
    EXPECT_FLOAT_EQ(converted->floatChannelData(0)[0], 0.5f);
    EXPECT_FLOAT_EQ(converted->floatChannelData(1)[0], -0.25f);
    EXPECT_NEAR(converted->floatChannelData(0)[1], 1.0f, 1e-4);

    PcmBuffer standard({.sampleRate = 48000, .channelCount = 1}, 4);
    standard.setFrameLength(4);
    standard.setFloatSample(3, 0, 0.75f);
    auto same = VoiceOption::toStandardFloat(standard);
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(same->frameLength(), 4u);
    EXPECT_EQ(same->floatChannelData(0)[3], 0.75f);
}

}  // namespace
}  // namespace parlaro
