#include "HoldWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::HoldWorld;
using Texts = std::vector<std::string>;

struct DraftWorld : HoldWorld {
    void typed(const std::string& text)
    {
        model->editTypedText(text);
        world.run([model = model] { return model->translateTypedText(); });
    }
    std::string their() const { return model->theirLanguage.get().displayName(); }
};

TEST(ModelDrafts, AFailedTranslationKeepsTheSourceAndSaysWhy)
{
    {
        DraftWorld w;
        w.world.translator->holdAnswers = true;
        w.hold("Hello");
        w.at(19.999);
        EXPECT_TRUE(w.model->isTranslatingDraft.get());
        w.at(20.0);
        EXPECT_EQ(w.model->errorMessage.get(), "翻译失败：翻译超时，请重试（TR-3）");
        EXPECT_EQ(w.model->status.get(), "翻译失败，未发送；可修改后重新翻译");
        EXPECT_EQ(w.model->draftText.get(), "Hello");
        EXPECT_EQ(w.model->draftTranslation.get(), "");
        EXPECT_FALSE(w.model->isTranslatingDraft.get());
        EXPECT_FALSE(w.anyHoldFlag());
    }
    {
        DraftWorld w;
        w.model->setConfirmBeforeSend(false);
        test::given.set(w.model->translationReady, false);
        w.typed("你好");
        EXPECT_EQ(w.model->errorMessage.get(), "翻译失败：翻译语言包未安装（TR-2）");
        EXPECT_TRUE(w.spoken().empty());
    }
    {
        // A pair this computer cannot translate at all: nothing is tried and
        // nothing is lost. The user reads the setup steps' words, no failure
        // with a code that reads as if a pack could be installed.
        DraftWorld w;
        test::given.set(w.model->translationReady, false).set(w.model->translationSupported, false);
        const std::string refusal =
            "这台电脑不能翻译" + w.their() + " ⇄ " + w.model->myLanguage.get().displayName() + "。";
        EXPECT_EQ(w.model->untranslatablePairLine(), refusal);
        w.typed("你好");
        EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(w.model->status.get(), refusal);
        EXPECT_EQ(w.model->typedText.get(), "你好");
        EXPECT_FALSE(w.model->hasDraft.get());
        // A press says the same rather than ask for a download that brings
        // nothing, and so does translating a draft again.
        test::given.set(w.model->status, "");
        w.hold("Hello");
        EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(w.model->status.get(), refusal);
        EXPECT_FALSE(w.anyHoldFlag());
        test::given.set(w.model->status, "");
        w.model->editDraftText("Hello");
        w.world.run([model = w.model] { return model->retranslateDraft(); });
        EXPECT_EQ(w.model->draftText.get(), "Hello");
        EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(w.model->status.get(), refusal);
        EXPECT_TRUE(w.spoken().empty());
        test::given.set(w.model->translationSupported, true);
        EXPECT_EQ(w.model->untranslatablePairLine(), "");
    }
    {
        DraftWorld w;
        std::shared_ptr<AppModel> model = w.world.make([](AppModel::Dependencies& d) {
            d.outgoingTranslator = [](std::string) -> rt::Async<std::string> { co_return " \n "; };
        });
        model->setConfirmBeforeSend(false);
        model->editTypedText("你好");
        w.world.run([model] { return model->translateTypedText(); });
        EXPECT_EQ(model->errorMessage.get(), "翻译失败：翻译结果为空（TR-4）");
        EXPECT_TRUE(w.spoken().empty());
    }
}

TEST(ModelDrafts, TypedTextWaitsForACheckWhenAskedWhileSpokenTextIsPlayedAtOnce)
{
    DraftWorld w;
    auto& model = *w.model;
    w.typed(" \n ");
    EXPECT_EQ(model.typedText.get(), " \n ");
    EXPECT_FALSE(model.hasDraft.get());

    w.typed(" 你好 ");
    EXPECT_EQ(model.typedText.get(), "");
    EXPECT_EQ(model.draftText.get(), "你好");
    EXPECT_EQ(model.draftTranslation.get(), "en:你好");
    EXPECT_EQ(model.status.get(), "请核对" + w.their() + "翻译，确认无误后点「播放给对方」");
    EXPECT_TRUE(w.spoken().empty());

    w.hold("谢谢");
    EXPECT_EQ(w.spoken(), (Texts{"en:谢谢"}));
    EXPECT_EQ(model.playDraftTitle(), "再次播放给对方");
    model.editDraftTranslation("Thanks!");
    EXPECT_EQ(model.playDraftTitle(), "播放给对方");
}

