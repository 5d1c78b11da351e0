#include "LanguageWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::LanguageWorld;
using test::nameOf;
using Texts = std::vector<std::string>;

TEST(ModelLanguageChange, ChangesThatCannotHappenNowAreRefusedAndLeaveThePairAlone)
{
    LanguageWorld w;
    ASSERT_EQ(w.pair(), "zh-Hans>en");

    // Ignored without a word.
    w.change("ja", "ja");
    w.change("zh-Hans", "en");
    test::given.set(w.model->isChangingLanguage, true);
    w.change("ja", "en");
    test::given.set(w.model->isChangingLanguage, false);
    EXPECT_TRUE(w.statuses.empty());

    test::given.set(w.model->isSpeaking, true);
    w.change("ja", "en");
    test::given.set(w.model->isSpeaking, false).set(w.model->speechDownloadProgress, 0.2);
    EXPECT_FALSE(w.model->canChangeLanguage());
    w.change("ja", "en");
    test::given.set(w.model->speechDownloadProgress, std::nullopt);

    // Either side may lack a recognizer, not both: nothing could be heard.
    w.script->engines["ko"] = std::nullopt;
    w.script->engines["th"] = std::nullopt;
    w.change("ko", "th");

    // One direction unsupported is enough, even with the other installed.
    w.script->statuses["fr>en"] = TranslationStatus::unsupported;
    w.change("fr", "en");

    EXPECT_EQ(w.statuses,
              (Texts{"正在说话、识别或播放，结束后再切换语言", "正在下载语音识别模型，完成后再切换语言",
                     "本机无法识别" + nameOf("ko") + "和" + nameOf("th") + "，两种语言至少要有一种能识别",
                     "苹果翻译不支持" + nameOf("fr") + "和" + nameOf("en") + "互译（TR-1）"}));
    EXPECT_EQ(w.pair(), "zh-Hans>en");
    EXPECT_EQ(w.storedPair(), "->-");
    EXPECT_FALSE(w.model->isChangingLanguage.get());
    EXPECT_EQ(w.model->pendingLanguageChange.get(), std::nullopt);

    // A question that throws ends the change without blocking the next one.
    w.script->engineError = "E";
    auto failed = w.changeLater("ja", "en");
    w.world.runtime.runUntilIdle();
    EXPECT_THROW(failed.result(), DomainError);
    EXPECT_FALSE(w.model->isChangingLanguage.get());
    w.script->engineError.reset();
    w.change("ja", "en");
    EXPECT_EQ(w.pair(), "ja>en");
}

TEST(ModelLanguageChange, APairThatNeedsDownloadsOnlyAsksAndListsWhatIsMissingInOrder)
{
    LanguageWorld w;
    w.script->missingModels = {"fr", "ja"};
    w.script->statuses["ja>fr"] = TranslationStatus::supported;
    w.change("fr", "ja");
    ASSERT_TRUE(w.model->pendingLanguageChange.get());
    const auto& pending = *w.model->pendingLanguageChange.get();
    EXPECT_EQ(pending.my.id, "fr");
    EXPECT_EQ(pending.their.id, "ja");
    EXPECT_EQ(
        pending.needs,
        (Texts{nameOf("fr") + "识别模型", nameOf("ja") + "识别模型", nameOf("fr") + " ⇄ " + nameOf("ja") + "翻译包"}));
    EXPECT_EQ(w.pair(), "zh-Hans>en");
    EXPECT_FALSE(w.model->isChangingLanguage.get());
    EXPECT_TRUE(w.statuses.empty());

    // Their language without a recognizer needs no model of its own.
    w.script->engines["ja"] = std::nullopt;
    w.script->statuses.clear();
    w.change("fr", "ja");
    EXPECT_EQ(w.model->pendingLanguageChange.get()->needs, (Texts{nameOf("fr") + "识别模型"}));

    w.model->keepLanguages();
    EXPECT_EQ(w.model->pendingLanguageChange.get(), std::nullopt);
    EXPECT_EQ(w.statuses.back(), "没有切换，仍是 我说" + nameOf("zh-Hans") + " → 对方说" + nameOf("en"));
}

