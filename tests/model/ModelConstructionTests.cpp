#include "ModelWorld.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "model/StoredLanguages.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;

CallLanguage row(const std::string& id)
{
    return *CallLanguage::find(id);
}

std::pair<std::string, std::string> ids(const std::pair<CallLanguage, CallLanguage>& pair)
{
    return {pair.first.id, pair.second.id};
}

VoiceOption voice(const std::string& id, std::int64_t quality = 1)
{
    return {.id = id, .label = id, .quality = quality, .name = id, .language = "en-US"};
}

TEST(ModelConstruction, EmptySettingsGiveTheFirstStartValues)
{
    ModelWorld world;
    world.voices["en"] = {voice("com.voice.ava", 3), voice("com.voice.alex")};
    auto model = world.make();

    EXPECT_FALSE(model->translateWhileHolding());
    EXPECT_TRUE(model->monitorInHeadphones.get());
    EXPECT_TRUE(model->systemMicEnabled.get());
    EXPECT_TRUE(model->confirmBeforeSend.get());
    EXPECT_TRUE(ModelTestAccess::metersVisible(*model)());
    EXPECT_FALSE(ModelTestAccess::metersEnabled(*model).get());
    EXPECT_FALSE(model->freeListening());
    EXPECT_EQ(ModelTestAccess::limits(*model).hearTestSeconds, 3.0);
    EXPECT_EQ(ModelTestAccess::limits(*model).driverDetectTimeout, 15.0);
    EXPECT_EQ(ModelTestAccess::limits(*model).recognitionTimeout, 12.0);
    EXPECT_EQ(model->callMicrophoneRoute.get(), CallMicrophoneRoute::unknown);
    EXPECT_EQ(model->listeningStatus.get(), "准备自动收听…");
    EXPECT_EQ(model->myEngine.get(), SpeechEngine::speech);
    EXPECT_EQ(model->theirEngine.get(), SpeechEngine::speech);
    EXPECT_EQ(model->hearTest.get(), AppModel::HearTest::idle());
    EXPECT_TRUE(model->micAuthorized.get());
    EXPECT_TRUE(model->isIdle());
    EXPECT_TRUE(model->canStartSpeaking());
    EXPECT_FALSE(model->isShowingSheet());
    EXPECT_FALSE(model->virtualMicStatus());
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // The sim system prefers Simplified Chinese; the other side is English,
    // whose voices are the ones offered.
    EXPECT_EQ(ids({model->myLanguage.get(), model->theirLanguage.get()}),
              (std::pair<std::string, std::string>{"zh-Hans", "en"}));
    EXPECT_EQ(model->targetVoices.get(), world.voices["en"]);
    EXPECT_TRUE(ModelTestAccess::voiceChoices(*model).get().empty());
    // Building the model writes nothing.
    EXPECT_TRUE(world.platform.defaults.snapshot().empty());
}

TEST(ModelConstruction, StoredPreferencesAreReadOnlyWithTheirOwnType)
{
    {
        ModelWorld world;
        world.platform.defaults.set("translateWhileHolding", true);
        world.platform.defaults.set("systemMicEnabled", false);
        world.microphoneAuthorized = false;
        auto model = world.make();
        EXPECT_TRUE(model->translateWhileHolding());
        EXPECT_FALSE(model->monitorInHeadphones.get());
        EXPECT_FALSE(model->systemMicEnabled.get());
        EXPECT_FALSE(model->micAuthorized.get());
    }
    {
        // Texts that look like Booleans count as absent.
        ModelWorld world;
        world.platform.defaults.set("translateWhileHolding", "true");
        world.platform.defaults.set("systemMicEnabled", "false");
        auto model = world.make();
        EXPECT_FALSE(model->translateWhileHolding());
        EXPECT_TRUE(model->monitorInHeadphones.get());
        EXPECT_TRUE(model->systemMicEnabled.get());
    }
    {
        // Stored false: translate-while-holding off, so the headphones hear.
        ModelWorld world;
        world.platform.defaults.set("translateWhileHolding", false);
        auto model = world.make();
        EXPECT_FALSE(model->translateWhileHolding());
        EXPECT_TRUE(model->monitorInHeadphones.get());
    }
}

TEST(ModelConstruction, LanguagesFallBackOnTheSystemPairSideBySide)
{
    ModelWorld world;
    auto& defaults = world.platform.defaults;
    auto& languages = world.platform.preferredLanguages;
    using Pair = std::pair<std::string, std::string>;

    languages.setPreferredLanguages({"ja-JP"});
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"ja", "en"}));
    languages.setPreferredLanguages({"en-GB"});
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"en", "es"}));
    languages.setPreferredLanguages({});
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"en", "es"}));

    // Stored ids win; an unknown one falls back on its own side only.
    languages.setPreferredLanguages({"ja-JP"});
    defaults.set("myLanguage", "klingon");
    defaults.set("theirLanguage", "de");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"ja", "de"}));
    defaults.set("myLanguage", "ko");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"ko", "de"}));
    // Not a text: as absent.
    defaults.set("theirLanguage", std::int64_t{3});
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"ko", "en"}));
}

