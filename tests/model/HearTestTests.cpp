#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;
using HearTest = AppModel::HearTest;

constexpr AudioObjectId speakersID = 30;
constexpr AudioObjectId headphonesID = 31;
constexpr AudioObjectId virtualMicID = 50;

// A microphone, speakers, headphones, the driver and an English voice; the
// virtual microphone carries `level` on every sample.
struct HearWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;
    rt::TaskHandle<> test;
    std::shared_ptr<Log> statuses = std::make_shared<Log>();
    rt::Subscription watch;

    HearWorld()
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(speakersID, "speakers", "Speakers");
        world.addOutput(headphonesID, "headphones", "Headphones");
        world.addVirtualDriver();
        world.voices["en"] = {{.id = "en-voice", .label = "Ava", .quality = 2, .name = "Ava", .language = "en-US"}};
        model = world.make();
        ModelTestAccess::refreshDevices(*model);
        model->setSelectedMonitorOutputID(speakersID);
        watch = model->status.subscribe([this] { statuses->push_back(model->status.get()); });
        world.takeLog();
    }
    // Own voice on, confirmed, on microphone 10.
    void ownVoiceOn()
    {
        ModelTestAccess::setSelectedInputID(*model, 10);
        test::given.set(model->micConfirmed, true).set(model->originalVoiceOn, true);
    }
    void setLevel(float level)
    {
        world.audio.setInputSignal(virtualMicID, [level](std::uint32_t, double) { return level; });
    }
    void start()
    {
        test = rt::spawn([model = model] { return model->startHearTest(); });
        world.runtime.runUntilIdle();
    }
    // The virtual microphone delivers `rounds` times its three buffers.
    void deliver(int rounds = 1)
    {
        for (int i = 0; i < rounds; ++i)
            world.audio.runInputQueues();
    }
};

TEST(ModelHearTest, RefusalsComeBeforeAnyRecording)
{
    HearWorld w;
    auto& model = *w.model;
    test::given.set(model.isSpeaking, true);
    w.start();
    test::given.set(model.isSpeaking, false);
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    EXPECT_EQ(model.hearTest.get(), HearTest::idle());

    test::given.set(model.selectedVirtualOutputID, std::nullopt);
    w.start();
    EXPECT_EQ(model.errorMessage.get(), "没有找到 wenmora 音频设备，无法测试。请先安装。");
    ModelTestAccess::refreshDevices(model);

    // Playing back into the driver or any virtual device would be heard by the caller.
    w.world.audio.addDevice(
        {.id = 40, .uid = "other-virtual", .name = "Loopback", .outputBuffers = {2}, .transportType = "virt"_fcc});
    ModelTestAccess::refreshDevices(model);
    for (const std::optional<AudioObjectId> monitor :
         {std::optional<AudioObjectId>(50), std::optional<AudioObjectId>(51), std::optional<AudioObjectId>(40),
          std::optional<AudioObjectId>()}) {
        model.dismissError();
        model.setSelectedMonitorOutputID(monitor);
        w.start();
        EXPECT_EQ(model.errorMessage.get(), "请先选择耳机或扬声器，用来回放测试录音。");
    }
    EXPECT_EQ(model.hearTest.get(), HearTest::idle());

    model.setSelectedMonitorOutputID(speakersID);
    w.world.voices["en"] = {};
    model.refreshVoices();
    w.start();
    EXPECT_EQ(model.hearTest.get(), HearTest::failed("没有" + model.theirLanguage.get().displayName() + "音色"));
    EXPECT_FALSE(model.isHearTesting.get());
    EXPECT_FALSE(w.world.probe->tap->hasQueue());
    EXPECT_TRUE(w.world.speaker->spoken.empty());
}

