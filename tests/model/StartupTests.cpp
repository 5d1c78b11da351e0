#include "ModelWorld.h"

#include "audio/AudioDevices.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "runtime/Continuation.h"
#include "runtime/Sleep.h"
#include "support/FakeRecognitionSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

// The output list a device refresh shows: every device with output channels.
void showOutputs(AppModel& model)
{
    std::vector<AudioDevice> outputs;
    for (const AudioDevice& device : AudioDevices::allDevices()) {
        if (device.outputChannels > 0)
            outputs.push_back(device);
    }
    test::given.set(model.outputDevices, outputs);
}

void storeSnapshot(ModelWorld& world, const SystemAudioRoute::Snapshot& snapshot)
{
    const std::string json = snapshot.json();
    world.platform.defaults.set(SystemAudioRoute::recoveryKey, DefaultsData(json.begin(), json.end()));
}

std::size_t deviceListListeners(ModelWorld& world)
{
    return world.audio.listenerCount(audioSystemObject, {"dev#"_fcc, AudioScope::global, 0});
}

TEST(ModelStart, FirstLaunchOpensOnlyTheWizard)
{
    ModelWorld world;  // no driver at all
    auto model = world.make();
    world.run([&] { return model->start(); });

    EXPECT_TRUE(model->showWizard.get());
    EXPECT_FALSE(model->showInstallSheet.get());
    EXPECT_FALSE(model->showMicCheck.get());
    EXPECT_TRUE(model->isShowingSheet());
    EXPECT_TRUE(ModelTestAccess::sessionPrepared(*model).get());
    EXPECT_TRUE(ModelTestAccess::deviceWatcher(*model) != nullptr);

    // Closing the wizard stores that onboarding is done.
    model->finishOnboarding();
    EXPECT_FALSE(model->showWizard.get());
    EXPECT_EQ(world.platform.defaults.get<bool>("onboardingDone"), true);
}

TEST(ModelStart, LaterLaunchesAlwaysCheckTheMicrophone)
{
    {
        // The driver is missing: the installation shows first, the check after it.
        ModelWorld world;
        world.platform.defaults.set("onboardingDone", true);
        auto model = world.make();
        test::given.set(model->micCheckReason, "说话前，请先确认要用的麦克风。");
        world.run([&] { return model->start(); });
        EXPECT_FALSE(model->showWizard.get());
        EXPECT_TRUE(model->showInstallSheet.get());
        EXPECT_TRUE(model->showMicCheck.get());
        EXPECT_EQ(model->micCheckReason.get(), std::nullopt);
    }
    {
        ModelWorld world;
        world.platform.defaults.set("onboardingDone", true);
        world.addVirtualDriver();
        auto model = world.make();
        showOutputs(*model);
        ASSERT_TRUE(model->virtualMicStatus());
        world.run([&] { return model->start(); });
        EXPECT_FALSE(model->showInstallSheet.get());
        EXPECT_TRUE(model->showMicCheck.get());
        EXPECT_FALSE(model->showWizard.get());
    }
    {
        // A driver that needs an update raises the installation too.
        ModelWorld world;
        world.platform.defaults.set("onboardingDone", true);
        world.addVirtualDriver();
        auto model = world.make([](AppModel::Dependencies& d) { d.driverUpdateCheck = [] { return true; }; });
        showOutputs(*model);
        world.run([&] { return model->start(); });
        EXPECT_TRUE(model->virtualMicNeedsUpdate.get());
        EXPECT_TRUE(model->showInstallSheet.get());
    }
    {
        // A string "true" is no Boolean: onboarding counts as not done.
        ModelWorld world;
        world.platform.defaults.set("onboardingDone", "true");
        auto model = world.make();
        world.run([&] { return model->start(); });
        EXPECT_TRUE(model->showWizard.get());
    }
}

TEST(ModelStart, TheVirtualDriverCountsOnlyWithBothDevices)
{
    ModelWorld world;
    auto model = world.make();
    world.addOutput(51, injectionUID, "injection");
    showOutputs(*model);
    EXPECT_FALSE(model->virtualMicStatus());

    // The microphone record found by a refresh counts as well.
    test::given.set(ModelTestAccess::virtualInputDevice(*model),
                    AudioDevice{.id = 50, .uid = virtualMicUID, .inputChannels = 2});
    EXPECT_TRUE(model->virtualMicStatus());
    EXPECT_EQ(ModelTestAccess::virtualMicDevice(*model)->id, 50u);
    EXPECT_EQ(model->virtualOutputDevice(), std::nullopt);
}