TEST(ModelConstruction, TheTwoSidesNeverComeOutTheSame)
{
    ModelWorld world;
    auto& defaults = world.platform.defaults;
    auto& languages = world.platform.preferredLanguages;
    using Pair = std::pair<std::string, std::string>;

    // Mine stored as English, theirs falls back on the system's English.
    languages.setPreferredLanguages({"ja-JP"});
    defaults.set("myLanguage", "en");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"en", "es"}));
    defaults.set("myLanguage", "ja");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"ja", "en"}));

    // Theirs stored as the system's own language: mine falls back to English.
    defaults.remove("myLanguage");
    defaults.set("theirLanguage", "ja");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"en", "ja"}));
    languages.setPreferredLanguages({"en-US"});
    defaults.set("theirLanguage", "en");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"es", "en"}));

    // Both stored and equal: mine stays.
    defaults.set("myLanguage", "fr");
    defaults.set("theirLanguage", "fr");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"fr", "en"}));
    defaults.set("myLanguage", "en");
    defaults.set("theirLanguage", "en");
    EXPECT_EQ(ids(storedLanguagePair(defaults)), (Pair{"en", "es"}));

    // The model starts with the mended pair and stores nothing.
    languages.setPreferredLanguages({"ja-JP"});
    defaults.set("myLanguage", "en");
    defaults.remove("theirLanguage");
    auto model = world.make();
    EXPECT_EQ(model->myLanguage.get(), row("en"));
    EXPECT_EQ(model->theirLanguage.get(), row("es"));
    EXPECT_FALSE(defaults.has("theirLanguage"));
}

TEST(ModelConstruction, VoicePicksMoveTheOldEnglishPickOnce)
{
    using Map = std::map<std::string, std::string>;
    const auto stored = [](const ModelWorld& world) -> std::optional<Map> {
        auto dictionary = world.platform.defaults.get<DefaultsDictionary>("voiceByLanguage");
        if (!dictionary)
            return std::nullopt;
        Map map;
        for (const auto& [key, value] : *dictionary)
            map[key] = *value.getIf<std::string>();
        return map;
    };
    {
        ModelWorld world;
        world.platform.defaults.set("englishVoiceIdentifier", "V");
        auto model = world.make();
        EXPECT_EQ(ModelTestAccess::voiceChoices(*model).get(), (Map{{"en", "V"}}));
        EXPECT_EQ(stored(world), (Map{{"en", "V"}}));
        EXPECT_FALSE(world.platform.defaults.has("englishVoiceIdentifier"));
    }
    {
        // An existing pick for English wins; the old key still goes.
        ModelWorld world;
        world.platform.defaults.set("voiceByLanguage", DefaultsDictionary{{"en", "A"}, {"ja", "K"}});
        world.platform.defaults.set("englishVoiceIdentifier", "V");
        auto model = world.make();
        EXPECT_EQ(ModelTestAccess::voiceChoices(*model).get(), (Map{{"en", "A"}, {"ja", "K"}}));
        EXPECT_EQ(stored(world), (Map{{"en", "A"}, {"ja", "K"}}));
        EXPECT_FALSE(world.platform.defaults.has("englishVoiceIdentifier"));
    }
    {
        // An empty old pick adds nothing, but the map is written all the same.
        ModelWorld world;
        world.platform.defaults.set("englishVoiceIdentifier", "");
        auto model = world.make();
        EXPECT_TRUE(ModelTestAccess::voiceChoices(*model).get().empty());
        EXPECT_EQ(stored(world), Map{});
        EXPECT_FALSE(world.platform.defaults.has("englishVoiceIdentifier"));
    }
    {
        // No old key: nothing is written.
        ModelWorld world;
        world.platform.defaults.set("voiceByLanguage", DefaultsDictionary{{"de", "D"}});
        auto model = world.make();
        EXPECT_EQ(ModelTestAccess::voiceChoices(*model).get(), (Map{{"de", "D"}}));
        EXPECT_EQ(world.platform.defaults.snapshot().size(), 1u);
    }
    {
        // One value that is not a text discards the stored map.
        ModelWorld world;
        world.platform.defaults.set("voiceByLanguage", DefaultsDictionary{{"de", "D"}, {"fr", std::int64_t{2}}});
        auto model = world.make();
        EXPECT_TRUE(ModelTestAccess::voiceChoices(*model).get().empty());
    }
}

