#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

// Language services that answer from tables and note every question; by
// default every language has a recognizer with its model and every
// direction is installed.
struct Script {
    std::map<std::string, std::optional<SpeechEngine>> engines;
    std::set<std::string> missingModels;
    std::map<std::string, TranslationStatus> statuses;  // "source>target"
    std::vector<std::string> asked;
    // Runs as each question is asked, before it is answered.
    std::function<void(const std::string& question)> onAsk;

    void ask(const std::string& question)
    {
        asked.push_back(question);
        if (onAsk)
            onAsk(question);
    }
};

rt::Async<std::optional<SpeechEngine>> engineOf(std::shared_ptr<Script> script, CallLanguage language)
{
    script->ask("engine " + language.id);
    const auto found = script->engines.find(language.id);
    co_return found == script->engines.end() ? std::optional<SpeechEngine>(SpeechEngine::speech) : found->second;
}

rt::Async<bool> modelOf(std::shared_ptr<Script> script, CallLanguage language)
{
    script->ask("model " + language.id);
    co_return !script->missingModels.count(language.id);
}

rt::Async<TranslationStatus> statusOf(std::shared_ptr<Script> script, std::string source, std::string target)
{
    const std::string pair = source + ">" + target;
    script->ask("status " + pair);
    const auto found = script->statuses.find(pair);
    co_return found == script->statuses.end() ? TranslationStatus::installed : found->second;
}

std::shared_ptr<AppModel> scriptedModel(ModelWorld& world, const std::shared_ptr<Script>& script)
{
    return world.make([&](AppModel::Dependencies& d) {
        d.languageServices.engine = [script](CallLanguage language) { return engineOf(script, std::move(language)); };
        d.languageServices.speechInstalled = [script](CallLanguage language, SpeechEngine) {
            return modelOf(script, std::move(language));
        };
        d.languageServices.translationStatus = [script](std::string source, std::string target) {
            return statusOf(script, std::move(source), std::move(target));
        };
    });
}

CallLanguage language(const std::string& id)
{
    return *CallLanguage::find(id);
}

TEST(ModelReadiness, TheTranslatorIsResetOncePerPairBeforeReadinessIsWritten)
{
    ModelWorld world;
    auto script = std::make_shared<Script>();
    auto model = scriptedModel(world, script);
    const std::string my = model->myLanguage.get().id;
    const std::string their = model->theirLanguage.get().id;
    auto watch = model->translationReady.subscribe(
        [&] { world.log->push_back(std::string("ready ") + (model->translationReady.get() ? "yes" : "no")); });

    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    EXPECT_EQ(world.takeLog(), (Log{"translator reset", "ready yes"}));
    EXPECT_EQ(ModelTestAccess::translationPair(*model).get(), my + ">" + their);
    EXPECT_TRUE(ModelTestAccess::mySpeechReady(*model).get());
    EXPECT_TRUE(ModelTestAccess::theirSpeechReady(*model).get());

    // Installed one way only is not ready; the same pair is not reset again.
    script->statuses[their + ">" + my] = TranslationStatus::supported;
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    EXPECT_EQ(world.takeLog(), (Log{"ready no"}));

    script->statuses.clear();
    test::given.set(model->theirLanguage, language("ja"));
    world.run([model] { return ModelTestAccess::prepareTranslationPair(*model); });
    EXPECT_EQ(world.takeLog(), (Log{"translator reset", "ready yes"}));
    EXPECT_EQ(ModelTestAccess::translationPair(*model).get(), my + ">ja");
}

TEST(ModelReadiness, ARefreshForAPairThatChangedMeanwhileWritesNothing)
{
    ModelWorld world;
    auto script = std::make_shared<Script>();
    auto model = scriptedModel(world, script);
    AppModel* target = model.get();
    const std::string their = model->theirLanguage.get().id;

    script->engines[their] = std::nullopt;
    script->onAsk = [target, their](const std::string& question) {
        if (question == "engine " + their)
            test::given.set(target->myLanguage, language("fr"));
    };
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    EXPECT_EQ(model->theirEngine.get(), SpeechEngine::speech);
    EXPECT_FALSE(ModelTestAccess::mySpeechReady(*model).get());
    EXPECT_EQ(ModelTestAccess::translationPair(*model).get(), std::nullopt);

    // The pair changes while the translation status is asked.
    script->onAsk = [target](const std::string& question) {
        if (question.rfind("status ", 0) == 0)
            test::given.set(target->theirLanguage, language("de"));
    };
    world.run([model] { return ModelTestAccess::prepareTranslationPair(*model); });
    EXPECT_EQ(ModelTestAccess::translationPair(*model).get(), std::nullopt);
    EXPECT_FALSE(model->translationReady.get());
    EXPECT_TRUE(world.takeLog().empty());
}