TEST(ModelDrafts, ASentenceWhoseHoldWasCancelledDuringItsTranslationStaysUnplayed)
{
    DraftWorld w;
    auto& model = *w.model;
    w.world.translator->holdAnswers = true;
    model.setTranslateWhileHolding(true);
    w.press();
    w.world.recorder->sentence("Hello");
    w.run();
    ASSERT_EQ(w.world.translator->waiting.size(), 1u);
    model.cancelHold();
    w.run();
    w.world.translator->waiting[0].answer.resume(std::string("Hola"));
    w.run();
    EXPECT_EQ(model.draftText.get(), "Hello");
    EXPECT_EQ(model.draftTranslation.get(), "Hola");
    EXPECT_EQ(model.status.get(), "已取消自动发送，内容保留在草稿中");
    EXPECT_TRUE(w.spoken().empty());
}

TEST(ModelDrafts, ACancelDuringTheTranslationOfAHoldKeepsTheSourceUntranslated)
{
    DraftWorld w;
    auto& model = *w.model;
    w.world.translator->holdAnswers = true;
    w.hold("Hello");
    ASSERT_EQ(w.world.translator->waiting.size(), 1u);
    model.cancelHold();
    w.run();
    EXPECT_EQ(model.status.get(), "已取消本句，原文已保留，未发送");
    EXPECT_FALSE(model.isTranslatingDraft.get());
    EXPECT_FALSE(w.anyHoldFlag());

    // The answer that comes after all is not used.
    w.world.translator->waiting[0].answer.resume(std::string("Hola"));
    w.run();
    EXPECT_EQ(model.draftText.get(), "Hello");
    EXPECT_EQ(model.draftTranslation.get(), "");
    EXPECT_TRUE(w.spoken().empty());
    EXPECT_TRUE(model.canStartSpeaking());
}

TEST(ModelDrafts, TranslatingAgainAndClearing)
{
    DraftWorld w;
    auto& model = *w.model;
    test::given.set(model.hasDraft, true);
    model.editDraftText("  ");
    test::given.set(ModelTestAccess::lastPlayedDraftTranslation(model), "Hi").set(model.status, "before");
    w.world.run([&] { return model.retranslateDraft(); });
    EXPECT_EQ(ModelTestAccess::lastPlayedDraftTranslation(model).get(), std::nullopt);
    EXPECT_FALSE(model.isTranslatingDraft.get());
    EXPECT_TRUE(w.world.translator->waiting.empty());

    model.editDraftText(" 你好 ");
    w.world.run([&] { return model.retranslateDraft(); });
    EXPECT_EQ(model.draftTranslation.get(), "en:你好");
    EXPECT_EQ(model.status.get(), "before");
    EXPECT_TRUE(w.spoken().empty());

    // A cancelled translation is reported like any other failure.
    w.world.translator->holdAnswers = true;
    auto again = rt::spawn([&] { return model.retranslateDraft(); });
    w.run();
    EXPECT_TRUE(model.isTranslatingDraft.get());
    again.cancel();
    w.run();
    EXPECT_EQ(model.errorMessage.get(), "翻译失败：已取消");
    EXPECT_FALSE(model.isTranslatingDraft.get());
    EXPECT_EQ(model.draftTranslation.get(), "");

    test::given.set(model.isSpeaking, true);
    model.clearDraft();
    EXPECT_TRUE(model.hasDraft.get());
    test::given.set(model.isSpeaking, false);
    model.clearDraft();
    EXPECT_FALSE(model.hasDraft.get());
    EXPECT_EQ(model.draftText.get(), "");
    EXPECT_EQ(model.status.get(), "已取消");
}

TEST(ModelDrafts, AClearDuringTheTranslationOfAHoldKeepsTheTranslationUnplayed)
{
    DraftWorld w;
    auto& model = *w.model;
    w.world.translator->holdAnswers = true;
    w.hold("你好");
    ASSERT_EQ(w.world.translator->waiting.size(), 1u);
    model.clearDraft();
    w.world.translator->waiting[0].answer.resume(std::string("Hello"));
    w.run();
    EXPECT_EQ(model.draftTranslation.get(), "Hello");
    EXPECT_FALSE(model.hasDraft.get());
    EXPECT_EQ(model.status.get(), "已取消");
    EXPECT_TRUE(w.spoken().empty());
    EXPECT_FALSE(w.anyHoldFlag());
}

}  // namespace
}  // namespace parlaro
