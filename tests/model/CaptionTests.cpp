#include "ModelWorld.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "speech/DirectTranslation.h"
#include "speech/HostedTranslation.h"
#include "speech/TranslationHost.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;

std::shared_ptr<AppModel> listeningModel(ModelWorld& world,
                                         const std::function<void(AppModel::Dependencies&)>& adjust = {})
{
    auto model = adjust ? world.make(adjust) : world.make();
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true).set(model->translationReady, true);
    world.run([model] { return ModelTestAccess::startListening(*model); });
    EXPECT_TRUE(model->isListening.get());
    return model;
}

void hear(ModelWorld& world, const std::string& text, bool isFinal)
{
    world.incoming->onResult(text, isFinal);
    world.runtime.runUntilIdle();
}

std::vector<std::string> translations(const AppModel& model)
{
    std::vector<std::string> texts;
    for (const ConversationEntry& entry : model.entries.get())
        texts.push_back(entry.translated);
    return texts;
}

TEST(ModelCaptions, OnlyTheCurrentSessionsResultsCountAndTheyAreTrimmed)
{
    ModelWorld world;
    auto model = listeningModel(world);
    auto oldResult = world.incoming->onResult;
    world.run([model] { return ModelTestAccess::pauseListening(*model); });
    world.run([model] { return ModelTestAccess::listeningReadinessNotice(*model); });
    ASSERT_TRUE(model->isListening.get());

    oldResult("hello", false);
    oldResult("Hi", true);
    EXPECT_EQ(model->themPartial.get(), "");
    EXPECT_TRUE(model->entries.get().empty());

    hear(world, " hello \n", false);
    EXPECT_EQ(model->themPartial.get(), "hello");
    hear(world, "\xE3\x80\x80", true);  // an ideographic space only
    EXPECT_EQ(model->themPartial.get(), "");
    EXPECT_TRUE(model->entries.get().empty());
}

TEST(ModelCaptions, AFinalSentenceBecomesAnEntryThatItsTranslationFillsIn)
{
    ModelWorld world;
    world.translator->holdAnswers = true;
    auto model = listeningModel(world);
    const std::string their = model->theirLanguage.get().id;
    const std::string mine = model->myLanguage.get().id;
    hear(world, "half", false);
    world.incoming->onResult(" Hi ", true);

    ASSERT_EQ(model->entries.get().size(), 1u);
    const ConversationEntry& entry = model->entries.get()[0];
    EXPECT_EQ(entry.side, ConversationEntry::Side::them);
    EXPECT_EQ(entry.original, "Hi");
    EXPECT_EQ(entry.translated, "…");
    EXPECT_EQ(entry.originalLanguage, their);
    EXPECT_EQ(entry.translatedLanguage, mine);
    EXPECT_EQ(entry.time, world.runtime.clock().date());
    EXPECT_EQ(model->themPartial.get(), "");

    world.runtime.runUntilIdle();
    ASSERT_EQ(world.translator->waiting.size(), 1u);
    EXPECT_EQ(world.translator->waiting[0].text, "Hi");
    EXPECT_EQ(world.translator->waiting[0].source, their);
    EXPECT_EQ(world.translator->waiting[0].target, mine);
    world.translator->waiting[0].answer.resume(std::string("你好"));
    world.runtime.runUntilIdle();
    EXPECT_EQ(translations(*model), (std::vector<std::string>{"你好"}));
}

TEST(ModelCaptions, ACaptionThatCannotBeTranslatedSaysSo)
{
    ModelWorld world;
    auto model = listeningModel(world);
    test::given.set(model->translationReady, false);
    hear(world, "one", true);
    test::given.set(model->translationReady, true);
    world.translator->error = DomainError("Translation", 1, "E");
    hear(world, "two", true);
    EXPECT_EQ(translations(*model), (std::vector<std::string>{"（翻译未就绪）", "（翻译失败：E）"}));
}

TEST(ModelCaptions, LateTranslationsLandInTheirOwnEntryOrNowhere)
{
    ModelWorld world;
    world.translator->holdAnswers = true;
    auto model = listeningModel(world);
    hear(world, "A", true);
    hear(world, "B", true);
    ASSERT_EQ(world.translator->waiting.size(), 2u);
    world.translator->waiting[1].answer.resume(std::string("b"));
    world.runtime.runUntilIdle();
    world.translator->waiting[0].answer.resume(std::string("a"));
    world.runtime.runUntilIdle();
    EXPECT_EQ(translations(*model), (std::vector<std::string>{"a", "b"}));

    hear(world, "C", true);
    model->clearConversation();
    world.translator->waiting[2].answer.resume(std::string("c"));
    world.runtime.runUntilIdle();
    EXPECT_TRUE(model->entries.get().empty());
}

TEST(ModelCaptions, ASilentTranslatorGivesUpAfterThirtySecondsOnEitherBackEnd)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "hosted");
        ModelWorld world;
        sim::SimTranslationPlatform system;
        auto host = TranslationHost::make();
        std::shared_ptr<TranslationService> service;
        if (direct)
            service = std::make_shared<DirectTranslation>(host);
        else
            service = std::make_shared<HostedTranslation>(host);
        auto model = listeningModel(world, [&](AppModel::Dependencies& d) { d.translator = service; });
        const std::string their = model->theirLanguage.get().id;
        const std::string mine = model->myLanguage.get().id;
        system.setStatus(their, mine, LanguageAvailability::Status::installed);
        system.setResponder(their, mine, [](const sim::SimRequest&) { return sim::SimReply::hang(); });

        const rt::Instant heard = world.runtime.clock().now();
        hear(world, "Hi", true);
        world.runtime.clock().advanceTo(heard + 29.9);
        EXPECT_EQ(translations(*model), (std::vector<std::string>{"…"}));
        world.runtime.clock().advanceTo(heard + 30.0);
        EXPECT_EQ(translations(*model),
                  (std::vector<std::string>{"（翻译失败：系统翻译没有响应，已重新连接，请重试（TR-5））"}));
        model.reset();
        service.reset();
        host.reset();
        world.runtime.executor().shutdown();
    }
}

}  // namespace
}  // namespace parlaro