TEST(ModelReadiness, TheListeningNoticeSaysWhatIsMissingOrStartsListening)
{
    ModelWorld world;
    auto script = std::make_shared<Script>();
    auto model = scriptedModel(world, script);
    const CallLanguage their = model->theirLanguage.get();
    auto decide = [&] {
        world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
        world.run([model] { return ModelTestAccess::listeningReadinessNotice(*model); });
    };

    script->engines[their.id] = std::nullopt;
    decide();
    EXPECT_EQ(model->listeningStatus.get(),
              "本机无法识别" + their.displayName() + "，对方说话不会显示字幕；你说的话照常翻译");
    EXPECT_FALSE(ModelTestAccess::theirSpeechReady(*model).get());

    script->engines.clear();
    script->missingModels.insert(their.id);
    decide();
    EXPECT_EQ(model->listeningStatus.get(), "等待模型和语言包，完成后自动收听");
    EXPECT_TRUE(world.sessions.empty());

    // The model arrives: the next decision listens without being asked.
    script->missingModels.clear();
    decide();
    EXPECT_TRUE(model->isListening.get());
    EXPECT_EQ(world.sessions.size(), 1u);

    // A failure stays on show.
    world.run([model] { return ModelTestAccess::pauseListening(*model); });
    test::given.set(model->listeningFailed, true);
    decide();
    EXPECT_FALSE(model->isListening.get());
    EXPECT_EQ(model->listeningStatus.get(), "已暂停自动收听");
}

TEST(ModelReadiness, ACapturePermissionGrantedWhileListeningRestartsListening)
{
    ModelWorld world;
    world.captureStatus = AudioCapturePermission::Status::denied;
    auto model = world.make();
    world.run([model] { return ModelTestAccess::refreshCapturePermission(*model); });
    EXPECT_TRUE(ModelTestAccess::captureWasDenied(*model).get());
    EXPECT_TRUE(model->audioCaptureMissing.get());
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    world.run([model] { return ModelTestAccess::listeningReadinessNotice(*model); });
    EXPECT_EQ(model->listeningStatus.get(), "收听未开启 · 需要「系统录音」权限");

    world.captureStatus = AudioCapturePermission::Status::granted;
    std::vector<std::string> statuses;
    auto watch = model->listeningStatus.subscribe([&] { statuses.push_back(model->listeningStatus.get()); });
    world.run([model] { return ModelTestAccess::refreshCapturePermission(*model); });
    EXPECT_EQ(statuses, (Log{"已暂停自动收听", "正在开启自动收听…", "自动收听中 · 对方说话即记录并翻译"}));
    EXPECT_FALSE(ModelTestAccess::captureWasDenied(*model).get());
    EXPECT_FALSE(model->audioCaptureMissing.get());
    EXPECT_EQ(world.sessions.size(), 2u);

    // Granted before as well: nothing restarts.
    world.run([model] { return ModelTestAccess::refreshCapturePermission(*model); });
    EXPECT_EQ(world.sessions.size(), 2u);
}