TEST(ModelStart, ThePhysicalDefaultInputIsTheLaunchInput)
{
    struct Case {
        const char* what;
        sim::SimDevice device;
        std::optional<std::string> launchInput;
    };
    const std::vector<Case> cases{
        {"a physical microphone", {.id = 20, .uid = "usb-mic", .name = "USB", .inputBuffers = {1}}, "usb-mic"},
        {"the virtual microphone",
         {.id = 20, .uid = virtualMicUID, .name = "v", .inputBuffers = {2}, .outputBuffers = {2}},
         std::nullopt},
        {"the injection device", {.id = 20, .uid = injectionUID, .name = "i", .inputBuffers = {2}}, std::nullopt},
        {"a virtual-transport device",
         {.id = 20, .uid = "loopback", .name = "Loop", .inputBuffers = {2}, .transportType = "virt"_fcc},
         std::nullopt},
        {"a device without input",
         {.id = 20, .uid = "speakers", .name = "Speakers", .outputBuffers = {2}},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        // Switched off, so the armed takeover stays pending.
        world.platform.defaults.set("systemMicEnabled", false);
        world.audio.addDevice(c.device);
        world.setDefaultInput(20);
        auto model = world.make();
        ModelTestAccess::prepareSession(*model);
        EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), c.launchInput);
        EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
    }
}

TEST(ModelStart, ARouteLeftByAnEarlierRunIsPutBack)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(50);
    storeSnapshot(world, {.oldInput = "usb-mic", .routedInput = virtualMicUID});
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);

    // Put back first; the takeover then records the microphone afresh.
    EXPECT_EQ(world.takeLog(), (Log{"route default input 10", "route default input 50"}));
    EXPECT_EQ(world.audio.defaultDevice(true), 50u);
    ASSERT_TRUE(world.route->snapshot());
    EXPECT_EQ(world.route->snapshot()->oldInput, "usb-mic");
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), "usb-mic");
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
}

TEST(ModelStart, ARecordWithoutAnEarlierInputGivesNoLaunchInput)
{
    ModelWorld world;
    world.addVirtualDriver();
    world.setDefaultInput(50);
    storeSnapshot(world, {.oldOutput = "speakers", .routedOutput = injectionUID});
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), std::nullopt);
}

TEST(ModelStart, ARestoreThatFailsIsShownAndStartUpGoesOn)
{
    ModelWorld world;
    world.addVirtualDriver();
    world.setDefaultInput(50);
    // The earlier microphone is gone; the default stays the virtual one.
    storeSnapshot(world, {.oldInput = "usb-mic", .routedInput = virtualMicUID});
    auto model = world.make();
    world.run([&] { return model->start(); });

    EXPECT_EQ(model->errorMessage.get(), "系统麦克风未能恢复：原麦克风未连接（VM-7）");
    // The remembered microphone is still the one to give back later.
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), "usb-mic");
    EXPECT_TRUE(model->showWizard.get());
    EXPECT_TRUE(ModelTestAccess::deviceWatcher(*model) != nullptr);

    // Preparing again changes nothing, even with another default input.
    world.addMicrophone(12, "other", "Other");
    world.setDefaultInput(12);
    model->dismissError();
    ModelTestAccess::prepareSession(*model);
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), "usb-mic");
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
}

TEST(ModelStart, WatchingStartsOnce)
{
    ModelWorld world;
    int observed = 0;
    auto model = world.make([&](AppModel::Dependencies& d) {
        d.callRouteInspector = [](std::optional<AudioObjectId>) { return CallMicrophoneRoute::idle; };
        d.callObserver = [&](std::function<void()>) { ++observed; };
    });
    ModelTestAccess::startWatching(*model);
    const auto watcher = ModelTestAccess::deviceWatcher(*model);
    ModelTestAccess::startWatching(*model);

    EXPECT_EQ(ModelTestAccess::deviceWatcher(*model), watcher);
    EXPECT_TRUE(watcher->isWatching());
    EXPECT_EQ(deviceListListeners(world), 1u);
    EXPECT_TRUE(ModelTestAccess::serviceWatcher(*model) != nullptr);
    EXPECT_EQ(world.wakeHandlers.size(), 1u);
    EXPECT_TRUE(ModelTestAccess::callWatching(*model).get());
    EXPECT_EQ(observed, 1);
    world.runtime.runUntilIdle();
}

TEST(ModelStart, WithoutCallDetectionNoCallIsWatched)
{
    ModelWorld world;
    int observed = 0;
    auto model =
        world.make([&](AppModel::Dependencies& d) { d.callObserver = [&](std::function<void()>) { ++observed; }; });
    ModelTestAccess::startWatching(*model);
    EXPECT_FALSE(ModelTestAccess::callWatching(*model).get());
    EXPECT_EQ(observed, 0);
}

