#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;
using Route = ModelTestAccess::SpeakerRoute;

constexpr AudioPropertyAddress nominalRate{"nsrt"_fcc, AudioScope::global, 0};

// A microphone, speakers (30), a headset (31), the driver and a calling
// application that does not play yet; detection over the sim's processes.
std::shared_ptr<AppModel> routingModel(ModelWorld& world)
{
    world.watchCalls = true;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.addOutput(31, "headset", "Headset");
    world.addVirtualDriver();
    world.addCaller(false, false);
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);
    world.takeLog();
    return model;
}

void playing(ModelWorld& world, bool on)
{
    world.setCallerPlaying(on);
    world.detector->clearSnapshot();
}

std::size_t starts(ModelWorld& world)
{
    const Log log = world.takeLog();
    return static_cast<std::size_t>(std::count_if(
        log.begin(), log.end(), [](const std::string& event) { return event.starts_with("callSpeaker start"); }));
}

TEST(ModelCallSpeaker, TheFarEndReachesTheHeadphonesOnlyWhileSomeonePlaysIntoTheDevice)
{
    ModelWorld world;
    auto model = routingModel(world);
    test::given.set(ModelTestAccess::callSpeakerFailed(*model), Route{51, 30});
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(model->callSpeakerRoute.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::callSpeakerFailed(*model).get(), std::nullopt);
    EXPECT_EQ(starts(world), 0u);

    playing(world, true);
    ModelTestAccess::routeCallSpeaker(*model);
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(model->callSpeakerRoute.get(), (Route{51, 30}));
    EXPECT_EQ(starts(world), 1u);

    // Headphones that are the driver's own device are never routed to.
    model->setSelectedMonitorOutputID(50);
    EXPECT_EQ(model->callSpeakerRoute.get(), std::nullopt);
    EXPECT_EQ(starts(world), 0u);

    // Without microphone access nothing is carried either.
    model->setSelectedMonitorOutputID(30);
    test::given.set(model->micAuthorized, false);
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(model->callSpeakerRoute.get(), std::nullopt);
    test::given.set(model->micAuthorized, true);
    ModelTestAccess::routeCallSpeaker(*model);
    world.takeLog();

    // Choosing the same headphones again restarts nothing.
    model->setSelectedMonitorOutputID(30);
    EXPECT_EQ(world.takeLog(), Log{});

    playing(world, false);
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(model->callSpeakerRoute.get(), std::nullopt);
    EXPECT_EQ(world.takeLog(), Log{"callSpeaker stop"});
}

TEST(ModelCallSpeaker, AFailedRouteIsNotRetriedUntilTheHeadphonesChange)
{
    ModelWorld world;
    auto model = routingModel(world);
    playing(world, true);
    world.callSpeaker->startError = DomainError("DirectVoice", 1, "E");
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(ModelTestAccess::callSpeakerFailed(*model).get(), (Route{51, 30}));
    EXPECT_EQ(model->errorMessage.get(), "对方的声音没能转到耳机：E（VM-9）");
    ModelTestAccess::routeCallSpeaker(*model);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(starts(world), 1u);

    // Other headphones are tried, once.
    world.callSpeaker->startError.reset();
    model->setSelectedMonitorOutputID(31);
    EXPECT_EQ(starts(world), 1u);
    EXPECT_EQ(ModelTestAccess::callSpeakerFailed(*model).get(), std::nullopt);
    EXPECT_EQ(model->callSpeakerRoute.get(), (Route{51, 31}));

    // A report from the route that was replaced changes nothing.
    const auto olderReport = world.callSpeaker->onStop;
    model->setSelectedMonitorOutputID(30);
    model->dismissError();
    olderReport("late");
    EXPECT_EQ(model->callSpeakerRoute.get(), (Route{51, 30}));
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // The running route's own report marks it failed.
    world.callSpeaker->onStop("X");
    EXPECT_EQ(model->callSpeakerRoute.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::callSpeakerFailed(*model).get(), (Route{51, 30}));
    EXPECT_EQ(model->errorMessage.get(), "对方的声音没能转到耳机：X（VM-9）");
}

TEST(ModelCallSpeaker, ALeftoverOutputSwitchIsPutBackAndRoutingGoesOn)
{
    ModelWorld world;
    const std::string json =
        SystemAudioRoute::Snapshot{.oldOutput = "gone-speakers", .routedOutput = virtualMicUID}.json();
    world.platform.defaults.set(SystemAudioRoute::recoveryKey, DefaultsData(json.begin(), json.end()));
    // The output is still switched, and switching it back fails.
    world.audio.setDefaultDevice(false, 50);
    world.audio.fail(audioSystemObject, "dOut"_fcc, sim::AudioOperation::setPropertyData, AudioStatuses::unspecified,
                     1);
    auto model = routingModel(world);
    const auto shown = model->errorMessage.get();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->starts_with("系统声音输出未能恢复：") && shown->ends_with("（VM-7）")) << *shown;
    EXPECT_FALSE(world.route->snapshot());

    // Shown once: the record is gone.
    model->dismissError();
    playing(world, true);
    ModelTestAccess::routeCallSpeaker(*model);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(model->callSpeakerRoute.get(), (Route{51, 30}));
}

