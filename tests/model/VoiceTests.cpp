#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;

VoiceOption voice(const std::string& id, std::int64_t quality = 1)
{
    return {.id = id, .label = "Label " + id, .quality = quality, .name = id, .language = "en-US"};
}

std::vector<std::string> ids(const std::vector<VoiceOption>& voices)
{
    std::vector<std::string> found;
    for (const VoiceOption& option : voices)
        found.push_back(option.id);
    return found;
}

std::optional<std::map<std::string, std::string>> storedPicks(ModelWorld& world)
{
    const auto stored = world.platform.defaults.get<DefaultsDictionary>("voiceByLanguage");
    if (!stored)
        return std::nullopt;
    std::map<std::string, std::string> picks;
    for (const auto& [language, value] : *stored)
        picks.emplace(language, *value.getIf<std::string>());
    return picks;
}

using Picks = std::map<std::string, std::string>;

TEST(ModelVoices, ThePickIsOfferedWhateverItsQualityAndStoredWithEveryWrite)
{
    ModelWorld world;
    world.voices["en"] = {voice("basic"), voice("premium", 3), voice("enhanced", 2)};
    auto model = world.make();
    int notices = 0;
    auto watch = ModelTestAccess::voiceChoices(*model).subscribe([&] { ++notices; });

    // Automatic choice speaks with the first voice, though it is not offered.
    EXPECT_EQ(ids(model->offeredVoices()), (std::vector<std::string>{"premium", "enhanced"}));
    EXPECT_EQ(ModelTestAccess::speakingVoiceID(*model), "basic");

    model->setSelectedVoiceID("enhanced");
    EXPECT_EQ(model->selectedVoiceID(), "enhanced");
    EXPECT_EQ(ModelTestAccess::speakingVoiceID(*model), "enhanced");
    EXPECT_EQ(storedPicks(world), (Picks{{"en", "enhanced"}}));
    EXPECT_EQ(notices, 1);

    // The same pick again tells nobody, but is stored again.
    world.platform.defaults.remove("voiceByLanguage");
    model->setSelectedVoiceID("enhanced");
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(storedPicks(world), (Picks{{"en", "enhanced"}}));

    model->setSelectedVoiceID("basic");
    EXPECT_EQ(ids(model->offeredVoices()), (std::vector<std::string>{"basic", "premium", "enhanced"}));

    // Picks are kept per language.
    test::given.set(model->theirLanguage, *CallLanguage::find("es"));
    EXPECT_EQ(model->selectedVoiceID(), "");
    model->setSelectedVoiceID("es-voice");
    EXPECT_EQ(storedPicks(world), (Picks{{"en", "basic"}, {"es", "es-voice"}}));
    model->setSelectedVoiceID("");
    EXPECT_EQ(storedPicks(world), (Picks{{"en", "basic"}}));
    EXPECT_EQ(ModelTestAccess::speakingVoiceID(*model), "basic");  // the voice list is still that of English
    test::given.set(model->theirLanguage, *CallLanguage::find("en"));
    EXPECT_EQ(model->selectedVoiceID(), "basic");

    world.voices["en"] = {};
    model->setSelectedVoiceID("");
    model->refreshVoices();
    EXPECT_EQ(ModelTestAccess::speakingVoiceID(*model), std::nullopt);
}

TEST(ModelVoices, ARefreshDropsAVanishedPickAndAnnouncesANewFirstVoice)
{
    ModelWorld world;
    world.platform.defaults.set("voiceByLanguage", DefaultsDictionary{{"en", DefaultsValue(std::string("gone"))}});
    world.voices["en"] = {voice("gone"), voice("kept")};
    auto model = world.make();
    const std::string english = model->theirLanguage.get().displayName();

    // Uninstalled, and the voice that now speaks was already listed.
    world.voices["en"] = {voice("kept")};
    model->refreshVoices();
    EXPECT_EQ(model->selectedVoiceID(), "");
    EXPECT_EQ(storedPicks(world), Picks{});
    EXPECT_EQ(model->status.get(), "原音色已不可用，已恢复自动选择");
    EXPECT_EQ(model->voiceNotice.get(), std::nullopt);

    // A better voice installed while on automatic choice.
    world.voices["en"] = {voice("fresh", 3), voice("kept")};
    model->refreshVoices();
    const std::string notice = "已检测到新的音色「Label fresh」，" + english + "播放已自动改用它。";
    EXPECT_EQ(model->voiceNotice.get(), notice);
    EXPECT_EQ(model->status.get(), notice);

    // Nothing new: nothing said.
    test::given.set(model->status, "");
    model->refreshVoices();
    EXPECT_EQ(model->status.get(), "");
    model->dismissVoiceNotice();
    EXPECT_EQ(model->voiceNotice.get(), std::nullopt);

    // A pick that vanished while a new voice arrived: the notice wins.
    model->setSelectedVoiceID("fresh");
    world.voices["en"] = {voice("newer", 2), voice("kept")};
    model->refreshVoices();
    EXPECT_EQ(model->status.get(), "已检测到新的音色「Label newer」，" + english + "播放已自动改用它。");

    // A pick that is still installed keeps its place silently.
    model->setSelectedVoiceID("kept");
    test::given.set(model->status, "");
    model->dismissVoiceNotice();
    world.voices["en"] = {voice("newest", 3), voice("kept")};
    model->refreshVoices();
    EXPECT_EQ(model->status.get(), "");
    EXPECT_EQ(model->voiceNotice.get(), std::nullopt);

    // Another language lists its voices: none was installed, nothing is
    // new. One installed then is, named in the interface language where
    // the synthesizer names it by its language in English.
    model->dismissVoiceNotice();
    test::given.set(model->status, "");
    const CallLanguage spanish = *CallLanguage::find("es");
    world.voices["es"] = {voice("es-one")};
    test::given.set(model->theirLanguage, spanish);
    model->refreshVoices();
    EXPECT_EQ(model->voiceNotice.get(), std::nullopt);
    EXPECT_EQ(model->status.get(), "");
    world.voices["es"] = {{.id = "es", .label = "Spanish (Spain)", .name = "Spanish (Spain)", .language = "es-ES"},
                          voice("es-one")};
    model->refreshVoices();
    EXPECT_EQ(model->voiceNotice.get(),
              "已检测到新的音色「西班牙语（西班牙）」，" + spanish.displayName() + "播放已自动改用它。");
}