TEST(ModelShutdown, StopsEverythingInOrderAndPutsTheMicrophoneBack)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    auto model = world.make([](AppModel::Dependencies& d) {
        d.callRouteInspector = [](std::optional<AudioObjectId>) { return CallMicrophoneRoute::idle; };
    });
    world.run([&] { return model->start(); });
    // The takeover, as a device refresh makes it.
    ModelTestAccess::systemRoute(*model)->routeInput(AudioDevice{.id = 50, .uid = virtualMicUID, .inputChannels = 2},
                                                     ModelTestAccess::launchInputUID(*model).get());
    ASSERT_EQ(world.audio.defaultDevice(true), 50u);

    // What is running when the application quits.
    auto log = world.log;
    const auto logOnCancel = [log](const char* entry) {
        return rt::spawn([log, entry]() -> rt::Async<void> {
            rt::CancellationHandler onCancel([log, entry] { log->push_back(entry); });
            co_await rt::sleepFor(std::numeric_limits<double>::infinity());
        });
    };
    ModelTestAccess::callPoll(*model) = logOnCancel("poll cancelled");
    ModelTestAccess::callRecheck(*model) = logOnCancel("recheck cancelled");
    ModelTestAccess::driverWatch(*model) =
        std::shared_ptr<void>(nullptr, [log](void*) { log->push_back("driver watch released"); });
    ModelTestAccess::headphoneRateWatch(*model) =
        std::shared_ptr<void>(nullptr, [log](void*) { log->push_back("rate watch released"); });
    test::given.set(model->callSpeakerRoute, ModelTestAccess::SpeakerRoute{51, 30});
    ModelTestAccess::holdTask(ModelTestAccess::hold(*model)) = logOnCancel("hold cancelled");
    test::given.set(model->isHoldingToTalk, true).set(model->isListening, true);
    test::given.set(model->originalVoiceOn, true).set(ModelTestAccess::forwardingActive(*model), true);
    world.meters->micLevel.set(0.5f);
    world.runtime.runUntilIdle();
    world.takeLog();

    const rt::Uuid session = ModelTestAccess::listeningSession(*model).get();
    std::vector<rt::Subscription> watches;
    watches.push_back(
        ModelTestAccess::listeningSession(*model).subscribe([log] { log->push_back("new listening session"); }));
    watches.push_back(model->isListening.subscribe([log] { log->push_back("not listening"); }));
    watches.push_back(world.meters->micLevel.subscribe([log] { log->push_back("meters stopped"); }));
    watches.push_back(model->callSpeakerRoute.subscribe([log] { log->push_back("no speaker route"); }));
    ASSERT_EQ(deviceListListeners(world), 1u);
    auto watcher = ModelTestAccess::deviceWatcher(*model);

    model->shutdown();

    EXPECT_EQ(world.takeLog(),
              (Log{"poll cancelled", "recheck cancelled", "driver watch released", "rate watch released",
                   "callSpeaker stop", "no speaker route", "hold cancelled", "recorder stopCapture", "speaker stop",
                   "new listening session", "capture stopAndWait", "incoming drop", "not listening", "directVoice stop",
                   "meters stopped", "route default input 10"}));
    EXPECT_FALSE(ModelTestAccess::callPoll(*model));
    EXPECT_FALSE(ModelTestAccess::callRecheck(*model));
    EXPECT_NE(ModelTestAccess::listeningSession(*model).get(), session);
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());
    EXPECT_FALSE(model->originalVoiceOn.get());
    EXPECT_EQ(model->status.get(), "已取消录音，未发送");
    EXPECT_EQ(ModelTestAccess::deviceWatcher(*model), nullptr);
    EXPECT_EQ(ModelTestAccess::serviceWatcher(*model), nullptr);
    EXPECT_FALSE(watcher->isWatching());
    EXPECT_EQ(deviceListListeners(world), 0u);
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
    EXPECT_FALSE(world.platform.defaults.has(SystemAudioRoute::recoveryKey));
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    world.runtime.runUntilIdle();
}

TEST(ModelShutdown, ALateFarEndResultFindsANewSession)
{
    ModelWorld world;
    auto model = world.make();
    auto session = std::make_shared<test::FakeRecognitionSession>();
    world.incoming->session = session;
    const rt::Uuid started = ModelTestAccess::listeningSession(*model).get();
    model->shutdown();
    // A callback stamped with the old token no longer matches, and the
    // session was let go without being finished or cancelled.
    EXPECT_NE(ModelTestAccess::listeningSession(*model).get(), started);
    EXPECT_EQ(world.incoming->session, nullptr);
    EXPECT_TRUE(session->calls.empty());
    // Nothing to cancel or restore: the other steps are harmless.
    EXPECT_FALSE(model->isListening.get());
    EXPECT_EQ(model->status.get(), "");
}