TEST(ModelLanguageChange, AnInstalledPairAppliesAtOnceAndClearsTheOwnSpeechState)
{
    LanguageWorld w;
    test::given.set(w.model->mePartial, "我").set(w.model->themPartial, "hel").set(w.model->hasDraft, true);
    w.model->editDraftText("你好");
    w.model->editDraftTranslation("Hello");
    test::given.set(w.model->voiceNotice, "notice");

    w.change("zh-Hans", "ja");
    EXPECT_EQ(w.pair(), "zh-Hans>ja");
    EXPECT_EQ(w.storedPair(), "zh-Hans>ja");
    EXPECT_EQ(w.model->mePartial.get(), "");
    EXPECT_EQ(w.model->themPartial.get(), "");
    EXPECT_FALSE(w.model->hasDraft.get());
    EXPECT_EQ(w.model->draftText.get(), "");
    EXPECT_EQ(w.model->draftTranslation.get(), "");
    EXPECT_EQ(w.model->voiceNotice.get(), std::nullopt);
    EXPECT_EQ(w.statuses, (Texts{"已切换：我说" + nameOf("zh-Hans") + " → 对方说" + nameOf("ja")}));
    EXPECT_EQ(ModelTestAccess::languagesBeforeChange(*w.model).get(), std::nullopt);
    EXPECT_FALSE(w.model->isChangingLanguage.get());
    // Listening starts for the new pair.
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "ja");
}

TEST(ModelLanguageChange, MyLanguageWithoutARecognizerWorksOneWayAndTypesTheOther)
{
    // Only English is recognized here: a Spanish speaker whose caller
    // speaks English reads captions and types replies.
    LanguageWorld w;
    for (const CallLanguage& language : CallLanguage::all())
        w.script->engines[language.id] = std::nullopt;
    w.script->engines["en"] = SpeechEngine::speech;
    w.script->missingModels = {"en"};
    w.refresh();
    w.statuses.clear();

    // Only the model that can be downloaded is asked for, and downloaded.
    w.change("es", "en");
    ASSERT_TRUE(w.model->pendingLanguageChange.get());
    EXPECT_EQ(w.model->pendingLanguageChange.get()->needs, (Texts{nameOf("en") + "识别模型"}));
    const rt::TaskHandle<> task = w.model->chooseLanguage();
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
    EXPECT_EQ(w.pair(), "es>en");
    EXPECT_EQ(w.storedPair(), "es>en");
    ASSERT_EQ(w.script->downloads.size(), 1u);
    EXPECT_EQ(w.script->downloads[0].substr(0, 3), "en ");
    EXPECT_EQ(w.statuses.back(), "语音识别模型已就绪");

    // The change is committed and the caller is captioned; no setup step
    // stays open for a model that does not exist.
    EXPECT_EQ(w.model->myEngine.get(), std::nullopt);
    EXPECT_TRUE(w.model->speechReady());
    EXPECT_FALSE(w.model->speechModelMissing());
    EXPECT_EQ(ModelTestAccess::languagesBeforeChange(*w.model).get(), std::nullopt);
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "en");

    // The talk control says why it cannot take a hold, and what Return does
    // in the sending mode in force; a press says it too.
    EXPECT_EQ(w.model->holdButtonTitle(), "无法识别" + nameOf("es"));
    ASSERT_TRUE(w.model->confirmBeforeSend.get());
    EXPECT_EQ(w.model->holdToTalkUnavailable(),
              "本机无法识别" + nameOf("es")
                  + "，不能按住说话。请在旁边的输入框打字，回车翻译，核对后点「播放给对方」。");
    w.model->setConfirmBeforeSend(false);
    EXPECT_EQ(w.model->holdToTalkUnavailable(),
              "本机无法识别" + nameOf("es") + "，不能按住说话。请在旁边的输入框打字，回车翻译并播放给对方。");
    w.model->setConfirmBeforeSend(true);
    w.model->beginHoldToTalk();
    EXPECT_EQ(w.model->errorMessage.get(), "本机无法识别" + nameOf("es") + "（SR-1）");
    EXPECT_FALSE(w.model->isHoldingToTalk.get());

    // Swapped, I speak English and their Spanish goes uncaptioned.
    w.change("en", "es");
    EXPECT_EQ(w.pair(), "en>es");
    EXPECT_EQ(w.model->holdToTalkUnavailable(), std::nullopt);
    EXPECT_EQ(w.model->holdButtonTitle(), "按住说" + nameOf("en"));
    EXPECT_TRUE(w.model->speechReady());
    EXPECT_FALSE(w.model->isListening.get());
    EXPECT_EQ(w.model->listeningStatus.get(),
              "本机无法识别" + nameOf("es") + "，对方说话不会显示字幕；你说的话照常翻译");

    // A pair that neither side can be heard in never becomes ready, even
    // when it comes from the settings file rather than a change.
    test::given.set(w.model->myLanguage, test::callLanguage("fr"));
    w.refresh();
    EXPECT_FALSE(w.model->speechReady());
}

