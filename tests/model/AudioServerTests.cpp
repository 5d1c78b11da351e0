#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace parlaro {
namespace {

using test::ModelWorld;

constexpr AudioPropertyAddress serverRunning{"srun"_fcc};
constexpr AudioPropertyAddress serverRestarted{"srst"_fcc};
constexpr AudioPropertyAddress serverAnswering{"sans"_fcc};

// A started model in the middle of a call: microphone 10 confirmed, own
// voice forwarded into the driver (50, 51), the virtual microphone made the
// default input and listening running.
struct ServerWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;
    rt::Instant t0;

    // The machine before the program starts, its server up and answering
    // or not yet.
    static void plant(ModelWorld& world, bool serverUp)
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(30, "speakers", "Speakers");
        world.addVirtualDriver();
        world.setDefaultInput(10);
        world.platform.defaults.set("onboardingDone", true);
        world.audio.store(audioSystemObject, serverRunning, std::uint32_t{serverUp});
        world.audio.store(audioSystemObject, serverAnswering, std::uint32_t{serverUp});
    }

    ServerWorld()
    {
        plant(world, true);
        model = world.make([](AppModel::Dependencies& d) {
            d.callRouteInspector = [](std::optional<AudioObjectId>) { return CallMicrophoneRoute::connected; };
        });
        world.run([m = model] { return m->start(); });
        test::given.set(model->showMicCheck, false).set(model->micConfirmed, true);
        test::given.set(model->originalVoiceOn, true).set(model->callActive, true);
        world.run([m = model] { return ModelTestAccess::startOriginalVoice(*m); });
        t0 = world.runtime.clock().now();
    }

    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }

    // The server goes: every device with it, the capture gives up and the
    // forwarder stops; or they say nothing yet, as PipeWire's capture stays
    // silent for seconds after its server died.
    void loseServer(bool partsTell = true)
    {
        world.audio.store(audioSystemObject, serverRunning, std::uint32_t{0});
        world.audio.notify(audioSystemObject, serverRunning);
        for (AudioObjectId id : {10u, 30u, 50u, 51u})
            world.audio.removeObject(id);
        world.runtime.runUntilIdle();
        if (!partsTell)
            return;
        if (world.incoming->onError)
            world.incoming->onError("系统声音录制已停止（CAP-3）");
        if (world.directVoice->onStop)
            world.directVoice->onStop("设备已断开（560947818）");
        world.runtime.runUntilIdle();
    }

    // The same loss, but the watcher's report comes last: the device lists,
    // the capture and the forwarder, which tell from their own threads, get
    // to the model first.
    void loseServerReportedLast()
    {
        world.audio.store(audioSystemObject, serverRunning, std::uint32_t{0});
        for (AudioObjectId id : {10u, 30u, 50u, 51u})
            world.audio.removeObject(id);
        at(1.0);
        if (world.directVoice->onStop)
            world.directVoice->onStop("设备已断开（560947818）");
        if (world.incoming->onError)
            world.incoming->onError("系统声音录制已停止（CAP-3）");
        world.runtime.runUntilIdle();
        world.audio.notify(audioSystemObject, serverRunning);
        world.runtime.runUntilIdle();
    }

    // The server keeps the connection and answers nothing (its process
    // stopped), or answers again.
    void holdServer(bool held)
    {
        world.audio.store(audioSystemObject, serverAnswering, std::uint32_t{held ? 0u : 1u});
        world.audio.notify(audioSystemObject, serverAnswering);
        world.runtime.runUntilIdle();
    }

    // The server is back with its own devices under new ids; the driver's
    // devices are loaded a moment later.
    // Nothing the user set up is lost, and nothing asks anything of them.
    void expectNothingOfTheUsersLost()
    {
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_FALSE(model->showMicCheck.get());
        EXPECT_TRUE(model->micConfirmed.get());
        EXPECT_TRUE(model->originalVoiceOn.get());
    }
    void serverReturns()
    {
        world.addMicrophone(11, "usb-mic", "USB");
        world.addOutput(31, "speakers", "Speakers");
        world.audio.store(audioSystemObject, serverRestarted, std::uint32_t{1});
        world.audio.store(audioSystemObject, serverRunning, std::uint32_t{1});
        world.audio.notify(audioSystemObject, serverRestarted);
        world.audio.notify(audioSystemObject, serverRunning);
        world.runtime.runUntilIdle();
    }
};

