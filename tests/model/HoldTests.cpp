#include "HoldWorld.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "speech/InterfaceLanguage.h"
#include "speech/ModuleError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace parlaro {
namespace {

using test::HoldWorld;
using test::LoneHold;
using Texts = std::vector<std::string>;

bool contains(const Texts& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(ModelHold, RefusedPressesTouchNoHoldStateAndReportInOrder)
{
    HoldWorld w;
    auto& model = *w.model;
    const rt::Uuid before = ModelTestAccess::hold(model).holdID.get();
    // Each says so on the status line, as a global key shows nothing else.
    for (auto* busy : {&model.isSpeaking, &model.isTranslatingDraft, &ModelTestAccess::hold(model).isStartingRecording,
                       &model.isRecording, &model.isHearTesting}) {
        test::given.set(model.status, std::string()).set(*busy, true);
        w.press();
        test::given.set(*busy, false);
        EXPECT_EQ(model.status.get(),
                  busy == &model.isHearTesting ? "正在试听，结束后再按住说话" : "上一句还在处理，完成后再按住说话");
    }
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    // A key's repeat during a hold is part of the hold and says nothing.
    test::given.set(model.status, std::string()).set(model.isHoldingToTalk, true);
    test::given.set(model.isRecording, true);
    w.press();
    EXPECT_EQ(model.status.get(), "");
    test::given.set(model.isRecording, false).set(model.isHoldingToTalk, false);

    // No recognizer outranks missing downloads and an unconfirmed microphone.
    const std::string my = model.myLanguage.get().displayName();
    test::given.set(model.myEngine, std::nullopt).set(ModelTestAccess::mySpeechReady(model), false);
    test::given.set(model.micConfirmed, false);
    w.press();
    EXPECT_EQ(model.errorMessage.get(), "本机无法识别" + my + "（SR-1）");
    EXPECT_FALSE(model.showMicCheck.get());

    test::given.set(model.myEngine, SpeechEngine::speech);
    w.press();
    EXPECT_EQ(model.errorMessage.get(), "请先完成" + my + "识别模型和翻译语言包下载。");
    EXPECT_FALSE(model.showMicCheck.get());

    test::given.set(ModelTestAccess::mySpeechReady(model), true);
    model.dismissError();
    w.press();
    EXPECT_EQ(model.micCheckReason.get(), "说话前，请先确认要用的麦克风。");
    EXPECT_TRUE(model.showMicCheck.get());

    // A confirmed microphone that has gone from the list counts as unconfirmed.
    test::given.set(model.micConfirmed, true).set(model.showMicCheck, false);
    ModelTestAccess::setSelectedInputID(model, 99);
    w.press();
    EXPECT_TRUE(model.showMicCheck.get());

    EXPECT_EQ(ModelTestAccess::hold(model).holdID.get(), before);
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_TRUE(w.world.activities.empty());
    EXPECT_TRUE(w.world.recorder->requests.empty());
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
}

TEST(ModelHold, APressRunsTheRecorderWithWhatWasSetAtThePress)
{
    HoldWorld w;
    auto& model = *w.model;
    auto& recorder = *w.world.recorder;
    recorder.holdStart = true;
    // The desktop lists the hold's reason for staying awake in the user's
    // language; texts without an entry show their keys.
    w.world.platform.bundles.setTable("en", {{"按住说话", "Hold to talk"}});
    InterfaceLanguage::set("en");
    const rt::Uuid before = ModelTestAccess::hold(model).holdID.get();
    w.press();
    EXPECT_NE(ModelTestAccess::hold(model).holdID.get(), before);
    EXPECT_EQ(model.status.get(), "正在准备麦克风…");
    EXPECT_EQ(model.holdButtonTitle(), "正在准备…");
    EXPECT_EQ(w.world.activities, (Texts{"Hold to talk"}));
    ASSERT_EQ(recorder.requests.size(), 1u);
    EXPECT_EQ(recorder.requests[0].locale, model.myLanguage.get().speechLocale);
    EXPECT_FALSE(recorder.requests[0].held);
    EXPECT_EQ(recorder.requests[0].deviceID, 10u);

    // Changes after the press belong to the next hold.
    model.setTranslateWhileHolding(true);
    recorder.answerStart();
    w.run();
    EXPECT_TRUE(model.isRecording.get());
    EXPECT_EQ(model.holdButtonTitle(), "松开翻译");
    EXPECT_EQ(model.status.get(), "正在听…松开自动翻译发送，Esc 取消");
    recorder.sentence("Hello");
    EXPECT_EQ(ModelTestAccess::hold(model).heldUtterance.get(), (Texts{"Hello"}));
    EXPECT_EQ(ModelTestAccess::hold(model).heldSentenceCount.get(), 0);

    // A partial of an older hold is dropped.
    model.cancelHold();
    w.run();
    recorder.holdStart = false;
    w.press();
    recorder.requests[0].onLiveText("old words");
    EXPECT_EQ(model.mePartial.get(), "");
    recorder.live("new words");
    EXPECT_EQ(model.mePartial.get(), "new words");
    EXPECT_TRUE(recorder.requests[1].held);
    EXPECT_EQ(model.holdButtonTitle(), "正在听…松开结束");

    const std::string their = model.theirLanguage.get().displayName();
    EXPECT_EQ(ModelTestAccess::hold(model).recordingStatus(), "正在听…每说完一句自动翻译给对方，Esc 取消");
    test::given.set(model.originalVoiceOn, true);
    EXPECT_EQ(ModelTestAccess::hold(model).recordingStatus(),
              "正在听…对方同时听到你的原声；每说完一句就翻译成" + their);
    test::given.set(ModelTestAccess::hold(model).sendsWhileHolding, false);
    EXPECT_EQ(ModelTestAccess::hold(model).recordingStatus(), "正在听…对方同时听到你的原声；松开后翻译成" + their);
}

TEST(ModelHold, ARecorderStartThatHangsTimesOutTwelveSecondsAfterItBegan)
{
    HoldWorld w;
    auto& model = *w.model;
    w.world.recorder->holdStart = true;
    test::given.set(model.mePartial, "");
    w.press();
    w.at(11.999);
    EXPECT_EQ(model.status.get(), "正在准备麦克风…");
    EXPECT_TRUE(model.isHoldingToTalk.get());
    w.at(12.0);
    EXPECT_EQ(model.status.get(), "录音启动超时，请重试（SR-4）；已恢复按钮，本句未发送");
    EXPECT_EQ(model.errorMessage.get(),
              "录音启动超时，请重试（SR-4）。可以重新按住录音。已识别的文字会保留为草稿，不会自动发送。");
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_FALSE(model.hasDraft.get());
    EXPECT_EQ(w.world.activitiesEnded, 1);

    // The late start finds the press over and changes nothing.
    w.world.recorder->answerStart();
    w.run();
    EXPECT_FALSE(w.world.recorder->capturing);
    EXPECT_EQ(w.world.activitiesEnded, 1);
}

TEST(HoldToTalk, AReleaseBeforeTheMicrophoneRunsIsTooShortAndSendsNothing)
{
    for (const bool taskRan : {false, true}) {
        LoneHold w;
        w.world.recorder->holdStart = true;
        w.hold->start(SpeechEngine::speech, 10, false);
        if (taskRan)
            w.run();
        w.hold->release();
        EXPECT_EQ(w.status.get(), "正在结束录音…");
        w.run();
        if (taskRan) {
            w.world.recorder->answerStart();
            w.run();
        }
        EXPECT_EQ(w.status.get(), "按住时间太短，请按住按钮说话，说完再松开");
        EXPECT_FALSE(w.world.recorder->capturing);
        EXPECT_FALSE(w.anyHoldFlag());
        EXPECT_TRUE(w.sent.empty());
        EXPECT_EQ(w.world.activitiesEnded, 1);
    }
}

TEST(HoldToTalk, AReleaseJustAfterTheMicrophoneStartedStopsItAgain)
{
    LoneHold w;
    auto& recorder = *w.world.recorder;
    recorder.holdStart = true;
    recorder.checkPress = false;
    w.press();
    recorder.answerStart();
    w.hold->release();
    EXPECT_EQ(w.status.get(), "正在结束录音…");
    w.run();
    EXPECT_FALSE(recorder.capturing);
    EXPECT_TRUE(std::count(w.world.log->begin(), w.world.log->end(), "recorder cancel") == 1);
    EXPECT_EQ(w.status.get(), "按住时间太短，请按住按钮说话，说完再松开");
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_FALSE(recorder.finishPending());
    EXPECT_EQ(w.world.activitiesEnded, 1);
}

TEST(ModelHold, AHoldWithPausesIsTranslatedAndPlayedAsOneUtterance)
{
    HoldWorld w;
    auto& model = *w.model;
    w.press();
    w.world.recorder->sentence("Hello");
    w.world.recorder->live("Hello world");
    w.hold("world");
    EXPECT_EQ(w.spoken(), (Texts{"en:Hello world"}));
    const Texts& seen = *w.statuses;
    const auto finishing = std::find(seen.begin(), seen.end(), "正在完成语音识别…");
    const auto translating =
        std::find(finishing, seen.end(), "正在翻译成" + model.theirLanguage.get().displayName() + "…");
    EXPECT_NE(translating, seen.end());
    EXPECT_EQ(seen.back(), "已播放给对方");
    EXPECT_EQ(model.draftText.get(), "Hello world");
    EXPECT_EQ(model.draftTranslation.get(), "en:Hello world");
    EXPECT_TRUE(model.hasDraft.get());
    EXPECT_TRUE(ModelTestAccess::hold(model).heldUtterance.get().empty());
    EXPECT_EQ(model.mePartial.get(), "");
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_EQ(w.world.activitiesEnded, 1);
}

// A mouse hold with the shortcut pressed, let go or cancelled during it,
// and the other way round: the hold and its speech are the first press's.
TEST(ModelHold, APressDuringAHoldOfTheOtherSourceLeavesTheHoldAndItsSpeechAlone)
{
    using Source = AppModel::HoldSource;
    for (const auto& [first, second] :
         {std::pair{Source::talkControl, Source::shortcut}, std::pair{Source::shortcut, Source::talkControl}}) {
        HoldWorld w;
        auto& model = *w.model;
        model.beginHoldToTalk(first);
        w.run();
        ASSERT_TRUE(model.isRecording.get());
        w.world.recorder->sentence("Hello");
        model.beginHoldToTalk(second);
        model.endHoldToTalk(second);
        model.cancelHold(second);
        w.run();
        EXPECT_TRUE(model.isRecording.get());
        EXPECT_EQ(model.status.get(), "正在听…松开自动翻译发送，Esc 取消");
        w.world.recorder->finalText = "world";
        model.endHoldToTalk(first);
        w.run();
        EXPECT_EQ(w.spoken(), (Texts{"en:Hello world"}));
        EXPECT_FALSE(w.anyHoldFlag());
    }
}

TEST(ModelHold, RecognitionMustFinishTwelveSecondsAfterTheReleaseNotAfterTheTaskResumed)
{
    HoldWorld w;
    auto& model = *w.model;
    w.world.recorder->holdFinish = true;
    w.press();
    w.world.recorder->live(" 说到一半 ");
    w.at(3);
    model.endHoldToTalk();
    // The hold task gets to run only five seconds later.
    w.world.runtime.clock().jump(5);
    w.run();
    ASSERT_TRUE(w.world.recorder->finishPending());
    w.at(14.999);
    EXPECT_EQ(model.status.get(), "正在完成语音识别…");
    EXPECT_TRUE(ModelTestAccess::hold(model).isStartingRecording.get());
    w.at(15.0);
    EXPECT_EQ(model.status.get(), "语音识别超时，请重试（SR-4）；已恢复按钮，本句未发送");
    EXPECT_EQ(model.errorMessage.get(),
              "语音识别超时，请重试（SR-4）。可以重新按住录音。已识别的文字会保留为草稿，不会自动发送。");
    EXPECT_EQ(model.draftText.get(), "说到一半");
    EXPECT_EQ(model.draftTranslation.get(), "");
    EXPECT_TRUE(model.hasDraft.get());
    EXPECT_EQ(ModelTestAccess::lastPlayedDraftTranslation(model).get(), std::nullopt);
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_TRUE(w.world.speaker->spoken.empty());
}

TEST(ModelHold, NothingRecognizedIsReportedInBothModes)
{
    for (const bool held : {false, true}) {
        HoldWorld w;
        w.model->setTranslateWhileHolding(held);
        w.hold(" \n");
        EXPECT_EQ(w.model->status.get(), "没有识别到内容，请按住后再说一次");
        EXPECT_FALSE(w.anyHoldFlag());
        EXPECT_TRUE(w.world.translator->waiting.empty());
    }
}

TEST(ModelHold, ACancelInEveryStateEndsTheHoldWithoutSending)
{
    {
        // While the microphone is being prepared.
        HoldWorld w;
        w.world.recorder->holdStart = true;
        w.press();
        w.model->cancelHold();
        w.run();
        EXPECT_EQ(w.model->status.get(), "已取消本句，未发送");
        EXPECT_FALSE(w.anyHoldFlag());
        EXPECT_EQ(w.world.activitiesEnded, 1);
    }
    {
        // While recording, under free listening.
        HoldWorld w;
        auto& model = *w.model;
        model.setTranslateWhileHolding(true);
        model.freeListeningDidChange(true);
        w.run();
        ASSERT_TRUE(model.freeListening.get());
        EXPECT_EQ(model.holdButtonTitle(), "自由说话");
        w.world.recorder->live("半句");
        model.cancelHold();
        w.run();
        EXPECT_EQ(model.status.get(), "已取消录音，未发送");
        EXPECT_FALSE(w.anyHoldFlag());
        EXPECT_FALSE(model.freeListening.get());
        EXPECT_EQ(model.mePartial.get(), "");
        EXPECT_FALSE(w.world.recorder->capturing);
        EXPECT_EQ(w.world.activitiesEnded, 1);
    }
    {
        // While recognition finishes: the late result is never played.
        HoldWorld w;
        w.world.recorder->holdFinish = true;
        w.hold("");
        w.model->cancelHold();
        w.run();
        w.world.recorder->answerFinish("Hello");
        w.run();
        EXPECT_FALSE(w.anyHoldFlag());
        EXPECT_TRUE(w.spoken().empty());
        EXPECT_FALSE(contains(*w.world.log, "translate Hello"));
        EXPECT_EQ(w.world.activitiesEnded, 1);
    }
}

TEST(ModelHold, ACancelAfterSentencesWereSentSaysOnlyTheRestWasNotSent)
{
    HoldWorld w;
    auto& model = *w.model;
    auto& recorder = *w.world.recorder;
    model.setTranslateWhileHolding(true);
    w.world.speaker->holdSpeech = true;
    w.press();
    recorder.sentence("One");
    w.run();
    recorder.sentence("Two");
    w.run();
    ASSERT_EQ(w.spoken(), (Texts{"en:One"}));
    model.cancelHold();
    w.run();
    EXPECT_FALSE(contains(*w.statuses, "已取消录音，未发送"));
    EXPECT_EQ(model.status.get(), "已取消录音，剩下的部分未发送");
    EXPECT_FALSE(ModelTestAccess::hold(model).isStartingRecording.get());

    // Neither what was queued nor what the old session still reports is played.
    recorder.sentence("Three");
    w.world.speaker->finishSpeaking();
    w.run();
    EXPECT_EQ(w.spoken(), (Texts{"en:One"}));
    EXPECT_TRUE(ModelTestAccess::hold(model).heldSentences.get().empty());
    EXPECT_FALSE(ModelTestAccess::hold(model).isSending());
}

TEST(HoldToTalk, ARecordingFailureCancelsTheHoldAndKeepsItsMessage)
{
    LoneHold w;
    w.press();
    const auto failed = w.world.recorder->requests.back().onErrorText;
    failed("X");
    EXPECT_EQ(w.status.get(), "麦克风中断，本句未发送");
    EXPECT_EQ(w.errorMessage.get(), "X。本句未发送，请检查麦克风后重新按住说话。");
    w.run();
    EXPECT_EQ(w.status.get(), "已取消录音，未发送");
    EXPECT_FALSE(w.anyHoldFlag());

    // A failure of a hold that is over changes nothing.
    test::given.set(w.errorMessage, std::nullopt);
    failed("Y");
    EXPECT_EQ(w.errorMessage.get(), std::nullopt);
    EXPECT_EQ(w.status.get(), "已取消录音，未发送");
}

TEST(ModelHold, SentencesWhileHoldingArePlayedOneAfterAnotherAndTheHoldWaitsForThem)
{
    HoldWorld w;
    auto& model = *w.model;
    auto& recorder = *w.world.recorder;
    auto& speaker = *w.world.speaker;
    model.setTranslateWhileHolding(true);
    speaker.holdSpeech = true;
    w.press();
    const std::string holding = ModelTestAccess::hold(model).recordingStatus();
    for (const char* text : {"One", "Two", "Three"})
        recorder.sentence(text);
    w.run();
    EXPECT_EQ(w.spoken(), (Texts{"en:One"}));
    EXPECT_EQ(ModelTestAccess::hold(model).heldSentenceCount.get(), 3);
    w.statuses->clear();
    speaker.finishSpeaking();
    w.run();
    EXPECT_EQ(w.spoken(), (Texts{"en:One", "en:Two"}));
    EXPECT_TRUE(contains(*w.statuses, holding));

    // The last sentence comes with the release and is played before the hold ends.
    recorder.finalText = "Four";
    w.release();
    speaker.finishSpeaking();
    w.run();
    EXPECT_EQ(w.spoken(), (Texts{"en:One", "en:Two", "en:Three"}));
    EXPECT_TRUE(ModelTestAccess::hold(model).isStartingRecording.get());
    speaker.finishSpeaking();
    w.run();
    EXPECT_EQ(w.spoken(), (Texts{"en:One", "en:Two", "en:Three", "en:Four"}));
    EXPECT_TRUE(ModelTestAccess::hold(model).isStartingRecording.get());
    EXPECT_EQ(model.holdButtonTitle(), "正在播放…");
    // A press meanwhile is refused at once and says why; its release
    // changes nothing of the hold that plays out.
    const std::size_t requests = recorder.requests.size();
    w.press();
    EXPECT_EQ(model.status.get(), "上一句还在处理，完成后再按住说话");
    w.release();
    EXPECT_EQ(model.status.get(), "上一句还在处理，完成后再按住说话");
    EXPECT_EQ(recorder.requests.size(), requests);
    EXPECT_EQ(model.holdButtonTitle(), "正在播放…");
    speaker.finishSpeaking();
    w.run();
    EXPECT_FALSE(w.anyHoldFlag());
    EXPECT_EQ(model.status.get(), "已播放给对方");
    EXPECT_EQ(model.entries.get().size(), 4u);
    EXPECT_EQ(w.world.activitiesEnded, 1);
}

TEST(ModelHold, APressWithoutMicrophoneAccessAsksOnceAndEndsQuietlyOnARefusal)
{
    for (const bool granted : {false, true}) {
        HoldWorld w;
        test::given.set(w.model->micAuthorized, false);
        w.world.microphoneAuthorized = granted;
        w.press();
        EXPECT_EQ(w.model->isRecording.get(), granted);
        EXPECT_EQ(w.world.recorder->requests.size(), granted ? 1u : 0u);
        EXPECT_EQ(w.world.activitiesEnded, granted ? 0 : 1);
        if (!granted) {
            EXPECT_FALSE(w.anyHoldFlag());
            EXPECT_NE(w.model->errorMessage.get(), std::nullopt);
        }
    }
}

TEST(ModelHold, AModelReleasedWhileTheUserSpeaksStillEndsTheActivity)
{
    HoldWorld w;
    w.press();
    ASSERT_TRUE(w.model->isRecording.get());
    w.statusWatch = {};
    w.model.reset();
    w.run();
    EXPECT_EQ(w.world.activitiesEnded, 1);
}

TEST(HoldToTalk, TheReleaseHandsTheInstantToTheWaitingHold)
{
    test::LoneHold lone;
    auto& world = lone.world;
    auto& hold = *lone.hold;
    std::optional<std::optional<rt::Instant>> released;
    auto task = rt::spawn([&]() -> rt::Async<void> {
        released = co_await rt::withContinuation<std::optional<rt::Instant>>(
            [&](rt::Continuation<std::optional<rt::Instant>> c) { ModelTestAccess::holdRelease(hold) = c; });
    });
    ModelTestAccess::holdTask(hold) = task;
    test::given.set(lone.isHoldingToTalk, true).set(lone.isRecording, true);
    world.runtime.runUntilIdle();
    world.runtime.advance(2.5);

    hold.release();
    world.runtime.runUntilIdle();
    ASSERT_TRUE(released);
    EXPECT_EQ(*released, world.runtime.clock().now());
    EXPECT_FALSE(lone.isRecording.get());
    EXPECT_FALSE(ModelTestAccess::holdRelease(hold).has_value());
    EXPECT_EQ(lone.status.get(), "正在完成语音识别…");
    EXPECT_EQ(world.takeLog(), (Texts{"recorder stopCapture"}));

    // A second release finds nothing held.
    hold.release();
    EXPECT_TRUE(world.log->empty());
}

TEST(HoldToTalk, ACancelEndsTheHoldWithoutSending)
{
    test::LoneHold lone;
    auto& world = lone.world;
    auto& hold = *lone.hold;
    // No hold: nothing happens.
    hold.cancel();
    EXPECT_TRUE(world.log->empty());
    EXPECT_EQ(lone.status.get(), "");

    std::optional<std::optional<rt::Instant>> released;
    bool cancelled = false;
    auto task = rt::spawn([&]() -> rt::Async<void> {
        released = co_await rt::withContinuation<std::optional<rt::Instant>>(
            [&](rt::Continuation<std::optional<rt::Instant>> c) { ModelTestAccess::holdRelease(hold) = c; });
        cancelled = rt::isCancelled();
    });
    ModelTestAccess::holdTask(hold) = task;
    test::given.set(lone.isHoldingToTalk, true).set(hold.heldSentenceCount, 2);
    world.runtime.runUntilIdle();
    const rt::Uuid before = hold.holdID.get();

    hold.cancel();
    world.runtime.runUntilIdle();
    EXPECT_NE(hold.holdID.get(), before);
    ASSERT_TRUE(released);
    EXPECT_FALSE(released->has_value());
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(lone.isHoldingToTalk.get());
    EXPECT_EQ(lone.status.get(), "已取消录音，剩下的部分未发送");
}

TEST(HoldToTalk, JoiningPiecesPutsBlanksOnlyBetweenWordsOfSpacedScripts)
{
    EXPECT_EQ(HoldToTalk::joinRecognizedText({"Hello", "world"}), "Hello world");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({"Hello", "你好"}), "Hello你好");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({"你好", "Bob"}), "你好Bob");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({" a ", "", "b "}), "a b");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({"two  blanks", "\n"}), "two  blanks");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({"ＡＢ", "c"}), "ＡＢc");
    EXPECT_EQ(HoldToTalk::joinRecognizedText({}), "");
}

}  // namespace
}  // namespace parlaro