TEST(ModelLanguageChange, ListeningIsPausedBeforeThePairChangesAndAStartGetsFiveSeconds)
{
    {
        LanguageWorld w;
        w.world.run([m = w.model] { return ModelTestAccess::startListening(*m); });
        ASSERT_TRUE(w.model->isListening.get());
        const rt::Uuid session = ModelTestAccess::listeningSession(*w.model).get();
        std::string seen;
        auto watch = w.model->theirLanguage.subscribe([&] {
            seen = w.model->listeningStatus.get()
                + (ModelTestAccess::listeningSession(*w.model).get() != session ? " new" : " old");
        });
        w.change("zh-Hans", "de");
        EXPECT_EQ(seen, "已暂停自动收听 new");
        ASSERT_EQ(w.world.sessions.size(), 2u);
        EXPECT_EQ(w.world.sessions.back().locale, test::callLanguage("de").speechLocale);
    }
    {
        // A listening start that hangs holds the change back until t0+5.0 s.
        LanguageWorld w;
        w.startListeningThatHangs();
        ASSERT_TRUE(w.model->isChangingListening.get());
        auto change = w.changeLater("zh-Hans", "de");
        w.at(4.9);
        EXPECT_EQ(w.pair(), "zh-Hans>en");
        w.at(5.0);
        EXPECT_EQ(w.pair(), "zh-Hans>de");
        EXPECT_TRUE(change.isFinished());
        EXPECT_FALSE(w.model->isChangingLanguage.get());

        // The start ends late, for the old language: listening starts over
        // in the new one.
        w.releaseHangingStart();
        EXPECT_TRUE(w.model->isListening.get());
        EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "de");
        ASSERT_EQ(w.world.sessions.size(), 2u);
        EXPECT_EQ(w.world.sessions.back().locale, test::callLanguage("de").speechLocale);
    }
}

TEST(ModelLanguageChange, AStartEndingWhileTheMenusRefreshIsMovedToTheNewPairWhenTheChangeEnds)
{
    LanguageWorld w;
    w.startListeningThatHangs();
    ASSERT_TRUE(w.model->isChangingListening.get());

    // The menus are refreshed after the commit; their question about a
    // language of neither pair waits for the test.
    w.script->holdAnswerTo = "engine ar";
    auto change = w.changeLater("zh-Hans", "de");
    w.at(5.0);
    ASSERT_TRUE(w.script->heldAnswer);
    EXPECT_EQ(w.pair(), "zh-Hans>de");
    EXPECT_TRUE(w.model->isChangingLanguage.get());

    // The old start ends inside the refresh, for English.
    w.releaseHangingStart();
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "en");
    EXPECT_EQ(w.world.sessions.size(), 1u);

    // The end of the change moves listening to German, without an error.
    w.script->heldAnswer->resume();
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(change.isFinished());
    EXPECT_FALSE(w.model->isChangingLanguage.get());
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "de");
    ASSERT_EQ(w.world.sessions.size(), 2u);
    EXPECT_EQ(w.world.sessions.back().locale, test::callLanguage("de").speechLocale);
    EXPECT_EQ(w.model->listeningStatus.get(), "自动收听中 · 对方说话即记录并翻译");
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
}

TEST(ModelLanguageChange, TheAnswerToAPendingChangeIsCheckedAgainstWhatRunsNow)
{
    LanguageWorld w;
    w.script->missingModels = {"ja"};
    w.change("zh-Hans", "ja");
    ASSERT_TRUE(w.model->pendingLanguageChange.get());

    // A press began meanwhile.
    test::given.set(w.model->isHoldingToTalk, true);
    EXPECT_FALSE(w.model->chooseLanguage());
    EXPECT_EQ(w.model->pendingLanguageChange.get(), std::nullopt);
    EXPECT_EQ(w.statuses, (Texts{"正在准备其他语言或正在说话，请稍后再选"}));
    EXPECT_EQ(w.pair(), "zh-Hans>en");
    test::given.set(w.model->isHoldingToTalk, false);

    // Nothing pending: nothing happens.
    EXPECT_FALSE(w.model->chooseLanguage());

    w.change("zh-Hans", "ja");
    const rt::TaskHandle<> task = w.model->chooseLanguage();
    ASSERT_TRUE(task);
    EXPECT_EQ(w.model->pendingLanguageChange.get(), std::nullopt);
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
    EXPECT_EQ(w.pair(), "zh-Hans>ja");
    EXPECT_EQ(
        w.script->downloads,
        (Texts{"ja " + test::callLanguage("zh-Hans").speechLocale + " " + test::callLanguage("ja").speechLocale}));
    EXPECT_EQ(w.statuses.back(), "语音识别模型已就绪");
}