// However the loss is told, listening ends as soon as it is known, failures
// that came before the report are held all the same, what the capture says
// later changes nothing, and everything that ran before runs again without
// the user.
TEST(ModelAudioServer, EverythingThatRanBeforeALossRunsAgainWithoutTheUser)
{
    const std::vector<std::pair<const char*, std::function<void(ServerWorld&)>>> losses = {
        {"the watcher first", [](ServerWorld& w) { w.loseServer(); }},
        {"the watcher last", [](ServerWorld& w) { w.loseServerReportedLast(); }},
        {"the capture silent", [](ServerWorld& w) { w.loseServer(false); }},
    };
    for (const auto& [name, lose] : losses) {
        SCOPED_TRACE(name);
        ServerWorld w;
        ASSERT_TRUE(w.model->isListening.get());
        ASSERT_TRUE(ModelTestAccess::forwardingActive(*w.model).get());
        ASSERT_EQ(w.world.audio.defaultDevice(true), 50u);
        w.world.takeLog();

        lose(w);
        EXPECT_TRUE(w.model->audioServerLost.get());
        EXPECT_FALSE(w.model->isListening.get()) << "no second of \"listening\" beside an unavailable server";
        EXPECT_FALSE(w.model->isChangingListening.get());
        EXPECT_EQ(w.model->listeningStatus.get(), "已暂停自动收听");
        EXPECT_EQ(std::count(w.world.log->begin(), w.world.log->end(), "incoming stop"), 1);
        w.at(4.0);
        if (w.world.incoming->onError)
            w.world.incoming->onError("系统声音录制已停止（CAP-3）");
        w.world.runtime.runUntilIdle();
        EXPECT_TRUE(w.model->audioServerLost.get());
        EXPECT_FALSE(w.model->listeningFailed.get());
        EXPECT_EQ(w.model->listeningStatus.get(), "已暂停自动收听");
        EXPECT_EQ(w.model->selectedInputID.get(), 10u);
        EXPECT_EQ(w.model->selectedVirtualOutputID.get(), 51u);
        w.expectNothingOfTheUsersLost();

        w.serverReturns();
        EXPECT_FALSE(w.model->audioServerLost.get());
        // Until the driver's devices are back the old selections are kept.
        w.at(4.9);
        EXPECT_EQ(w.model->selectedVirtualOutputID.get(), 51u);
        EXPECT_FALSE(w.model->isListening.get());
        w.world.addVirtualDriver(60, 61);
        w.at(5.3);
        EXPECT_EQ(w.model->selectedInputID.get(), 11u);
        EXPECT_EQ(w.model->selectedVirtualOutputID.get(), 61u);
        EXPECT_TRUE(w.model->virtualMicStatus());
        EXPECT_EQ(w.world.audio.defaultDevice(true), 60u);
        EXPECT_TRUE(ModelTestAccess::forwardingActive(*w.model).get());
        ASSERT_TRUE(w.world.directVoice->running);
        EXPECT_EQ(*w.world.directVoice->running, (std::pair<AudioObjectId, AudioObjectId>{11, 61}));
        EXPECT_TRUE(w.model->isListening.get());
        EXPECT_EQ(w.model->listeningStatus.get(), "自动收听中 · 对方说话即记录并翻译");
        EXPECT_EQ(std::count(w.world.log->begin(), w.world.log->end(), "incoming start"), 1);
        w.expectNothingOfTheUsersLost();

        // After the recovery a device that goes is reported as before.
        w.world.audio.removeObject(61);
        w.at(6.0);
        EXPECT_EQ(w.model->errorMessage.get(), "虚拟麦克风已断开，原声转发已关闭。");
    }
}

TEST(ModelAudioServer, DevicesThatDoNotComeBackAreLostFiveSecondsAfterTheReturn)
{
    ServerWorld w;
    w.loseServer();
    // Gone twice: the second loss ends the first return's wait.
    w.serverReturns();
    w.at(1.0);
    w.world.audio.store(audioSystemObject, serverRunning, std::uint32_t{0});
    w.world.audio.notify(audioSystemObject, serverRunning);
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(w.model->audioServerLost.get());
    w.at(10.0);
    EXPECT_EQ(w.model->selectedInputID.get(), 10u);
    EXPECT_FALSE(w.model->showMicCheck.get());

    // Back, but the microphone and the driver never return.
    w.world.audio.removeObject(11);
    w.serverReturns();
    w.world.audio.removeObject(11);
    w.world.runtime.runUntilIdle();
    w.at(14.9);
    EXPECT_TRUE(w.model->micConfirmed.get());
    w.at(15.1);
    EXPECT_FALSE(w.model->micConfirmed.get());
    EXPECT_TRUE(w.model->showMicCheck.get());
    EXPECT_EQ(w.model->micCheckReason.get(), "原来的麦克风已断开，请重新选择并确认。");
    EXPECT_EQ(w.model->status.get(), "麦克风已断开，原声转发已关闭");
    EXPECT_FALSE(w.model->originalVoiceOn.get());
    // Listening needs no device of its own and comes back all the same.
    EXPECT_TRUE(w.model->isListening.get());
}