TEST(ModelHearTest, TwoTestsWaitingForPermissionNeverRunTogether)
{
    std::vector<rt::Continuation<bool>> asked;
    ModelWorld world;
    world.microphoneAuthorized = false;
    world.addOutput(speakersID, "speakers", "Speakers");
    world.addVirtualDriver();
    world.voices["en"] = {{.id = "en-voice", .label = "Ava", .quality = 2, .name = "Ava", .language = "en-US"}};
    auto model = world.make([&](AppModel::Dependencies& d) {
        d.microphonePermission = [&]() -> rt::Async<bool> {
            co_return co_await rt::withContinuation<bool>(
                [&](rt::Continuation<bool> answer) { asked.push_back(answer); });
        };
    });
    ModelTestAccess::refreshDevices(*model);
    model->setSelectedMonitorOutputID(speakersID);
    auto first = rt::spawn([model] { return model->startHearTest(); });
    auto second = rt::spawn([model] { return model->startHearTest(); });
    world.runtime.runUntilIdle();
    ASSERT_EQ(asked.size(), 2u);
    for (const auto& answer : asked)
        answer.resume(true);
    world.runtime.runUntilIdle();
    EXPECT_EQ(world.speaker->spoken.size(), 1u);
    world.runtime.advance(3.0);
    EXPECT_TRUE(first.isFinished());
    EXPECT_TRUE(second.isFinished());
    EXPECT_EQ(model->hearTest.get(), HearTest::silent());
    EXPECT_FALSE(model->isSpeaking.get());
}

TEST(ModelHearTest, OwnVoiceIsRecordedForThreeSecondsAndJudgedAboveOneHundredth)
{
    for (const float level : {0.01f, 0.0101f}) {
        SCOPED_TRACE(level);
        HearWorld w;
        auto& model = *w.model;
        w.ownVoiceOn();
        w.setLevel(level);
        const rt::Instant began = w.world.runtime.clock().now();
        w.start();
        EXPECT_TRUE(model.isHearTesting.get());
        EXPECT_EQ(model.hearTest.get(), HearTest::recording());
        EXPECT_EQ(model.status.get(), "请现在说几句话…");
        EXPECT_TRUE(ModelTestAccess::forwardingActive(model).get());
        EXPECT_EQ(w.world.probe->tap->deviceUID(), virtualMicUID);
        EXPECT_EQ(w.world.probe->tap->channels(), 2u);

        // More than the tap keeps: 11 s of it are played back.
        w.deliver(200);
        w.world.runtime.clock().advanceTo(began + 2.9);
        EXPECT_EQ(model.hearTest.get(), HearTest::recording());
        w.world.runtime.clock().advanceTo(began + 3.0);
        ASSERT_EQ(w.world.speaker->played.size(), 1u);
        EXPECT_EQ(w.world.speaker->played[0].device, speakersID);
        ASSERT_EQ(w.world.speaker->played[0].buffers.size(), 1u);
        EXPECT_EQ(w.world.speaker->played[0].buffers[0].frameLength(), 11u * 48000);
        EXPECT_EQ(w.world.speaker->played[0].buffers[0].format().channelCount, 2u);

        const bool heard = level > 0.01f;
        EXPECT_EQ(model.hearTest.get(), heard ? HearTest::heard() : HearTest::silent());
        const std::string verdict = heard ? "本机测试有声音；对方是否听到仍需通话确认" : "测试完成：没有检测到声音";
        // Speakers would carry the playback to the other party.
        EXPECT_EQ(*w.statuses,
                  (Log{"请现在说几句话…", "回放期间暂停原声，避免音箱的声音传给对方…", verdict + "（原声已恢复）"}));
        EXPECT_FALSE(model.isHearTesting.get());
        EXPECT_FALSE(w.world.probe->tap->hasQueue());
        // Paused, restored, and given up once no test needs it.
        EXPECT_EQ(w.world.takeLog(),
                  (Log{"directVoice stop", "directVoice start 10>51", "directVoice stop", "speaker play 30 1",
                       "directVoice stop", "directVoice stop", "directVoice start 10>51", "directVoice stop"}));
        EXPECT_FALSE(ModelTestAccess::forwardingActive(model).get());
        EXPECT_TRUE(model.originalVoiceOn.get());
    }
}

