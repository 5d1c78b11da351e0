#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

// Two microphones and the driver, listed.
struct MicWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model;

    explicit MicWorld(bool driver = true, const std::function<void(AppModel::Dependencies&)>& adjust = {})
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addMicrophone(11, "desk-mic", "Desk");
        if (driver)
            world.addVirtualDriver();
        model = adjust ? world.make(adjust) : world.make();
        ModelTestAccess::refreshDevices(*model);
        world.takeLog();
    }
    void confirm(AudioObjectId id)
    {
        world.run([model = model, id] { return model->confirmMicrophone(id); });
    }
    void ownVoice(bool on)
    {
        world.run([model = model, on] { return model->setOriginalVoice(on); });
    }
};

TEST(ModelMicCheck, AConfirmationClosesTheCheckAndSwitchesOwnVoiceOnOnlyTheFirstTime)
{
    MicWorld w;
    auto& model = *w.model;
    test::given.set(model.showMicCheck, true).set(model.micCheckReason, "说话前，请先确认要用的麦克风。");
    test::given.set(ModelTestAccess::meterPreviewMicID(model), 11);

    w.confirm(99);
    EXPECT_EQ(model.errorMessage.get(), "这个麦克风已断开，请重新选择。");
    EXPECT_FALSE(model.micConfirmed.get());
    EXPECT_TRUE(model.showMicCheck.get());

    auto statuses = std::make_shared<Log>();
    auto watch = model.status.subscribe([statuses, &model] { statuses->push_back(model.status.get()); });
    w.confirm(11);
    EXPECT_TRUE(model.micConfirmed.get());
    EXPECT_EQ(model.selectedInputID.get(), 11u);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(model).get(), "desk-mic");
    EXPECT_FALSE(model.showMicCheck.get());
    EXPECT_EQ(model.micCheckReason.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::meterPreviewMicID(model).get(), std::nullopt);
    EXPECT_EQ(*statuses, (Log{"已确认麦克风：Desk", "原声已开启：通话时自动转发你的声音"}));
    EXPECT_TRUE(model.originalVoiceOn.get());
    EXPECT_TRUE(ModelTestAccess::originalVoiceAutoStarted(model).get());
    EXPECT_FALSE(ModelTestAccess::forwardingActive(model).get());  // no call yet

    w.ownVoice(false);
    EXPECT_EQ(model.status.get(), "原声已关闭：对方只听到" + model.theirLanguage.get().displayName() + "翻译");
    w.confirm(10);
    EXPECT_EQ(model.status.get(), "已确认麦克风：USB");
    EXPECT_FALSE(model.originalVoiceOn.get());
}

TEST(ModelMicCheck, AnotherMicrophoneMovesOwnVoiceAndTheSameOneRestartsNothing)
{
    MicWorld w;
    auto& model = *w.model;
    test::given.set(model.callActive, true);
    w.confirm(10);
    EXPECT_TRUE(ModelTestAccess::forwardingActive(model).get());
    EXPECT_EQ(w.world.takeLog(), (Log{"directVoice stop", "directVoice start 10>51"}));

    w.confirm(10);
    EXPECT_EQ(w.world.takeLog(), Log{});
    EXPECT_EQ(model.status.get(), "已确认麦克风：USB");

    const std::string mine = model.myLanguage.get().displayName();
    const std::string their = model.theirLanguage.get().displayName();
    w.confirm(11);
    EXPECT_EQ(w.world.takeLog(), (Log{"directVoice stop", "directVoice stop", "directVoice start 11>51"}));
    EXPECT_EQ(model.status.get(), "原声已开启：对方先听到你说的" + mine + "，松开按钮后再听到" + their);

    model.setTranslateWhileHolding(true);
    w.ownVoice(false);
    w.ownVoice(true);
    EXPECT_EQ(model.status.get(), "原声已开启：对方听到你说的" + mine + "，每说完一句再听到" + their);
}

TEST(ModelMicCheck, OwnVoiceNeedsAConfirmedMicrophoneTheDriverAndPermission)
{
    {
        MicWorld w;
        auto& model = *w.model;
        w.ownVoice(true);
        EXPECT_EQ(model.micCheckReason.get(), "开启原声前，请先确认要用的麦克风。");
        EXPECT_TRUE(model.showMicCheck.get());
        EXPECT_FALSE(model.isChangingOriginalVoice.get());
        EXPECT_FALSE(model.originalVoiceOn.get());

        // Refused access: the request has said so; the switch stays off.
        test::given.set(model.micConfirmed, true);
        ModelTestAccess::setSelectedInputID(model, 10);
        w.world.microphoneAuthorized = false;
        w.ownVoice(true);
        EXPECT_EQ(model.errorMessage.get(), "没有麦克风权限。请在「系统设置 → 隐私与安全性 → 麦克风」里打开 Parlaro。");
        EXPECT_FALSE(model.originalVoiceOn.get());
        EXPECT_FALSE(model.isChangingOriginalVoice.get());
    }
    {
        MicWorld w(false);
        auto& model = *w.model;
        test::given.set(ModelTestAccess::originalVoiceOnByDefault(model), false);
        w.confirm(10);
        w.ownVoice(true);
        EXPECT_EQ(model.errorMessage.get(), "请先确认麦克风，并确认 wenmora 音频设备已安装。");
        EXPECT_FALSE(model.originalVoiceOn.get());
        EXPECT_FALSE(model.isChangingOriginalVoice.get());
    }
}

