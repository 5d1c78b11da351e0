#include "ModelWorld.h"

#include "model/ModelState.h"
#include "model/ModelTask.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "speech/HostedTranslation.h"
#include "speech/InterfaceLanguage.h"
#include "speech/TranslationHost.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;
using Devices = std::vector<AudioObjectId>;

VoiceOption voice(const std::string& id, const std::string& language)
{
    return {.id = id, .label = id, .quality = 2, .name = id, .language = language};
}

// Speakers (30), the driver (virtual output 51) and an English voice.
struct PlayWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;

    explicit PlayWorld(const std::function<void(AppModel::Dependencies&)>& adjust = {})
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(30, "speakers", "Speakers");
        world.addVirtualDriver();
        world.voices["en"] = {voice("en-voice", "en-US")};
        world.voices["es"] = {voice("es-voice", "es-ES")};
        model = adjust ? world.make(adjust) : world.make();
        ModelTestAccess::refreshDevices(*model);
        model->setSelectedMonitorOutputID(30);
    }
    bool speak(const std::string& text, HoldPlay play = HoldPlay::outsideHold)
    {
        bool played = false;
        world.run([&, model = model]() -> rt::Async<void> {
            played = co_await ModelTestAccess::speakToPeer(*model, text, play);
        });
        return played;
    }
    void playDraft(HoldPlay play = HoldPlay::outsideHold)
    {
        world.run([model = model, play] { return model->playDraftToPeer(play); });
    }
    void quickPhrase(const std::string& english, const std::string& chinese)
    {
        world.run([model = model, english, chinese] { return model->sendQuickPhrase(english, chinese); });
    }
    void setDraft(const std::string& text, const std::string& translation)
    {
        test::given.set(model->hasDraft, true);
        model->editDraftText(text);
        model->editDraftTranslation(translation);
    }
    std::vector<std::string> spokenTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& spoken : world.speaker->spoken)
            texts.push_back(spoken.text);
        return texts;
    }
};

TEST(ModelPlayback, RefusalsAreSilentExceptForAMissingVoiceOrDevice)
{
    PlayWorld w;
    auto& model = *w.model;
    for (auto* busy : {&model.isSpeaking, &model.isHearTesting}) {
        test::given.set(*busy, true);
        EXPECT_FALSE(w.speak("Hi"));
        EXPECT_FALSE(w.speak("Hi", HoldPlay::withinHold));
        test::given.set(*busy, false);
    }
    for (auto* holding : {&model.isRecording, &model.isHoldingToTalk}) {
        test::given.set(*holding, true);
        EXPECT_FALSE(w.speak("Hi"));
        EXPECT_TRUE(w.speak("Held", HoldPlay::withinHold));
        test::given.set(*holding, false);
    }
    EXPECT_EQ(w.spokenTexts(), (std::vector<std::string>{"Held", "Held"}));
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);

    // The voice is checked before the device.
    const std::string english = model.theirLanguage.get().displayName();
    w.world.voices["en"] = {};
    model.refreshVoices();
    test::given.set(model.selectedVirtualOutputID, std::nullopt);
    EXPECT_FALSE(w.speak("Hi"));
    EXPECT_EQ(model.errorMessage.get(),
              "这台 Mac 没有" + english + "音色，无法播放。请在「设置 › 播放与音色」点「下载更好的音色」下载一个。");
    model.setSelectedVoiceID("picked");
    EXPECT_FALSE(w.speak("Hi"));
    EXPECT_EQ(model.errorMessage.get(), "没有找到 wenmora 音频设备。对方将听不到你的声音。");
    EXPECT_FALSE(model.isSpeaking.get());
    EXPECT_EQ(w.world.speaker->spoken.size(), 2u);
}

TEST(ModelPlayback, TheHeadphonesHearItOnlyWhenMonitoringADifferentOutput)
{
    PlayWorld w;
    auto& model = *w.model;
    w.speak("a");
    model.setSelectedMonitorOutputID(51);
    w.speak("b");
    model.setSelectedMonitorOutputID(std::nullopt);
    w.speak("c");
    model.setSelectedMonitorOutputID(30);
    model.setMonitorInHeadphones(false);
    w.speak("d");
    std::vector<Devices> devices;
    for (const auto& spoken : w.world.speaker->spoken) {
        devices.push_back(spoken.devices);
        EXPECT_EQ(spoken.voice, "en-voice");
    }
    EXPECT_EQ(devices, (std::vector<Devices>{{51, 30}, {51}, {51}, {51}}));
}

