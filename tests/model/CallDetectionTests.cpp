#include "ModelWorld.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace parlaro {
namespace {

using test::ModelWorld;

std::size_t count(const std::vector<std::string>& log, const std::string& event)
{
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), event));
}

// A microphone, speakers, the virtual driver and a calling application, with
// call watching as the program has it; own voice is on and confirmed.
struct CallWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;
    rt::Instant t0;

    explicit CallWorld(bool driverNotices = true, bool reading = true)
    {
        world.watchCalls = true;
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(30, "speakers", "Speakers");
        world.addVirtualDriver(50, 51, driverNotices);
        world.addCaller(reading);
        model = world.make();
        ModelTestAccess::refreshDevices(*model);
        test::given.set(model->micConfirmed, true).set(model->originalVoiceOn, true);
        ModelTestAccess::startWatching(*model);
        world.runtime.runUntilIdle();
        t0 = world.runtime.clock().now();
    }

    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }
    // The calling application stops or starts reading, and the driver says so.
    void reading(bool on, bool notify = true)
    {
        world.setCallerReading(on);
        if (notify)
            world.notifyDriverIO();
        world.runtime.runUntilIdle();
    }
};

TEST(ModelCalls, ACallStartsForwardingOnceAndEndsAfterTheGracePeriod)
{
    CallWorld w;
    EXPECT_TRUE(w.model->callActive.get());
    EXPECT_EQ(w.model->callMicrophoneRoute.get(), CallMicrophoneRoute::connected);
    EXPECT_TRUE(ModelTestAccess::driverWatch(*w.model));
    EXPECT_FALSE(ModelTestAccess::callPoll(*w.model));
    const auto log = w.world.takeLog();
    EXPECT_EQ(count(log, "directVoice start 10>51"), 1u);
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*w.model).get());

    // The conversation so far belongs to the call's session.
    test::TempDirectory folder;
    w.model->useHistory(ConversationHistory::make(folder.path(), w.world.platform.defaults));
    ModelTestAccess::setEntries(*w.model, {ConversationEntry{.original = "Hi", .translated = "你好"}});
    ASSERT_TRUE(ModelTestAccess::filing(*w.model).sessionID.get());

    test::given.set(ModelTestAccess::metersEnabled(*w.model), true);
    ModelTestAccess::updateMeters(*w.model);
    EXPECT_TRUE(w.world.meters->micDevice());

    // No further notice after the release: the re-check ends the call.
    w.reading(false);
    EXPECT_TRUE(w.model->callActive.get());
    EXPECT_EQ(ModelTestAccess::callEndedAt(*w.model).get(), w.t0);
    w.at(1.549);
    EXPECT_TRUE(w.model->callActive.get());
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()) || !std::filesystem::exists(folder.path()));
    w.at(1.55);
    EXPECT_FALSE(w.model->callActive.get());
    EXPECT_EQ(ModelTestAccess::callEndedAt(*w.model).get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::filing(*w.model).sessionID.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::filing(*w.model).lastSessionEntry.get(), std::nullopt);
    EXPECT_TRUE(ModelTestAccess::filing(*w.model).dirtySessions.get().empty());
    EXPECT_FALSE(std::filesystem::is_empty(folder.path()));
    EXPECT_FALSE(w.world.meters->micDevice());
    // Forwarding stops with the call; own voice stays on for the next one.
    EXPECT_EQ(w.world.takeLog(), (std::vector<std::string>{"directVoice stop"}));
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*w.model).get());
    EXPECT_TRUE(w.model->originalVoiceOn.get());

    // Nothing is left to run once the call has ended.
    w.at(10.0);
    EXPECT_TRUE(w.world.takeLog().empty());
}

TEST(ModelCalls, ABriefPauseInReadingIsNoCallEnd)
{
    CallWorld w;
    w.world.takeLog();
    w.reading(false);
    w.at(1.0);
    EXPECT_TRUE(ModelTestAccess::callEndedAt(*w.model).get());
    w.reading(true);
    EXPECT_EQ(ModelTestAccess::callEndedAt(*w.model).get(), std::nullopt);
    w.at(5.0);
    EXPECT_TRUE(w.model->callActive.get());
    EXPECT_EQ(count(w.world.takeLog(), "directVoice stop"), 0u);
}