TEST(ModelMicCheck, QuickSwitchesStartForwardingOnceAndACutShortSwitchLeavesItUsable)
{
    std::vector<rt::Continuation<bool>> asked;
    bool failAsking = false;
    MicWorld w(true, [&](AppModel::Dependencies& d) {
        d.microphonePermission = [&]() -> rt::Async<bool> {
            if (failAsking)
                throw rt::CancellationError();
            co_return co_await rt::withContinuation<bool>(
                [&](rt::Continuation<bool> answer) { asked.push_back(answer); });
        };
    });
    auto& model = *w.model;
    test::given.set(ModelTestAccess::originalVoiceOnByDefault(model), false);
    w.confirm(10);
    test::given.set(model.callActive, true);

    auto first = rt::spawn([model = w.model] { return model->setOriginalVoice(true); });
    auto second = rt::spawn([model = w.model] { return model->setOriginalVoice(true); });
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(second.isFinished());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(model.isChangingOriginalVoice.get());
    asked[0].resume(true);
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(first.isFinished());
    EXPECT_EQ(w.world.takeLog(), (Log{"directVoice stop", "directVoice start 10>51"}));
    EXPECT_FALSE(model.isChangingOriginalVoice.get());

    w.ownVoice(false);
    failAsking = true;
    auto cut = rt::spawn([model = w.model] { return model->setOriginalVoice(true); });
    w.world.runtime.runUntilIdle();
    EXPECT_FALSE(model.isChangingOriginalVoice.get());
    EXPECT_FALSE(model.originalVoiceOn.get());
    failAsking = false;
    auto again = rt::spawn([model = w.model] { return model->setOriginalVoice(true); });
    w.world.runtime.runUntilIdle();
    ASSERT_EQ(asked.size(), 2u);
    asked[1].resume(true);
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(model.originalVoiceOn.get());
    EXPECT_TRUE(ModelTestAccess::forwardingActive(model).get());
}

// What the user says in the check teaches recognition the microphone before
// the first press: the words, without the quiet before and after them, go to
// a session of the user's language named as a press from that microphone
// names it. Nothing said, or another microphone confirmed than the one
// heard, teaches nothing.
TEST(ModelMicCheck, TheWordsSaidInTheCheckTeachRecognitionTheMicrophone)
{
    MicWorld w;
    auto& model = *w.model;
    float level = 0;
    w.world.audio.setInputSignal(11, [&level](std::uint32_t, double) { return level; });
    const auto check = [&](AudioObjectId heard, AudioObjectId confirmed, std::initializer_list<float> levels) {
        test::given.set(model.showMicCheck, true);
        w.world.run([&model] { return model.enableMeters(); });
        model.previewMicrophone(heard);
        for (const float each : levels) {
            level = each;
            w.world.audio.runInputQueues();
        }
        w.confirm(confirmed);
    };

    // Three buffers of 1024 frames each time: 0.38 s of quiet on each side.
    const float quiet = 0.0f;
    check(11, 11, {quiet, quiet, quiet, quiet, quiet, quiet, 0.3f, quiet, quiet, quiet, quiet, quiet, quiet});
    ASSERT_EQ(w.world.sessions.size(), 1u);
    const auto& taught = w.world.sessions[0];
    EXPECT_EQ(taught.locale, model.myLanguage.get().speechLocale);
    EXPECT_EQ(taught.mode, RecognitionMode::utterance);
    EXPECT_EQ(taught.session->input, "desk-mic");
    EXPECT_EQ(taught.session->calls, (std::vector<std::string>{"start", "finish"}));
    ASSERT_EQ(taught.session->appended().size(), 1u);
    // The words and 0.3 s of quiet on each side.
    EXPECT_EQ(taught.session->appended()[0]->frameLength(), 3 * 1024 + 2 * 14400u);

    check(11, 11, {0.0f, 0.0f});
    check(11, 10, {0.3f});
    EXPECT_EQ(w.world.sessions.size(), 1u);
}

TEST(ModelMicCheck, EnablingTheMetersAsksForAccessAndReadsTheDevicesAgain)
{
    ModelWorld world;
    world.microphoneAuthorized = false;
    world.addMicrophone(10, "usb-mic", "USB");
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->showMicCheck, true);
    world.addMicrophone(12, "new-mic", "New");
    world.microphoneAuthorized = true;
    world.run([model] { return model->enableMeters(); });
    EXPECT_TRUE(model->micAuthorized.get());
    EXPECT_TRUE(ModelTestAccess::metersEnabled(*model).get());
    EXPECT_EQ(model->inputDevices.get().size(), 2u);
    ASSERT_TRUE(world.meters->micDevice());
    EXPECT_EQ(world.meters->micDevice()->id, 10u);

    // Closing the check stops the preview.
    model->closeMicCheck();
    EXPECT_EQ(world.meters->micDevice(), std::nullopt);
}

}  // namespace
}  // namespace parlaro
