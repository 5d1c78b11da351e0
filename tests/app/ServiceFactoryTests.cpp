#include "app/ServiceFactory.h"

#include "model/ModelTestAccess.h"
#include "platform/Platform.h"
#include "platform/PreferredLanguages.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimSettingsStore.h"
#include "runtime/ManualRuntime.h"
#include "speech/CallLanguage.h"
#include "speech/LanguageServices.h"
#include "speech/RecognitionSessionFactory.h"
#include "speech/TranslationHost.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

using namespace parlaro;
using app::ServiceFactory;

namespace {

ServiceFactory::Options simOptions(SettingsStore& defaults, const test::TempDirectory& folder)
{
    return {.kind = ServiceFactory::Kind::sim,
            .defaults = &defaults,
            .historyFolder = folder / "history",
            .engineParts = freshEngineParts(),
            .preferredLanguages = std::vector<std::string>{"zh-Hans-CN"}};
}

// The process's environment with PARLARO_AUDIO as given.
sys::Environment withAudioChoice(std::optional<std::string> choice)
{
    return [process = sys::processEnvironment(), choice](const std::string& name) {
        return name == "PARLARO_AUDIO" ? choice : process(name);
    };
}

}  // namespace

TEST(ServiceFactory, EmptySettingsGiveTheFreshModelWithTheHistoryHeldBack)
{
    rt::ManualRuntime runtime;
    sim::SimSettingsStore defaults;
    test::TempDirectory folder;
    ServiceFactory factory(simOptions(defaults, folder));
    const auto model = factory.model();
    const auto [mine, theirs] = CallLanguage::systemDefault();

    EXPECT_EQ(model->myLanguage.get().id, mine.id);
    EXPECT_EQ(model->theirLanguage.get().id, theirs.id);
    EXPECT_FALSE(model->translateWhileHolding.get());
    EXPECT_TRUE(model->monitorInHeadphones.get());
    EXPECT_TRUE(model->systemMicEnabled.get());
    EXPECT_FALSE(factory.route()->snapshot());
    EXPECT_EQ(model->history.get(), nullptr) << "launch attaches the history, not the build";
    ASSERT_NE(factory.history(), nullptr);
    EXPECT_FALSE(model->settingsPage.get());
    EXPECT_EQ(model->status.get(), "");
    EXPECT_FALSE(model->isListening.get()) << "building starts nothing";
    EXPECT_FALSE(model->targetVoices.get().empty()) << "the voices of their language are listed at once";
    EXPECT_NE(factory.updates(), nullptr);
    EXPECT_EQ(factory.shortcuts().status(), ui::HoldShortcutCenter::Status::off);
    EXPECT_FALSE(std::filesystem::exists(folder / "history")) << "nothing is written while building";
}

TEST(ServiceFactory, StoredSettingsAreReadEachOnItsOwn)
{
    rt::ManualRuntime runtime;
    test::TempDirectory folder;
    const DefaultsData corrupt{'{', 'n', 'o', 't', ' ', 'j', 's', 'o', 'n'};

    sim::SimSettingsStore defaults;
    defaults.set("systemAudioRouteRecovery", corrupt);
    defaults.set("translateWhileHolding", true);
    defaults.set("myLanguage", std::string("klingon"));
    defaults.set("theirLanguage", std::string("es"));
    {
        ServiceFactory factory(simOptions(defaults, folder));
        const auto model = factory.model();
        EXPECT_FALSE(factory.route()->snapshot());
        EXPECT_TRUE(model->translateWhileHolding.get());
        EXPECT_FALSE(model->monitorInHeadphones.get());
        EXPECT_EQ(model->myLanguage.get().id, CallLanguage::systemDefault().first.id)
            << "an unknown language falls back alone";
        EXPECT_EQ(model->theirLanguage.get().id, "es");
    }
    EXPECT_EQ(defaults.get<DefaultsData>("systemAudioRouteRecovery"), corrupt) << "the record is left as it was";

    // A flag of the wrong type counts as absent.
    sim::SimSettingsStore wrongType;
    wrongType.set("translateWhileHolding", std::string("yes"));
    wrongType.set("systemMicEnabled", std::int64_t{0});
    ServiceFactory factory(simOptions(wrongType, folder));
    EXPECT_FALSE(factory.model()->translateWhileHolding.get());
    EXPECT_TRUE(factory.model()->monitorInHeadphones.get());
    EXPECT_TRUE(factory.model()->systemMicEnabled.get());
}