TEST(ModelPlayback, APlayedDraftIsRecordedEachTimeAsTheUsersEntry)
{
    PlayWorld w;
    auto& model = *w.model;
    const std::string mine = model.myLanguage.get().id;
    const std::string their = model.theirLanguage.get().id;
    w.setDraft(" 你好 \n", "  Hello \n");
    EXPECT_EQ(model.playDraftTitle(), "播放给对方");

    // While recording only a sentence of that hold may play.
    test::given.set(model.isRecording, true);
    w.playDraft();
    EXPECT_TRUE(w.world.speaker->spoken.empty());
    w.playDraft(HoldPlay::withinHold);
    test::given.set(model.isRecording, false);
    w.playDraft();

    EXPECT_EQ(w.spokenTexts(), (std::vector<std::string>{"Hello", "Hello"}));
    EXPECT_EQ(model.status.get(), "已播放给对方");
    EXPECT_EQ(ModelTestAccess::lastPlayedDraftTranslation(model).get(), "Hello");
    EXPECT_EQ(model.playDraftTitle(), "再次播放给对方");
    const auto& entries = model.entries.get();
    ASSERT_EQ(entries.size(), 2u);
    for (const ConversationEntry& entry : entries) {
        EXPECT_EQ(entry.side, ConversationEntry::Side::me);
        EXPECT_EQ(entry.original, " 你好 \n");
        EXPECT_EQ(entry.translated, "Hello");
        EXPECT_EQ(entry.originalLanguage, mine);
        EXPECT_EQ(entry.translatedLanguage, their);
    }
    EXPECT_NE(entries[0].id, entries[1].id);
    EXPECT_TRUE(model.hasDraft.get());

    model.editDraftTranslation("Hello again");
    EXPECT_EQ(model.playDraftTitle(), "播放给对方");
    model.editDraftTranslation(" \n");
    w.playDraft();
    EXPECT_EQ(w.world.speaker->spoken.size(), 2u);
}

TEST(ModelPlayback, AStoppedOrFailedPlaybackRecordsNothingAndCanBeRepeated)
{
    PlayWorld w;
    auto& model = *w.model;
    const std::string english = model.theirLanguage.get().displayName();
    w.setDraft("你好", "Hello");
    w.world.speaker->holdSpeech = true;
    auto task = rt::spawn([model = w.model] { return model->playDraftToPeer(); });
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(model.isSpeaking.get());
    EXPECT_EQ(model.status.get(), "正在用" + english + "播放给对方…");
    EXPECT_FALSE(model.canPlayDraft());
    EXPECT_FALSE(w.speak("Other", HoldPlay::withinHold));  // one playback at a time

    w.world.speaker->stop();
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
    EXPECT_EQ(model.status.get(), "已停止播放，可以再次播放");
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    EXPECT_FALSE(model.isSpeaking.get());
    EXPECT_TRUE(model.entries.get().empty());
    EXPECT_EQ(ModelTestAccess::lastPlayedDraftTranslation(model).get(), std::nullopt);
    EXPECT_TRUE(model.canPlayDraft());

    // The entry names the pair the draft was spoken in, even when the
    // languages change while it plays.
    const std::string mine = model.myLanguage.get().id;
    w.world.takeLog();
    task = rt::spawn([model = w.model] { return model->playDraftToPeer(); });
    w.world.runtime.runUntilIdle();
    test::given.set(model.theirLanguage, *CallLanguage::find("es"));
    w.world.speaker->finishSpeaking();
    w.world.runtime.runUntilIdle();
    ASSERT_EQ(model.entries.get().size(), 1u);
    EXPECT_EQ(model.entries.get()[0].originalLanguage, mine);
    EXPECT_EQ(model.entries.get()[0].translatedLanguage, "en");
    test::given.set(model.theirLanguage, *CallLanguage::find("en"));
    ModelTestAccess::setEntries(model, {});

    w.world.speaker->holdSpeech = false;
    w.world.speaker->speakError = DomainError("Speech", 2, "生成翻译语音超时，请重试（TTS-3）");
    w.playDraft();
    EXPECT_EQ(model.status.get(), "播放失败，可重试");
    EXPECT_EQ(model.errorMessage.get(), "播放失败：生成翻译语音超时，请重试（TTS-3）");
    EXPECT_FALSE(model.isSpeaking.get());
    EXPECT_TRUE(model.entries.get().empty());
    EXPECT_EQ(model.draftTranslation.get(), "Hello");
}