TEST(ModelReadiness, TheMenusShowEachLanguagesReadinessAgainstTheOtherSide)
{
    ModelWorld world;
    auto script = std::make_shared<Script>();
    auto model = scriptedModel(world, script);
    test::given.set(model->myLanguage, language("zh-Hans")).set(model->theirLanguage, language("en"));
    EXPECT_EQ(model->languageMenuLabel(language("ko"), true), language("ko").displayName());

    script->engines["de"] = std::nullopt;
    script->engines["es"] = std::nullopt;
    script->missingModels.insert("fr");
    script->statuses["ko>en"] = TranslationStatus::unsupported;
    script->statuses["ko>zh-Hans"] = TranslationStatus::unsupported;
    script->statuses["es>zh-Hans"] = TranslationStatus::supported;
    script->statuses["de>en"] = TranslationStatus::supported;
    std::vector<std::size_t> writes;
    auto mine = ModelTestAccess::myMenu(*model).subscribe([&] { writes.push_back(script->asked.size()); });
    auto theirs = ModelTestAccess::theirMenu(*model).subscribe([&] { writes.push_back(script->asked.size()); });
    world.run([model] { return ModelTestAccess::refreshLanguageMenus(*model); });

    // Both menus change once, after every question.
    EXPECT_EQ(writes, (std::vector<std::size_t>{script->asked.size(), script->asked.size()}));
    EXPECT_EQ(script->asked.front(), "engine zh-Hans");
    EXPECT_EQ(ModelTestAccess::myMenu(*model).get().size(), 19u);
    EXPECT_EQ(ModelTestAccess::myMenu(*model).get().count("en"), 0u);
    EXPECT_EQ(ModelTestAccess::theirMenu(*model).get().count("zh-Hans"), 0u);

    auto label = [&](const std::string& id, bool isMine) { return model->languageMenuLabel(language(id), isMine); };
    auto name = [](const std::string& id) { return language(id).displayName(); };
    EXPECT_EQ(label("ja", true), name("ja"));
    EXPECT_EQ(label("ko", true), name("ko") + "  ·  不支持互译");
    EXPECT_EQ(label("fr", true), name("fr") + "  ·  需下载");
    // Without a recognizer my side can only be typed; their side goes
    // uncaptioned.
    EXPECT_EQ(label("de", true), name("de") + "  ·  只能打字 · 需下载");
    EXPECT_EQ(label("es", true), name("es") + "  ·  只能打字");
    EXPECT_EQ(label("de", false), name("de") + "  ·  只能单向");
    EXPECT_EQ(label("es", false), name("es") + "  ·  只能单向 · 需下载");
    // Facing a side that cannot be heard either, the choice is refused:
    // the menu says it cannot be recognized.
    test::given.set(model->theirEngine, std::nullopt);
    EXPECT_EQ(label("es", true), name("es") + "  ·  本机无法识别");
    EXPECT_EQ(label("ja", true), name("ja"));
    test::given.set(model->theirEngine, SpeechEngine::speech).set(model->myEngine, std::nullopt);
    EXPECT_EQ(label("de", false), name("de") + "  ·  本机无法识别");
    EXPECT_EQ(label("ko", false), name("ko") + "  ·  不支持互译");
    test::given.set(model->myEngine, SpeechEngine::speech);

    const auto choices = model->myLanguageChoices();
    EXPECT_EQ(choices.size(), 19u);
    EXPECT_EQ(std::count(choices.begin(), choices.end(), language("en")), 0);

    // A pair change during the walk drops both maps.
    AppModel* target = model.get();
    const std::string last = CallLanguage::all().back().id;
    script->onAsk = [target, last](const std::string& question) {
        if (question == "engine " + last)
            test::given.set(target->theirLanguage, language("ja"));
    };
    script->engines.clear();
    writes.clear();
    world.run([model] { return ModelTestAccess::refreshLanguageMenus(*model); });
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(label("de", true), name("de") + "  ·  只能打字 · 需下载");
}

// A first start on a pair nothing here translates (German ⇄ English where
// English ⇄ Spanish and Spanish ⇄ French are installed and English ⇄ French
// installable): nothing is offered for download, and the note names the
// pairs that translate now.
TEST(ModelReadiness, APairThisComputerCannotTranslateNamesThePairsItCan)
{
    ModelWorld world;
    auto model = world.make([](AppModel::Dependencies& d) {
        d.languageServices.translationStatus = [](std::string source,
                                                  std::string target) -> rt::Async<TranslationStatus> {
            const std::set<std::string> pair{source, target};
            if (pair == std::set<std::string>{"en", "es"} || pair == std::set<std::string>{"es", "fr"})
                co_return TranslationStatus::installed;
            if (pair == std::set<std::string>{"en", "fr"})
                co_return TranslationStatus::supported;
            co_return TranslationStatus::unsupported;
        };
    });
    test::given.set(model->myLanguage, language("de")).set(model->theirLanguage, language("en"));
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });

    EXPECT_FALSE(model->translationReady.get());
    EXPECT_FALSE(model->translationSupported.get());
    EXPECT_EQ(ModelTestAccess::translatablePairs(*model).get(),
              (std::vector<ModelTestAccess::LanguagePair>{{language("en"), language("es")},
                                                          {language("fr"), language("es")}}));
    const auto name = [](const char* id) { return language(id).displayName(); };
    EXPECT_EQ(model->untranslatablePairNote(),
              "这台电脑不能翻译" + name("en") + " ⇄ " + name("de") + "。能翻译的有：" + name("en") + " ⇄ " + name("es")
                  + "和" + name("fr") + " ⇄ " + name("es") + "。更多语言对来自发行版的 apertium 软件包。");

    // A pair that can be translated takes the note away.
    test::given.set(model->myLanguage, language("en")).set(model->theirLanguage, language("es"));
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    EXPECT_TRUE(model->translationReady.get());
    EXPECT_TRUE(model->translationSupported.get());
    EXPECT_TRUE(ModelTestAccess::translatablePairs(*model).get().empty());
    EXPECT_EQ(model->untranslatablePairNote(), "");
    test::given.set(model->theirLanguage, language("fr"));
    world.run([model] { return ModelTestAccess::refreshLanguageReadiness(*model); });
    EXPECT_FALSE(model->translationReady.get());
    EXPECT_TRUE(model->translationSupported.get()) << "an installable pack is offered as before";
}

}  // namespace
}  // namespace parlaro