TEST(ServiceFactory, SimIsAMachineReadyForACall)
{
    rt::ManualRuntime runtime;
    sim::SimSettingsStore defaults;
    defaults.set("onboardingDone", true);
    test::TempDirectory folder;
    ServiceFactory factory(simOptions(defaults, folder));
    const auto model = factory.model();
    model->useHistory(factory.history());

    bool done = false;
    rt::spawn([model, &done]() -> rt::Async<void> {
        co_await model->start();
        done = true;
    });
    runtime.runUntilIdle();
    runtime.advance(1.0);

    EXPECT_TRUE(done);
    EXPECT_FALSE(model->showInstallSheet.get()) << "the virtual microphone is loaded";
    EXPECT_TRUE(model->isListening.get()) << model->listeningStatus.get();
    EXPECT_FALSE(model->errorMessage.get());
    // The simulated virtual microphone is listed under the name the device
    // page tells the user to pick, as the sound server's is.
    ASSERT_TRUE(ModelTestAccess::virtualMicDevice(*model).has_value());
    EXPECT_EQ(ModelTestAccess::virtualMicDevice(*model)->name, "Parlaro Microphone");
    // The simulated machine names its engines as simulated, never as the
    // products of another system.
    const std::vector<ModuleReport> rows = model->diagnosticRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].adapter, "Simulated hosted translation");
    EXPECT_EQ(rows[2].adapter, "Simulated speech synthesizer");
    EXPECT_EQ(rows[3].adapter, "Simulated call audio capture");
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::onDevice), "Simulated on-device recognizer");
    model->shutdown();
}

// As the real program does, the simulated machine speaks the language the
// user's locale names; only a caller that pins one gets another.
TEST(ServiceFactory, TheSimulatedMachineTakesTheInterfaceLanguageFromTheEnvironment)
{
    rt::ManualRuntime runtime;
    sim::SimSettingsStore defaults;
    test::TempDirectory folder;
    for (const auto& [locale, pinned, expected] :
         {std::tuple{"de_DE.UTF-8", false, "de-DE"}, std::tuple{"ar_EG.UTF-8", false, "ar-EG"},
          std::tuple{"de_DE.UTF-8", true, "zh-Hans-CN"}}) {
        SCOPED_TRACE(std::string(locale) + (pinned ? " pinned" : ""));
        auto options = simOptions(defaults, folder);
        options.environment = [lang = std::string(locale)](const std::string& name) -> std::optional<std::string> {
            return name == "LANG" ? std::optional<std::string>(lang) : std::nullopt;
        };
        if (!pinned)
            options.preferredLanguages.reset();
        ServiceFactory factory(std::move(options));
        EXPECT_EQ(platform().preferredLanguages->preferredLanguages(), std::vector<std::string>{expected});
    }
}

TEST(ServiceFactory, AHostThatOutlivesTheFactoryLetsGoOfItsSessionsFirst)
{
    rt::ManualRuntime runtime;
    sim::SimSettingsStore defaults;
    test::TempDirectory folder;
    auto options = simOptions(defaults, folder);
    std::shared_ptr<TranslationHost> host = options.engineParts->translationHost;
    {
        ServiceFactory factory(std::move(options));
        std::optional<std::string> result;
        rt::spawn([host, &result]() -> rt::Async<void> { result = co_await host->translate("hello", "en", "es"); });
        runtime.runUntilIdle();
        ASSERT_EQ(result, std::optional<std::string>("hello"));
        EXPECT_EQ(host->store().slots.get().size(), 1u);
    }
    // The process-wide host lives until exit, past the platform that served
    // its sessions; letting go of them then would reach a freed runner.
    EXPECT_TRUE(host->store().slots.get().empty());
    host.reset();
}