TEST(ModelQuickPhrases, EachLanguageRouteSpeaksTheRightTextAndRecordsIt)
{
    PlayWorld w;
    auto& model = *w.model;
    const CallLanguage english = *CallLanguage::find("en");
    const CallLanguage spanish = *CallLanguage::find("es");
    w.setDraft("草稿", "Draft");

    // Their language English: spoken as it is, nothing translated.
    // The phrase is recorded in the interface language.
    test::given.set(model.theirLanguage, english);
    w.world.platform.bundles.setTable("en", {{"请稍等。", "Just a moment."}});
    InterfaceLanguage::set("en");
    w.quickPhrase("One moment, please.", "请稍等。");
    EXPECT_EQ(model.status.get(), "已播放给对方");
    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(w.world.takeLog(), (std::vector<std::string>{"speaker speak"}));
    ASSERT_EQ(model.entries.get().size(), 1u);
    const ConversationEntry& entry = model.entries.get()[0];
    EXPECT_EQ(entry.side, ConversationEntry::Side::me);
    EXPECT_EQ(entry.original, "Just a moment.");
    EXPECT_EQ(entry.translated, "One moment, please.");
    EXPECT_EQ(entry.originalLanguage, model.myLanguage.get().id);
    EXPECT_EQ(entry.translatedLanguage, "en");
    // The line in the language it was written in gave way with the switch.
    EXPECT_EQ(model.status.get(), "");

    // Otherwise the English text from "en" where the pack is there...
    test::given.set(model.theirLanguage, spanish);
    model.refreshVoices();
    w.world.translator->holdAnswers = true;
    test::given.set(model.myLanguage, CallLanguage::chinese());
    test::given.set(ModelTestAccess::myMenu(model), {{"en", LanguageReadiness{.translationInstalled = true}}});
    w.quickPhrase("Thanks", "谢谢");
    // ...or when the user speaks English, whatever the menu says...
    test::given.set(ModelTestAccess::myMenu(model), {}).set(model.myLanguage, english);
    w.quickPhrase("Thanks", "谢谢");
    // ...else the Chinese text with the ready pair.
    test::given.set(model.myLanguage, CallLanguage::chinese()).set(model.translationReady, true);
    w.quickPhrase("Thanks", "谢谢");
    auto& waiting = w.world.translator->waiting;
    ASSERT_EQ(waiting.size(), 3u);
    EXPECT_EQ(waiting[0].text, "Thanks");
    EXPECT_EQ(waiting[0].source, "en");
    EXPECT_EQ(waiting[1].text, "Thanks");
    EXPECT_EQ(waiting[1].source, "en");
    EXPECT_EQ(waiting[2].text, "谢谢");
    EXPECT_EQ(waiting[2].source, "zh-Hans");
    for (const auto& request : waiting)
        EXPECT_EQ(request.target, "es");

    waiting[2].answer.resume(std::string(" Gracias "));
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.world.speaker->spoken.back().text, " Gracias ");
    EXPECT_EQ(w.world.speaker->spoken.back().voice, "es-voice");
    ASSERT_EQ(model.entries.get().size(), 2u);
    EXPECT_EQ(model.entries.get()[1].translated, " Gracias ");
    EXPECT_EQ(model.entries.get()[1].translatedLanguage, "es");

    // A phrase arriving while another plays is refused: nothing recorded.
    w.world.speaker->holdSpeech = true;
    waiting[0].answer.resume(std::string("Gracias"));
    w.world.runtime.runUntilIdle();
    waiting[1].answer.resume(std::string("Gracias"));
    w.world.runtime.runUntilIdle();
    w.world.speaker->finishSpeaking();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(model.entries.get().size(), 3u);

    EXPECT_EQ(model.draftText.get(), "草稿");
    EXPECT_EQ(model.draftTranslation.get(), "Draft");
    EXPECT_EQ(ModelTestAccess::lastPlayedDraftTranslation(model).get(), std::nullopt);
}