TEST(ModelConstruction, AVoicePickMoveThatCannotBeStoredKeepsTheOldPick)
{
    ModelWorld world;
    world.platform.defaults.set("englishVoiceIdentifier", "V");
    world.platform.defaults.failWrites(DomainError("Settings", 5, "磁盘已满"));
    auto model = world.make();

    // The pick is used now and moved at a later start.
    EXPECT_EQ(ModelTestAccess::voiceChoices(*model).get(), (std::map<std::string, std::string>{{"en", "V"}}));
    EXPECT_EQ(model->errorMessage.get(), "磁盘已满");
    EXPECT_EQ(world.platform.defaults.get<std::string>("englishVoiceIdentifier"), "V");
    EXPECT_FALSE(world.platform.defaults.has("voiceByLanguage"));
}

TEST(ModelConstruction, MissingComponentsAreRefused)
{
    ModelWorld world;
    EXPECT_THROW(world.make([](AppModel::Dependencies& d) { d.defaults = nullptr; }), std::invalid_argument);
    EXPECT_THROW(world.make([](AppModel::Dependencies& d) { d.incoming = nullptr; }), std::invalid_argument);
    EXPECT_THROW(world.make([](AppModel::Dependencies& d) { d.observeDidWake = nullptr; }), std::invalid_argument);
    EXPECT_THROW(world.make([](AppModel::Dependencies& d) { d.languageServices.downloadSpeech = nullptr; }),
                 std::invalid_argument);
    // The call detection closures, the preflight and the system route may be absent.
    EXPECT_NO_THROW(world.make([](AppModel::Dependencies& d) {
        d.callRouteInspector = nullptr;
        d.capturePermission = nullptr;
        d.systemRoute = nullptr;
    }));
}

TEST(ModelObservation, AFieldNotifiesOnceForEachChangeAndNeverForTheSameValue)
{
    ModelWorld world;
    auto model = world.make();
    int fieldChanges = 0;
    int modelChanges = 0;
    auto field = model->status.subscribe([&] { ++fieldChanges; });
    auto any = model->subscribe([&] { ++modelChanges; });

    test::given.set(model->status, "");
    EXPECT_EQ(fieldChanges, 0);
    test::given.set(model->status, "已停止播放").set(model->status, "已停止播放");
    EXPECT_EQ(fieldChanges, 1);
    EXPECT_EQ(modelChanges, 1);

    int reacting = 0;
    auto visible = ModelTestAccess::metersVisible(*model).subscribe([&] { ++reacting; });
    model->setMetersVisible(true);
    model->setMetersVisible(false);
    model->setMetersVisible(false);
    EXPECT_EQ(reacting, 1);
    EXPECT_EQ(modelChanges, 2);
}

TEST(ModelObservation, TranslateWhileHoldingIsWrittenOnEveryStore)
{
    ModelWorld world;
    auto model = world.make();
    int changes = 0;
    auto watch = model->translateWhileHolding.subscribe([&] { ++changes; });

    model->setTranslateWhileHolding(false);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(world.platform.defaults.get<bool>("translateWhileHolding"), false);
    EXPECT_TRUE(model->monitorInHeadphones.get());

    model->setTranslateWhileHolding(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(world.platform.defaults.get<bool>("translateWhileHolding"), true);
    EXPECT_FALSE(model->monitorInHeadphones.get());

    // A store that refuses leaves the value in memory and says why.
    world.platform.defaults.failWrites(DomainError("Settings", 5, "磁盘已满"));
    model->setTranslateWhileHolding(false);
    EXPECT_FALSE(model->translateWhileHolding());
    EXPECT_TRUE(model->monitorInHeadphones.get());
    EXPECT_EQ(model->errorMessage.get(), "磁盘已满");
}

TEST(ModelObservation, TheSelectedInputKeepsItsUID)
{
    ModelWorld world;
    auto model = world.make();
    const AudioDevice usb = world.addMicrophone(10, "usb-mic", "USB");
    const AudioDevice builtIn = world.addMicrophone(11, "built-in", "Built-in");
    test::given.set(model->inputDevices, {usb, builtIn});

    ModelTestAccess::setSelectedInputID(*model, 11);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), "built-in");
    // An id not listed (a device that has just gone) keeps the UID.
    ModelTestAccess::setSelectedInputID(*model, 99);
    EXPECT_EQ(model->selectedInputID(), 99u);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), "built-in");
    ModelTestAccess::setSelectedInputID(*model, std::nullopt);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), std::nullopt);

    // The same id stored again still brings the UID in line.
    ModelTestAccess::setSelectedInputID(*model, 10);
    test::given.set(ModelTestAccess::selectedMicUID(*model), "stale");
    ModelTestAccess::setSelectedInputID(*model, 10);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), "usb-mic");
}

}  // namespace
}  // namespace parlaro
