#include "model/ModelDependencies.h"

#include "audio/CallAudioCapture.h"
#include "audio/DirectVoice.h"
#include "audio/IncomingListener.h"
#include "audio/OwnSpeechRecorder.h"
#include "audio/Speaker.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimProcessActivity.h"
#include "platform/sim/SimSpeechServices.h"
#include "platform/sim/SimSpeechSynthesizer.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "platform/sim/SimWakeObserver.h"
#include "runtime/ManualRuntime.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

struct DefaultWorld {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    sim::SimSpeechSynthesizer synthesizer;
    sim::SimSpeechServices speech{false};  // the older stack, as on Linux
    sim::SimTranslationPlatform translation;
    EngineSingletons parts = freshEngineParts();
};

TEST(ModelDependencies, TheEngineSharesOneEchoGateAndSpeaksALittleSlower)
{
    DefaultWorld world;
    AppModel::Dependencies d =
        defaultDependencies(world.platform.defaults, makeSystemAudioRoute(world.platform.defaults), world.parts);

    auto speaker = std::dynamic_pointer_cast<Speaker>(d.speaker);
    ASSERT_TRUE(speaker);
    EXPECT_FLOAT_EQ(speaker->rate(), 0.46f);
    auto own = std::dynamic_pointer_cast<DirectVoice>(d.directVoice);
    auto far = std::dynamic_pointer_cast<DirectVoice>(d.callSpeaker);
    ASSERT_TRUE(own && far);
    EXPECT_EQ(own->steering(), DirectVoice::Steering::resample);
    EXPECT_EQ(far->steering(), DirectVoice::Steering::driverClockOnInput);
    EXPECT_FALSE(own->allowSameDevice());
    EXPECT_FALSE(far->allowSameDevice());

    // The recorder gates against the same record the capture writes.
    EXPECT_EQ(d.echoGuard, world.parts.echoGuard);
    auto recorder = std::dynamic_pointer_cast<OwnSpeechRecorder>(d.ownSpeechRecorder);
    ASSERT_TRUE(recorder);
    EXPECT_EQ(recorder->echo(), world.parts.echoGuard);
    auto capture = std::dynamic_pointer_cast<CallAudioCapture>(d.incoming->capture());
    ASSERT_TRUE(capture);
    EXPECT_EQ(capture->farEnd(), world.parts.echoGuard->farEnd());
    EXPECT_NE(world.parts.echoGuard, EchoGuard::shared());

    EXPECT_EQ(d.translator->adapterName(), "Simulated hosted translation");
    EXPECT_TRUE(d.probe->levelTap());
    EXPECT_FALSE(d.capturePermission);
    EXPECT_FALSE(d.callDetector);
    EXPECT_EQ(d.driverDetectTimeout, 15.0);
}

TEST(ModelDependencies, TheDeviceClosuresReadTheAudioSystem)
{
    DefaultWorld world;
    world.audio.addDevice({.id = 10, .uid = "usb-mic", .name = "USB", .inputBuffers = {1}, .nominalRate = 44100});
    world.audio.addDevice({.id = 50,
                           .uid = virtualMicUID,
                           .name = "wenmora",
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = "virt"_fcc,
                           .custom = {{"dcvr"_fcc, AudioString("1.4.2")}}});
    world.audio.setDefaultDevice(true, 10);
    world.audio.addProcess(
        {.id = 900, .pid = 42, .bundleID = "com.example.caller", .runningInput = true, .inputDevices = {50}});
    AppModel::Dependencies d =
        defaultDependencies(world.platform.defaults, makeSystemAudioRoute(world.platform.defaults), world.parts);

    EXPECT_EQ(d.listDevices().size(), 2u);
    EXPECT_EQ(d.systemDefault(DeviceDirection::input), 10u);
    EXPECT_EQ(d.driverVersionCheck(), "1.4.2");
    EXPECT_EQ(d.deviceRates.nominal(10), 44100.0);
    EXPECT_EQ(d.deviceRates.nominal(77), std::nullopt);
    EXPECT_TRUE(d.deviceRates.set(10, 48000.0));
    EXPECT_EQ(d.deviceRates.nominal(10), 48000.0);
    EXPECT_TRUE(d.deviceRates.openElsewhere(50));
    EXPECT_FALSE(d.deviceRates.openElsewhere(10));
    EXPECT_EQ(d.callRouteInspector(50), CallMicrophoneRoute::connected);
    EXPECT_EQ(d.callRouteInspector(10), CallMicrophoneRoute::idle);
    EXPECT_FALSE(d.speakerPlayback(std::nullopt));
    EXPECT_FALSE(d.speakerPlayback(50));
    EXPECT_TRUE(d.audioServerRunning());
    world.audio.store(audioSystemObject, {"srun"_fcc}, std::uint32_t{0});
    EXPECT_FALSE(d.audioServerRunning());
    world.audio.store(audioSystemObject, {"srun"_fcc}, std::uint32_t{1});

    // Without a process list nobody can be told apart.
    world.audio.setProcessListAvailable(false);
    world.parts.readerDetector->clearSnapshot();
    EXPECT_EQ(d.callRouteInspector(50), CallMicrophoneRoute::unknown);
    EXPECT_TRUE(d.deviceRates.openElsewhere(10));
}