struct PreviewWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;

    PreviewWorld()
    {
        world.addOutput(31, "headphones", "Headphones");
        world.addVirtualDriver();
        world.voices["en"] = {voice("v")};
        model = world.make();
        ModelTestAccess::refreshDevices(*model);
        model->setSelectedMonitorOutputID(31);
    }
    void preview()
    {
        world.run([model = model] { return model->previewVoiceInHeadphones(); });
    }
};

TEST(ModelVoices, APreviewPlaysTheSampleOnTheHeadphonesOnly)
{
    PreviewWorld w;
    auto& model = *w.model;
    const CallLanguage english = model.theirLanguage.get();
    const std::string headphonesOnly = "请先选择耳机或扬声器作为试听设备。试听不会输出到 wenmora 音频设备。";

    for (auto* busy : {&model.isRecording, &model.isSpeaking, &model.isTranslatingDraft, &model.isHearTesting}) {
        test::given.set(*busy, true);
        w.preview();
        test::given.set(*busy, false);
    }
    EXPECT_TRUE(w.world.speaker->spoken.empty());
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);

    for (const std::optional<AudioObjectId> monitor :
         {std::optional<AudioObjectId>(51), std::optional<AudioObjectId>(50), std::optional<AudioObjectId>(77),
          std::optional<AudioObjectId>()}) {
        model.setSelectedMonitorOutputID(monitor);
        w.preview();
        EXPECT_EQ(model.errorMessage.get(), headphonesOnly);
        model.dismissError();
    }
    EXPECT_TRUE(w.world.speaker->spoken.empty());

    model.setSelectedMonitorOutputID(31);
    w.preview();
    ASSERT_EQ(w.world.speaker->spoken.size(), 1u);
    EXPECT_EQ(w.world.speaker->spoken[0].text, english.sample);
    EXPECT_EQ(w.world.speaker->spoken[0].devices, std::vector<AudioObjectId>{31});
    EXPECT_EQ(w.world.speaker->spoken[0].voice, "v");
    EXPECT_EQ(model.status.get(), "试听结束；下一句" + english.displayName() + "将使用所选音色");
    EXPECT_FALSE(model.isSpeaking.get());

    w.world.speaker->speakError = DomainError("Speech", 2, "E");
    w.preview();
    EXPECT_EQ(model.errorMessage.get(), "音色试听失败：E");
    EXPECT_EQ(model.status.get(), "试听失败，可更换音色后重试");
    EXPECT_FALSE(model.isSpeaking.get());
    w.world.speaker->speakError.reset();
    model.dismissError();

    // The stop control ends a preview quietly.
    w.world.speaker->holdSpeech = true;
    auto task = rt::spawn([model = w.model] { return model->previewVoiceInHeadphones(); });
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(model.isSpeaking.get());
    EXPECT_EQ(model.status.get(), "正在耳机里试听音色…");
    w.world.speaker->stop();
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
    EXPECT_EQ(model.status.get(), "已停止试听");
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    EXPECT_FALSE(model.isSpeaking.get());

    w.world.voices["en"] = {};
    model.refreshVoices();
    w.preview();
    EXPECT_EQ(model.errorMessage.get(),
              "这台 Mac 没有" + english.displayName() + "音色，请先点「下载更好的音色」下载一个。");
}

}  // namespace
}  // namespace parlaro