TEST(ModelHearTest, HeadphonesPlayBackWithoutPausingOwnVoice)
{
    HearWorld w;
    auto& model = *w.model;
    w.ownVoiceOn();
    model.setSelectedMonitorOutputID(headphonesID);
    w.setLevel(0.5f);
    w.start();
    w.deliver();
    w.world.runtime.advance(3.0);
    EXPECT_EQ(*w.statuses,
              (Log{"请现在说几句话…", "正在回放本机麦克风测试声音…", "本机测试有声音；对方是否听到仍需通话确认"}));
    EXPECT_EQ(w.world.speaker->played.at(0).device, headphonesID);
}

TEST(ModelHearTest, WithoutOwnVoiceATestSentenceIsSpokenIntoTheVirtualDevice)
{
    for (const double speech : {1.0, 5.0}) {
        SCOPED_TRACE(speech);
        HearWorld w;
        auto& model = *w.model;
        const CallLanguage english = model.theirLanguage.get();
        w.world.speaker->speakSeconds = speech;
        w.setLevel(0.2f);
        const rt::Instant began = w.world.runtime.clock().now();
        w.start();
        EXPECT_EQ(model.status.get(), "正在向虚拟麦克风播放" + english.displayName() + "测试语音…");
        EXPECT_TRUE(model.isSpeaking.get());
        ASSERT_EQ(w.world.speaker->spoken.size(), 1u);
        EXPECT_EQ(w.world.speaker->spoken[0].text, english.sample);
        EXPECT_EQ(w.world.speaker->spoken[0].devices, std::vector<AudioObjectId>{51});
        EXPECT_EQ(w.world.speaker->spoken[0].voice, "en-voice");
        w.deliver();

        // At least three seconds from the start of speaking, and no extra wait after a longer speech.
        const double end = std::max(speech, 3.0);
        w.world.runtime.clock().advanceTo(began + (end - 0.1));
        EXPECT_EQ(model.hearTest.get(), HearTest::recording());
        w.world.runtime.clock().advanceTo(began + end);
        EXPECT_EQ(model.hearTest.get(), HearTest::heard());
        EXPECT_FALSE(model.isSpeaking.get());
        EXPECT_EQ(model.status.get(), "本机测试有声音；对方是否听到仍需通话确认");
    }
}

TEST(ModelHearTest, ACancelledOrFailedTestPutsEverythingBack)
{
    {
        HearWorld w;
        auto& model = *w.model;
        w.ownVoiceOn();
        w.start();
        EXPECT_TRUE(ModelTestAccess::forwardingActive(model).get());
        w.world.runtime.advance(1.0);
        w.test.cancel();
        w.world.runtime.runUntilIdle();
        EXPECT_TRUE(w.test.isFinished());
        EXPECT_EQ(model.hearTest.get(), HearTest::idle());
        EXPECT_EQ(model.status.get(), "已停止测试");
        EXPECT_FALSE(model.isHearTesting.get());
        EXPECT_FALSE(w.world.probe->tap->hasQueue());
        // The forwarding update after the test stops what the test started.
        EXPECT_FALSE(ModelTestAccess::forwardingActive(model).get());
        EXPECT_TRUE(w.world.speaker->played.empty());
    }
    {
        HearWorld w;
        auto& model = *w.model;
        w.world.speaker->holdSpeech = true;
        w.world.audio.fail(sim::anyObject, sim::anySelector, sim::AudioOperation::newQueue, -50, 1);
        w.start();
        EXPECT_EQ(model.hearTest.get(), HearTest::failed("打开声音输入失败（-50）"));
        EXPECT_EQ(model.status.get(), "测试失败");
        EXPECT_FALSE(model.isHearTesting.get());
        EXPECT_FALSE(model.isSpeaking.get());
        EXPECT_TRUE(w.world.speaker->spoken.empty());
    }
    {
        // The speaker stopped during the test sentence.
        HearWorld w;
        auto& model = *w.model;
        w.world.speaker->holdSpeech = true;
        w.start();
        EXPECT_TRUE(model.isSpeaking.get());
        w.world.speaker->stop();
        w.world.runtime.runUntilIdle();
        EXPECT_EQ(model.hearTest.get(), HearTest::idle());
        EXPECT_EQ(model.status.get(), "已停止测试");
        EXPECT_FALSE(model.isSpeaking.get());
        EXPECT_FALSE(w.world.probe->tap->hasQueue());
    }
}

}  // namespace
}  // namespace parlaro