TEST(ModelDependencies, TheDefaultModelStartsAndShutsDown)
{
    DefaultWorld world;
    world.audio.addDevice({.id = 10, .uid = "usb-mic", .name = "USB", .inputBuffers = {1}});
    world.audio.setDefaultDevice(true, 10);
    auto model = AppModel::make(
        defaultDependencies(world.platform.defaults, makeSystemAudioRoute(world.platform.defaults), world.parts));
    EXPECT_TRUE(model->micAuthorized.get());

    test::runTask(world.runtime, [&]() -> rt::Async<void> { co_await model->start(); }).result();
    EXPECT_TRUE(model->showWizard.get());
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), "usb-mic");
    EXPECT_TRUE(ModelTestAccess::deviceWatcher(*model) && ModelTestAccess::deviceWatcher(*model)->isWatching());

    model->shutdown();
    world.runtime.runUntilIdle();
    EXPECT_EQ(ModelTestAccess::deviceWatcher(*model), nullptr);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // The placeholder installer refuses with a text of its own.
    std::string refusal;
    test::runTask(world.runtime, [&]() -> rt::Async<void> {
        try {
            co_await ModelTestAccess::platform(*model).ensureVirtualDevices("true");
        } catch (const Error& error) {
            refusal = error.localizedDescription();
        }
    });
    EXPECT_EQ(refusal, "无法安装虚拟音频设备");
}

TEST(ModelDependencies, HoldsKeepTheMachineAwakeAndWakesAreReported)
{
    DefaultWorld world;
    auto activity = std::make_shared<sim::SimProcessActivity>();
    auto wake = std::make_shared<sim::SimWakeObserver>();
    world.parts.processActivity = activity;
    world.parts.wakeObserver = wake;
    AppModel::Dependencies d =
        defaultDependencies(world.platform.defaults, makeSystemAudioRoute(world.platform.defaults), world.parts);

    auto first = d.beginActivity("hold");
    auto second = d.beginActivity("hold again");
    EXPECT_EQ(activity->activeReasons(), (std::vector<std::string>{"hold", "hold again"}));
    d.endActivity(first);
    d.endActivity(first);  // a second end of one activity ends nothing more
    EXPECT_EQ(activity->activeReasons(), (std::vector<std::string>{"hold again"}));
    second.reset();  // dropping the token ends it too
    EXPECT_FALSE(activity->isPreventingIdle());

    int woken = 0;
    auto subscription = d.observeDidWake([&] { ++woken; });
    wake->wake();
    world.runtime.runUntilIdle();
    EXPECT_EQ(woken, 1);
    subscription = rt::Subscription();
    wake->wake();
    world.runtime.runUntilIdle();
    EXPECT_EQ(woken, 1);

    // Without the services nothing is kept awake and nothing is reported.
    world.parts.processActivity = nullptr;
    world.parts.wakeObserver = nullptr;
    AppModel::Dependencies bare =
        defaultDependencies(world.platform.defaults, makeSystemAudioRoute(world.platform.defaults), world.parts);
    bare.endActivity(bare.beginActivity("hold"));
    auto none = bare.observeDidWake([&] { ++woken; });
    wake->wake();
    world.runtime.runUntilIdle();
    EXPECT_EQ(woken, 1);
}

}  // namespace
}  // namespace parlaro