// The headphones run at 44.1 kHz, the virtual microphone at 48 kHz and can
// run at either.
std::size_t rateWrites(const std::function<void(ModelWorld&, AppModel&)>& tweak)
{
    ModelWorld world;
    world.watchCalls = true;
    world.addMicrophone(10, "usb-mic", "USB");
    world.audio.addDevice(
        {.id = 30, .uid = "speakers", .name = "Speakers", .outputBuffers = {2}, .nominalRate = 44100});
    world.addVirtualDriver();
    world.audio.store(50, {"nsr#"_fcc}, std::vector<AudioValueRange>{{44100, 44100}, {48000, 48000}});
    auto model = world.make();
    test::given.set(model->isInstallingDriver, true);
    ModelTestAccess::prepareSession(*model);
    test::given.set(model->isInstallingDriver, false);
    tweak(world, *model);
    world.detector->clearSnapshot();
    ModelTestAccess::refreshCallSpeakerRoute(*model);
    ModelTestAccess::refreshCallSpeakerRoute(*model);
    const auto sets = world.audio.sets(50, nominalRate);
    for (const auto& set : sets)
        EXPECT_EQ(set.value, AudioPropertyValue(44100.0));
    return sets.size();
}

TEST(ModelCallSpeaker, TheVirtualMicrophoneTakesTheHeadphoneRateOnlyWhenNothingUsesIt)
{
    EXPECT_EQ(rateWrites([](ModelWorld&, AppModel&) {}), 1u);

    struct Case {
        const char* what;
        std::function<void(ModelWorld&, AppModel&)> tweak;
    };
    const std::vector<Case> blocked{
        {"installing", [](ModelWorld&, AppModel& m) { test::given.set(m.isInstallingDriver, true); }},
        {"a detected call", [](ModelWorld&, AppModel& m) { test::given.set(m.callActive, true); }},
        {"a route running",
         [](ModelWorld&, AppModel& m) {
             test::given.set(m.callSpeakerRoute, Route{51, 30});
         }},
        {"no headphones", [](ModelWorld&, AppModel& m) { m.setSelectedMonitorOutputID(std::nullopt); }},
        {"open elsewhere", [](ModelWorld& w, AppModel&) { w.addCaller(false, false); }},
        {"a rate the device lacks", [](ModelWorld& w, AppModel&) { w.audio.store(30, nominalRate, 22050.0); }},
        {"the same rate", [](ModelWorld& w, AppModel&) { w.audio.store(30, nominalRate, 48000.0); }},
        {"an unreadable rate",
         [](ModelWorld& w, AppModel&) {
             w.audio.fail(30, "nsrt"_fcc, sim::AudioOperation::getPropertyData, AudioStatuses::unspecified);
         }},
    };
    for (const Case& c : blocked) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rateWrites(c.tweak), 0u);
    }
}

TEST(ModelCallSpeaker, AHeadphoneRateChangeIsFollowedWhileCallsAreWatched)
{
    ModelWorld world;
    world.watchCalls = true;
    world.audio.addDevice(
        {.id = 30, .uid = "speakers", .name = "Speakers", .outputBuffers = {2}, .nominalRate = 44100});
    world.addVirtualDriver();
    world.audio.store(50, {"nsr#"_fcc}, std::vector<AudioValueRange>{{44100, 44100}, {48000, 48000}});
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    ModelTestAccess::startWatching(*model);
    world.runtime.runUntilIdle();
    EXPECT_EQ(ModelTestAccess::headphoneRateDevice(*model).get(), 30u);
    EXPECT_EQ(world.audio.sets(50, nominalRate).size(), 1u);

    world.audio.store(30, nominalRate, 48000.0);
    world.audio.notify(30, nominalRate);
    world.runtime.runUntilIdle();
    const auto sets = world.audio.sets(50, nominalRate);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[1].value, AudioPropertyValue(48000.0));

    // Other headphones move the watch; none ends it.
    model->setSelectedMonitorOutputID(std::nullopt);
    ModelTestAccess::watchHeadphoneRate(*model);
    EXPECT_EQ(ModelTestAccess::headphoneRateWatch(*model), nullptr);
    EXPECT_EQ(world.audio.listenerCount(30, nominalRate), 0u);
}

}  // namespace
}  // namespace parlaro