TEST(ModelCalls, NotificationsLeaveOneRecheckHalfASecondAfterTheLast)
{
    CallWorld w;
    w.world.notifyDriverIO();
    w.world.runtime.runUntilIdle();
    const auto first = ModelTestAccess::callRecheck(*w.model);
    w.at(0.2);
    w.world.notifyDriverIO();
    w.world.runtime.runUntilIdle();
    const auto second = ModelTestAccess::callRecheck(*w.model);
    EXPECT_TRUE(first.isCancelled());
    w.at(0.699);
    EXPECT_FALSE(second.isFinished());
    w.at(0.7);
    EXPECT_TRUE(second.isFinished());
    EXPECT_FALSE(second.isCancelled());
    EXPECT_TRUE(w.model->callActive.get());
}

TEST(ModelCalls, WithoutDriverNoticesAPollFindsTheEnd)
{
    CallWorld w(false);
    EXPECT_FALSE(ModelTestAccess::driverWatch(*w.model));
    ASSERT_TRUE(ModelTestAccess::callPoll(*w.model));
    EXPECT_TRUE(w.model->callActive.get());

    // Polls run at 0.4 s steps; the first unread one is at +0.4.
    w.at(0.3);
    w.world.setCallerReading(false);
    w.at(0.4);
    EXPECT_TRUE(ModelTestAccess::callEndedAt(*w.model).get());
    // A change notice under polling reads at once but schedules no re-check.
    ModelTestAccess::callStateChanged(*w.model);
    w.world.runtime.runUntilIdle();
    EXPECT_FALSE(ModelTestAccess::callRecheck(*w.model));
    w.at(1.9);
    EXPECT_TRUE(w.model->callActive.get());
    w.at(2.0);
    EXPECT_FALSE(w.model->callActive.get());

    // A driver that starts reporting takes over from the poll.
    const auto poll = ModelTestAccess::callPoll(*w.model);
    w.world.audio.store(50, {"dcio"_fcc}, std::uint32_t{0});
    test::given.set(ModelTestAccess::driverWatchDevice(*w.model), std::nullopt);
    ModelTestAccess::watchDriverDevice(*w.model);
    EXPECT_TRUE(ModelTestAccess::driverWatch(*w.model));
    EXPECT_FALSE(ModelTestAccess::callPoll(*w.model));
    EXPECT_TRUE(poll.isCancelled());
}

TEST(ModelCalls, AnUnknownRouteKeepsTheCallOn)
{
    CallWorld w(true, false);
    EXPECT_FALSE(w.model->callActive.get());
    w.world.audio.setProcessListAvailable(false);
    w.world.detector->clearSnapshot();
    w.world.notifyDriverIO();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->callMicrophoneRoute.get(), CallMicrophoneRoute::unknown);
    EXPECT_TRUE(w.model->callActive.get());
    w.at(30.0);
    EXPECT_TRUE(w.model->callActive.get());
}

TEST(ModelCalls, AfterAWakeTheWatchesAreBuiltAnewAndTheTakeoverRearmed)
{
    CallWorld w;
    w.world.setDefaultInput(10);
    ModelTestAccess::prepareSession(*w.model);
    EXPECT_EQ(w.world.audio.defaultDevice(true), 50u);
    const std::weak_ptr<void> oldWatch = ModelTestAccess::driverWatch(*w.model);
    ASSERT_FALSE(oldWatch.expired());

    // The system fell back to the microphone while the machine slept.
    w.world.setDefaultInput(10);
    w.world.takeLog();
    ASSERT_EQ(w.world.wakeHandlers.size(), 1u);
    w.world.wakeHandlers[0]();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.world.audio.defaultDevice(true), 50u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*w.model).pending.get());
    EXPECT_TRUE(ModelTestAccess::driverWatch(*w.model));
    EXPECT_TRUE(oldWatch.expired());
    EXPECT_EQ(w.world.audio.listenerCount(50, {"dcio"_fcc}), 1u);
    EXPECT_TRUE(ModelTestAccess::callRecheck(*w.model));
    EXPECT_TRUE(w.model->callActive.get());
}

TEST(ModelCalls, AReleasedModelLeavesNoTaskBehind)
{
    CallWorld w(false);
    const auto poll = ModelTestAccess::callPoll(*w.model);
    w.model.reset();
    w.at(1.0);
    EXPECT_TRUE(poll.isFinished());
}

}  // namespace
}  // namespace parlaro