TEST(ModelQuickPhrases, WithoutARouteOrATranslationNothingIsSpoken)
{
    PlayWorld w;
    auto& model = *w.model;
    const CallLanguage spanish = *CallLanguage::find("es");
    test::given.set(model.myLanguage, CallLanguage::chinese()).set(model.theirLanguage, spanish);
    model.refreshVoices();
    test::given.set(model.translationReady, false);
    w.quickPhrase("Thanks", "谢谢");
    EXPECT_EQ(model.errorMessage.get(), "快捷短语需要「英语 ⇄ " + spanish.displayName() + "」翻译包，请改用打字发送。");

    test::given.set(model.translationReady, true);
    w.world.translator->holdAnswers = true;
    w.quickPhrase("Thanks", "谢谢");
    w.world.translator->waiting[0].answer.resume(std::string());
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(model.errorMessage.get(), "快捷短语翻译失败，请改用打字发送。");

    model.dismissError();
    w.world.translator->holdAnswers = false;
    w.world.translator->error = DomainError("Translation", 1, "E");
    w.quickPhrase("Thanks", "谢谢");
    EXPECT_EQ(model.errorMessage.get(), "快捷短语翻译失败，请改用打字发送。");
    EXPECT_TRUE(w.world.speaker->spoken.empty());
    EXPECT_TRUE(model.entries.get().empty());
}

// The window starts a phrase and drops the task: the wait for the
// translation keeps no released model alive, and the answer that comes back
// after it ends the task quietly. A model gone before the task's first step
// starts nothing.
TEST(ModelQuickPhrases, APhraseWaitingForItsTranslationKeepsNoReleasedModel)
{
    PlayWorld w;
    test::given.set(w.model->theirLanguage, *CallLanguage::find("es"));
    test::given.set(w.model->translationReady, true);
    w.world.translator->holdAnswers = true;
    const auto send = [](AppModel& model) { return model.sendQuickPhrase("Thanks", "谢谢"); };
    auto task = spawnOnModel(w.model, send);
    w.world.runtime.runUntilIdle();
    ASSERT_EQ(w.world.translator->waiting.size(), 1u);
    auto late = spawnOnModel(w.model, send);
    const std::weak_ptr<AppModel> weak = w.model;
    w.model.reset();
    EXPECT_TRUE(weak.expired());
    w.world.translator->waiting[0].answer.resume(std::string("Gracias"));
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished() && late.isFinished());
    EXPECT_EQ(w.world.translator->waiting.size(), 1u);
    EXPECT_TRUE(w.world.speaker->spoken.empty());
}

TEST(ModelQuickPhrases, AHungTranslationEndsWithTheBackEndsPatience)
{
    sim::SimTranslationPlatform system;
    auto host = TranslationHost::make();
    auto service = std::make_shared<HostedTranslation>(host);
    {
        PlayWorld w([&](AppModel::Dependencies& d) { d.translator = service; });
        auto& model = *w.model;
        test::given.set(model.myLanguage, CallLanguage::chinese());
        test::given.set(model.theirLanguage, *CallLanguage::find("es"));
        model.refreshVoices();
        test::given.set(model.translationReady, true);
        system.setStatus("zh-Hans", "es", LanguageAvailability::Status::installed);
        system.setResponder("zh-Hans", "es", [](const sim::SimRequest&) { return sim::SimReply::hang(); });

        const rt::Instant sent = w.world.runtime.clock().now();
        auto task = rt::spawn([model = w.model] { return model->sendQuickPhrase("Thanks", "谢谢"); });
        w.world.runtime.clock().advanceTo(sent + 29.9);
        EXPECT_FALSE(task.isFinished());
        EXPECT_EQ(model.errorMessage.get(), std::nullopt);
        w.world.runtime.clock().advanceTo(sent + 30.0);
        EXPECT_TRUE(task.isFinished());
        EXPECT_EQ(model.errorMessage.get(), "快捷短语翻译失败，请改用打字发送。");
        EXPECT_TRUE(w.world.speaker->spoken.empty());
        w.model.reset();
        service.reset();
        host.reset();
        w.world.runtime.executor().shutdown();
    }
}

}  // namespace
}  // namespace parlaro