TEST(ModelAudioServer, AStartThatFailsWhileTheServerIsAwayTriesAgainOnItsReturn)
{
    ServerWorld w;
    w.loseServer();
    w.world.incoming->startError = DomainError("CallAudio", 2, "无法建立系统声音录制（CAP-2）");
    w.world.run([m = w.model] { return ModelTestAccess::startListening(*m); });
    EXPECT_FALSE(w.model->isListening.get());
    EXPECT_FALSE(w.model->listeningFailed.get());
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(w.model->listeningStatus.get(), "已暂停自动收听");

    w.world.incoming->startError.reset();
    w.serverReturns();
    w.world.addVirtualDriver(60, 61);
    w.at(1.0);
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
}

// The server held still in the middle of a call: its connection stays and
// nothing answers. Said once the silence outlasts what a loaded machine
// explains, unsaid when it answers; what ran goes on as it was, since the
// server picks up where it stopped.
TEST(ModelAudioServer, AServerHeldStillDuringACallIsToldAfterTwoSecondsAndUntilItAnswers)
{
    ServerWorld w;
    w.world.takeLog();

    // A moment's hold on a busy machine says nothing.
    w.holdServer(true);
    w.at(1.5);
    w.holdServer(false);
    w.at(4.0);
    EXPECT_FALSE(w.model->audioServerSilent.get());

    w.holdServer(true);
    w.at(5.9);
    EXPECT_FALSE(w.model->audioServerSilent.get());
    w.at(6.1);
    EXPECT_TRUE(w.model->audioServerSilent.get()) << "a six-second stall went untold";
    EXPECT_FALSE(w.model->audioServerLost.get());
    w.at(10.0);
    EXPECT_TRUE(w.model->audioServerSilent.get());
    w.holdServer(false);
    EXPECT_FALSE(w.model->audioServerSilent.get());

    EXPECT_FALSE(w.model->audioServerLost.get());
    EXPECT_TRUE(w.model->isListening.get());
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*w.model).get());
    EXPECT_EQ(w.world.takeLog(), std::vector<std::string>{});
    w.expectNothingOfTheUsersLost();

    // Silent on its way back after a loss: unavailable at once, not
    // answering once the silence is a stall.
    w.loseServer();
    w.holdServer(true);
    EXPECT_TRUE(w.model->audioServerLost.get());
    EXPECT_FALSE(w.model->audioServerSilent.get());
    w.at(12.1);
    EXPECT_TRUE(w.model->audioServerSilent.get());
}

// At start the server took the connection and has not answered yet. A loaded
// machine or a server started on demand answers within a moment, and nothing
// is said meanwhile, neither that it is away nor that the device is missing;
// one silent past a second is told as not answering.
TEST(ModelAudioServer, AServerSlowToAnswerAtStartIsToldOnlyAfterASecond)
{
    for (const double answersAt : {0.9, 3.0}) {
        SCOPED_TRACE(answersAt);
        ModelWorld world;
        ServerWorld::plant(world, false);
        const auto model = world.make();
        const rt::Instant t0 = world.runtime.clock().now();
        world.run([m = model] { return m->start(); });
        world.runtime.clock().advanceTo(t0 + 0.8);
        EXPECT_TRUE(model->audioServerAwaited.get());
        EXPECT_FALSE(model->audioServerLost.get());
        EXPECT_FALSE(model->audioServerSilent.get());

        if (answersAt > 1.0) {
            world.runtime.clock().advanceTo(t0 + 1.1);
            EXPECT_TRUE(model->audioServerLost.get());
            EXPECT_TRUE(model->audioServerSilent.get());
            EXPECT_FALSE(model->audioServerAwaited.get());
        }
        world.runtime.clock().advanceTo(t0 + answersAt);
        world.audio.store(audioSystemObject, serverRunning, std::uint32_t{1});
        world.audio.store(audioSystemObject, serverAnswering, std::uint32_t{1});
        world.audio.notify(audioSystemObject, serverRunning);
        world.runtime.clock().advanceTo(t0 + 5.0);
        EXPECT_FALSE(model->audioServerAwaited.get());
        EXPECT_FALSE(model->audioServerLost.get());
        EXPECT_FALSE(model->audioServerSilent.get());
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_TRUE(model->virtualMicStatus());
    }
}

}  // namespace
}  // namespace parlaro