TEST(ServiceFactory, WithoutASoundServerTheRealGraphIsStillBuiltNamesItsEnginesAndSaysSoOnce)
{
    rt::ManualRuntime runtime;
    test::TempDirectory folder;
    // Only the environment the factory is given chooses the backend.
    test::ScopedEnvironment audio("PARLARO_AUDIO", "sim");
    test::ScopedEnvironment server("PULSE_SERVER", ("unix:" + (folder / "nobody" / "native").string()).c_str());
    sim::SimSettingsStore defaults;

    testing::internal::CaptureStderr();
    {
        ServiceFactory factory({.kind = ServiceFactory::Kind::real,
                                .defaults = &defaults,
                                .historyFolder = folder / "history",
                                .engineParts = freshEngineParts(),
                                .environment = withAudioChoice(std::nullopt)});

        EXPECT_FALSE(factory.audioServerReachable());
        EXPECT_NE(dynamic_cast<sys::PulseAudioSystem*>(&factory.audioSystem()), nullptr) << "never the sim in secret";
        ASSERT_NE(factory.model(), nullptr);
        EXPECT_TRUE(ModelTestAccess::platform(*factory.model()).listDevices().empty());
        EXPECT_EQ(factory.model()->history.get(), nullptr);

        // The status page names the engines this graph runs on.
        const std::vector<ModuleReport> rows = factory.model()->diagnosticRows();
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows[0], (ModuleReport{ModuleID::translation, "apertium", rows[0].state}));
        EXPECT_EQ(rows[2], (ModuleReport{ModuleID::speech, "espeak-ng", rows[2].state}));
        EXPECT_EQ(rows[3], (ModuleReport{ModuleID::callAudio, "PulseAudio monitor", rows[3].state}));
        for (SpeechEngine engine : SpeechEngines::allCases)
            EXPECT_EQ(SpeechEngines::facilityLabel(engine), "pocketsphinx");
        EXPECT_EQ(unsupportedEngineError(SpeechEngine::dictation).localizedDescription(),
                  "本机不支持pocketsphinx（SR-1）");
    }
    // The names go with the factory.
    EXPECT_EQ(SpeechEngines::facilityLabel(SpeechEngine::onDevice), "Simulated on-device recognizer");
    const std::string said = testing::internal::GetCapturedStderr();
    std::size_t count = 0;
    for (std::size_t at = said.find("no audio server"); at != std::string::npos;
         at = said.find("no audio server", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << said;
    EXPECT_NE(said.find("nobody"), std::string::npos) << "names the server it tried: " << said;
}

TEST(ServiceFactory, ARealGraphIsRealWhateverTheAudioVariableSays)
{
    // PARLARO_AUDIO=sim is main()'s choice of the whole simulated machine;
    // a real graph never swaps in simulated sound under the real engines.
    rt::ManualRuntime runtime;
    test::TempDirectory folder;
    test::ScopedEnvironment server("PULSE_SERVER", ("unix:" + (folder / "nobody" / "native").string()).c_str());
    sim::SimSettingsStore defaults;

    testing::internal::CaptureStderr();
    {
        ServiceFactory factory({.kind = ServiceFactory::Kind::real,
                                .defaults = &defaults,
                                .historyFolder = folder / "history",
                                .engineParts = freshEngineParts(),
                                .environment = withAudioChoice("sim")});
        EXPECT_NE(dynamic_cast<sys::PulseAudioSystem*>(&factory.audioSystem()), nullptr);
        EXPECT_FALSE(factory.audioServerReachable());
        ASSERT_NE(factory.model(), nullptr);
        EXPECT_EQ(factory.model()->diagnosticRows()[0].adapter, "apertium");
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no audio server"), std::string::npos) << said;
}