TEST(ModelHoldPreferences, TranslateWhileHoldingMovesTheHeadphonesAndEndsFreeListening)
{
    ModelWorld world;
    auto model = world.make();

    model->setTranslateWhileHolding(true);
    EXPECT_EQ(world.platform.defaults.get<bool>("translateWhileHolding"), true);
    EXPECT_FALSE(model->monitorInHeadphones.get());

    // Free listening is on: a hold runs.
    ModelTestAccess::setFreeListening(*model, true);
    test::given.set(model->isHoldingToTalk, true);
    world.takeLog();
    model->setTranslateWhileHolding(false);
    EXPECT_FALSE(model->freeListening());
    EXPECT_FALSE(model->isHoldingToTalk.get());
    EXPECT_TRUE(model->monitorInHeadphones.get());
    EXPECT_EQ(model->status.get(), "正在结束录音…");
    EXPECT_EQ(world.takeLog(), (Log{"recorder stopCapture"}));
}

TEST(ModelHoldPreferences, FreeListeningIsRefusedWhileTheMicrophoneIsBusy)
{
    ModelWorld world;
    auto model = world.make();

    // Translate-while-holding is off.
    model->freeListeningDidChange(true);
    EXPECT_FALSE(model->freeListening());

    model->setTranslateWhileHolding(true);
    for (auto* busy :
         {&model->isSpeaking, &model->isTranslatingDraft, &ModelTestAccess::hold(*model).isStartingRecording,
          &model->isRecording, &model->isHearTesting}) {
        test::given.set(*busy, true);
        EXPECT_FALSE(model->canStartSpeaking());
        model->freeListeningDidChange(true);
        EXPECT_FALSE(model->freeListening());
        test::given.set(*busy, false);
    }
    EXPECT_TRUE(world.log->empty());

    // Switching it off ends the hold.
    ModelTestAccess::setFreeListening(*model, true);
    test::given.set(model->isHoldingToTalk, true);
    model->freeListeningDidChange(false);
    EXPECT_FALSE(model->freeListening());
    EXPECT_FALSE(model->isHoldingToTalk.get());
    // Asking for what is already so does nothing.
    test::given.set(model->isHoldingToTalk, true);
    model->freeListeningDidChange(false);
    EXPECT_TRUE(model->isHoldingToTalk.get());
}

TEST(ModelSheets, DismissingClosesEverySheetAndTheAlert)
{
    ModelWorld world;
    auto model = world.make();
    model->openInstallSheet();
    test::given.set(model->showMicCheck, true).set(model->showWizard, true);
    model->showError("x");
    test::given.set(model->pendingLanguageChange,
                    ModelTestAccess::PendingLanguageChange{
                        *CallLanguage::find("ja"), *CallLanguage::find("en"), {"日语语音识别模型"}});
    model->dismissSheets();
    EXPECT_FALSE(model->isShowingSheet());
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(model->pendingLanguageChange.get(), std::nullopt);

    // Onboarding that cannot be stored still closes the wizard, and says why.
    world.platform.defaults.failWrites(DomainError("Settings", 5, "磁盘已满"));
    test::given.set(model->showWizard, true);
    model->finishOnboarding();
    EXPECT_FALSE(model->showWizard.get());
    EXPECT_EQ(model->errorMessage.get(), "磁盘已满");
}

TEST(ModelRelease, StopsNothingAndLaterCallbacksDoNothing)
{
    ModelWorld world;
    std::function<void()> callChanged;
    auto model = world.make([&](AppModel::Dependencies& d) {
        d.callRouteInspector = [](std::optional<AudioObjectId>) { return CallMicrophoneRoute::idle; };
        d.callObserver = [&](std::function<void()> onChange) { callChanged = std::move(onChange); };
    });
    world.run([&] { return model->start(); });
    world.takeLog();
    std::weak_ptr<AppModel> weak = model;

    model.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(world.log->empty());

    ASSERT_TRUE(callChanged);
    callChanged();
    for (const auto& onWake : world.wakeHandlers)
        onWake();
    // The released watcher took its registrations with it.
    EXPECT_EQ(deviceListListeners(world), 0u);
    world.audio.notify(audioSystemObject, {"srst"_fcc, AudioScope::global, 0});
    world.runtime.advance(1.0);
    EXPECT_TRUE(world.log->empty());
}

}  // namespace
}  // namespace parlaro