TEST(ModelLanguageChange, AFailedDownloadPutsBackThePairFromBeforeTheFirstOpenChange)
{
    {
        LanguageWorld w;
        w.script->missingModels = {"ja"};
        w.script->failures["ja"] = "E";
        w.change("zh-Hans", "ja", AppModel::DownloadConsent::given);
        EXPECT_EQ(w.pair(), "zh-Hans>en");
        EXPECT_EQ(w.storedPair(), "zh-Hans>en");
        EXPECT_EQ(w.model->status.get(),
                  "语音识别模型下载失败，已改回 我说" + nameOf("zh-Hans") + " → 对方说" + nameOf("en"));
        EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(w.model->speechDownloadProgress.get(), std::nullopt);
        EXPECT_EQ(ModelTestAccess::languagesBeforeChange(*w.model).get(), std::nullopt);
        EXPECT_TRUE(w.model->canChangeLanguage());
    }
    {
        // The first change waits for its translation pack; a second change
        // applies meanwhile and its model download fails.
        LanguageWorld w;
        w.world.translator->holdPrepares = true;
        w.script->setStatus("zh-Hans", "ja", TranslationStatus::supported);
        w.change("zh-Hans", "ja", AppModel::DownloadConsent::given);
        ASSERT_EQ(w.pair(), "zh-Hans>ja");
        EXPECT_TRUE(w.model->isDownloadingTranslation.get());
        EXPECT_FALSE(w.model->isChangingLanguage.get());
        ASSERT_TRUE(ModelTestAccess::languagesBeforeChange(*w.model).get());

        w.script->missingModels = {"de"};
        w.script->failures["de"] = "E";
        w.change("zh-Hans", "de", AppModel::DownloadConsent::given);
        EXPECT_EQ(w.pair(), "zh-Hans>en");
        EXPECT_EQ(w.model->status.get(),
                  "语音识别模型下载失败，已改回 我说" + nameOf("zh-Hans") + " → 对方说" + nameOf("en"));
        // The pack of the first change comes back stale and changes nothing.
        w.world.translator->preparing.front().resume();
        w.world.runtime.runUntilIdle();
        EXPECT_EQ(w.pair(), "zh-Hans>en");
    }
}

TEST(ModelLanguageChange, ACommitRestartsListeningOnlyWhenItHearsAnotherLanguage)
{
    LanguageWorld w;
    w.world.run([m = w.model] { return ModelTestAccess::startListening(*m); });
    ASSERT_EQ(w.world.sessions.size(), 1u);
    test::given.set(ModelTestAccess::languagesBeforeChange(*w.model),
                    ModelTestAccess::LanguagePair{test::callLanguage("fr"), test::callLanguage("de")});
    test::given.set(w.model->listeningFailed, true);

    w.world.run([m = w.model] { return ModelTestAccess::finishLanguageChange(*m); });
    EXPECT_EQ(ModelTestAccess::languagesBeforeChange(*w.model).get(), std::nullopt);
    EXPECT_FALSE(w.model->listeningFailed.get());
    EXPECT_EQ(w.world.sessions.size(), 1u);
    EXPECT_TRUE(w.model->isListening.get());

    test::given.set(w.model->theirLanguage, test::callLanguage("ko"));
    w.world.run([m = w.model] { return ModelTestAccess::finishLanguageChange(*m); });
    ASSERT_EQ(w.world.sessions.size(), 2u);
    EXPECT_EQ(w.world.sessions.back().locale, test::callLanguage("ko").speechLocale);
    EXPECT_EQ(ModelTestAccess::listeningLanguageID(*w.model).get(), "ko");

    // Not ready yet: the change stays open.
    test::given.set(ModelTestAccess::languagesBeforeChange(*w.model),
                    ModelTestAccess::LanguagePair{test::callLanguage("fr"), test::callLanguage("de")});
    test::given.set(w.model->translationReady, false);
    w.world.run([m = w.model] { return ModelTestAccess::finishLanguageChange(*m); });
    EXPECT_TRUE(ModelTestAccess::languagesBeforeChange(*w.model).get());
}

}  // namespace
}  // namespace parlaro
