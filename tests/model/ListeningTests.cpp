#include "ModelWorld.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "speech/ModuleError.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace parlaro {
namespace {

using test::ModelWorld;
using Status = AudioCapturePermission::Status;
using Calls = std::vector<std::string>;

// Their recognizer and both translation directions are ready.
std::shared_ptr<AppModel> readyModel(ModelWorld& world)
{
    auto model = world.make();
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true).set(model->translationReady, true);
    return model;
}

void start(ModelWorld& world, const std::shared_ptr<AppModel>& model)
{
    world.run([model] { return ModelTestAccess::startListening(*model); });
}

bool logged(ModelWorld& world, const std::string& event)
{
    return std::find(world.log->begin(), world.log->end(), event) != world.log->end();
}

// Every value a text field takes, in order.
struct TextTrail {
    std::vector<std::string> values;
    rt::Subscription subscription;

    TextTrail(ModelField<std::string>& field)
        : subscription(field.subscribe([this, &field] { values.push_back(field.get()); }))
    {
    }
};

// An interruption of the running session, then a pause, then a new start,
// all before the interruption's own task gets to run.
rt::Async<void> interruptPauseAndStart(std::shared_ptr<AppModel> model, IncomingListening::ErrorHandler report,
                                       bool restart)
{
    report("R");
    co_await ModelTestAccess::pauseListening(*model);
    if (restart)
        co_await ModelTestAccess::startListening(*model);
}

TEST(ModelListening, AStartNeedsAReadyPairAndNoOtherStart)
{
    ModelWorld world;
    auto model = world.make();
    start(world, model);
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true);
    start(world, model);
    test::given.set(model->translationReady, true).set(model->theirEngine, std::nullopt);
    start(world, model);
    test::given.set(model->theirEngine, SpeechEngine::speech).set(model->isChangingListening, true);
    start(world, model);
    test::given.set(model->isChangingListening, false).set(model->isListening, true);
    start(world, model);
    EXPECT_TRUE(world.sessions.empty());
    EXPECT_EQ(model->listeningStatus.get(), "准备自动收听…");

    test::given.set(model->isListening, false);
    start(world, model);
    ASSERT_EQ(world.sessions.size(), 1u);
    EXPECT_EQ(world.sessions[0].locale, model->theirLanguage.get().speechLocale);
    EXPECT_EQ(world.sessions[0].mode, RecognitionMode::continuous);
    EXPECT_TRUE(model->isListening.get());
}

TEST(ModelListening, AStartListensAlsoWithoutTheCapturePermission)
{
    {
        ModelWorld world;
        world.realListener = true;
        world.captureStatus = Status::granted;
        auto model = readyModel(world);
        TextTrail trail(model->listeningStatus);
        start(world, model);
        EXPECT_TRUE(model->isListening.get());
        EXPECT_FALSE(model->isChangingListening.get());
        EXPECT_EQ(ModelTestAccess::listeningLanguageID(*model).get(), model->theirLanguage.get().id);
        EXPECT_EQ(trail.values, (Calls{"正在开启自动收听…", "自动收听中 · 对方说话即记录并翻译"}));
        EXPECT_EQ(world.listener->transcriber(), world.sessions.at(0).session);
        EXPECT_FALSE(ModelTestAccess::captureWasDenied(*model).get());
    }
    {
        ModelWorld world;
        world.realListener = true;
        world.captureStatus = Status::denied;
        auto model = readyModel(world);
        start(world, model);
        EXPECT_TRUE(model->isListening.get());
        EXPECT_TRUE(ModelTestAccess::captureWasDenied(*model).get());
        EXPECT_TRUE(model->audioCaptureMissing.get());
        EXPECT_EQ(model->listeningStatus.get(), "收听未开启 · 需要「系统录音」权限");
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    }
}

TEST(ModelListening, AFailedStartCleansUpAndSaysWhy)
{
    ModelWorld world;
    world.realListener = true;
    world.capture->startError = DomainError("SystemAudio", 1852797029, "E");
    auto model = readyModel(world);
    start(world, model);
    const auto& session = world.sessions.at(0).session;
    EXPECT_EQ(session->calls, (Calls{"start", "cancel"}));
    EXPECT_EQ(world.listener->transcriber(), nullptr);
    EXPECT_FALSE(model->isListening.get());
    EXPECT_FALSE(model->isChangingListening.get());
    EXPECT_TRUE(model->listeningFailed.get());
    EXPECT_EQ(ModelTestAccess::listeningError(*model).get(), "E");
    EXPECT_EQ(model->listeningStatus.get(), "收听未开启 · 请检查后重试");
    EXPECT_EQ(model->errorMessage.get(), "无法开始收听：E");
    EXPECT_FALSE(ModelTestAccess::permissionWasMissing(*model).get());

    // What the failed session still says is dropped.
    session->deliver("late", true);
    EXPECT_TRUE(model->entries.get().empty());

    // A recognizer that this system cannot serve fails the same way, with its code.
    ModelWorld refused;
    auto other = refused.make([](AppModel::Dependencies& d) {
        d.makeRecognitionSession = [](const std::string&, SpeechEngine,
                                      RecognitionMode) -> std::shared_ptr<RecognitionSession> {
            throw ModuleError(ModuleID::recognition, 1, "不可用");
        };
    });
    test::given.set(ModelTestAccess::theirSpeechReady(*other), true).set(other->translationReady, true);
    start(refused, other);
    EXPECT_EQ(other->errorMessage.get(), "无法开始收听：不可用（SR-1）");
    EXPECT_FALSE(logged(refused, "incoming start"));
}

TEST(ModelListening, AStartThatFailsForWantOfPermissionIsRetriedOnceGranted)
{
    ModelWorld world;
    world.realListener = true;
    world.captureStatus = Status::denied;
    world.capture->startError = DomainError("SystemAudio", 1, "E");
    auto model = readyModel(world);
    start(world, model);
    EXPECT_TRUE(model->listeningFailed.get());
    EXPECT_TRUE(ModelTestAccess::permissionWasMissing(*model).get());
    EXPECT_TRUE(model->audioCaptureMissing.get());
    EXPECT_EQ(model->listeningStatus.get(), "收听未开启 · 需要「系统录音」权限");
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    world.capture->startError.reset();
    world.run([model] { return ModelTestAccess::retryListening(*model); });
    EXPECT_EQ(world.sessions.size(), 1u);
    EXPECT_TRUE(ModelTestAccess::permissionWasMissing(*model).get());

    world.captureStatus = Status::granted;
    model->showError("旧的提示");
    world.run([model] { return ModelTestAccess::retryListening(*model); });
    EXPECT_EQ(world.sessions.size(), 2u);
    EXPECT_TRUE(model->isListening.get());
    EXPECT_FALSE(ModelTestAccess::permissionWasMissing(*model).get());
    EXPECT_FALSE(model->audioCaptureMissing.get());
    EXPECT_FALSE(model->listeningFailed.get());
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(model->listeningStatus.get(), "自动收听中 · 对方说话即记录并翻译");

    // Nothing was missing this time: the retry has nothing to do.
    world.run([model] { return ModelTestAccess::retryListening(*model); });
    EXPECT_EQ(world.sessions.size(), 2u);
}

TEST(ModelListening, AStopReportedDuringTheStartFailsIt)
{
    {
        // The capture gives up while it starts; its report arrives after the start returned.
        ModelWorld world;
        world.realListener = true;
        world.capture->stopOnStart = "设备已移除";
        auto model = readyModel(world);
        start(world, model);
        EXPECT_FALSE(model->isListening.get());
        EXPECT_TRUE(model->listeningFailed.get());
        EXPECT_EQ(ModelTestAccess::listeningError(*model).get(), "设备已移除（CAP-3）");
        EXPECT_EQ(model->errorMessage.get(), "无法开始收听：设备已移除（CAP-3）");
        EXPECT_EQ(world.sessions.at(0).session->calls, (Calls{"start", "finish"}));
        EXPECT_EQ(world.listener->transcriber(), nullptr);
    }
    {
        // The recognizer fails while its start is held up: only the reason is
        // recorded until the start picks it up.
        ModelWorld world;
        world.realListener = true;
        world.shapeSession = [](test::FakeRecognitionSession& session) { session.hangStart = true; };
        auto model = readyModel(world);
        auto task = rt::spawn([model]() -> rt::Async<void> { co_await ModelTestAccess::startListening(*model); });
        world.runtime.runUntilIdle();
        auto& session = *world.sessions.at(0).session;
        session.onFailure(ModuleError(ModuleID::recognition, 7, "R"));
        world.runtime.runUntilIdle();
        EXPECT_EQ(model->captureFailure.get(), "R（SR-7）");
        EXPECT_FALSE(model->listeningFailed.get());
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(model->listeningStatus.get(), "正在开启自动收听…");

        // A restart asked for meanwhile keeps off.
        test::given.set(model->listeningFailed, true);
        world.run([model] { return model->restartListening(); });
        EXPECT_TRUE(model->listeningFailed.get());
        EXPECT_EQ(world.sessions.size(), 1u);

        session.releaseStart();
        world.runtime.runUntilIdle();
        EXPECT_TRUE(task.isFinished());
        EXPECT_FALSE(model->isListening.get());
        EXPECT_EQ(model->errorMessage.get(), "无法开始收听：R（SR-7）");
        EXPECT_FALSE(model->isChangingListening.get());
    }
}

TEST(ModelListening, AnInterruptionPausesListeningAndShowsWhy)
{
    ModelWorld world;
    auto model = readyModel(world);
    start(world, model);
    test::given.set(model->themPartial, "半句");
    TextTrail trail(model->listeningStatus);
    world.incoming->onError("R");
    world.runtime.runUntilIdle();

    EXPECT_EQ(trail.values, (Calls{"已暂停自动收听", "收听已中断 · 点击重试收听"}));
    EXPECT_EQ(model->errorMessage.get(), "收听已中断：R");
    EXPECT_EQ(ModelTestAccess::listeningError(*model).get(), "R");
    EXPECT_TRUE(model->listeningFailed.get());
    EXPECT_FALSE(model->isListening.get());
    EXPECT_EQ(model->themPartial.get(), "");
    EXPECT_TRUE(logged(world, "incoming stop"));

    // The automatic decision leaves a failure alone; a restart listens again.
    world.run([model] { return ModelTestAccess::listeningReadinessNotice(*model); });
    EXPECT_EQ(world.sessions.size(), 1u);
    world.run([model] { return model->restartListening(); });
    EXPECT_EQ(world.sessions.size(), 2u);
    EXPECT_TRUE(model->isListening.get());
}

TEST(ModelListening, AnInterruptionOfAnEndedSessionLeavesTheNewOneAlone)
{
    {
        // Paused and started again before the interruption's task ran.
        ModelWorld world;
        auto model = readyModel(world);
        start(world, model);
        world.run([model, report = world.incoming->onError] { return interruptPauseAndStart(model, report, true); });
        EXPECT_TRUE(model->isListening.get());
        EXPECT_FALSE(model->listeningFailed.get());
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(model->listeningStatus.get(), "自动收听中 · 对方说话即记录并翻译");
    }
    {
        // Only paused: the pause stands and nothing is marked failed, so the
        // automatic decision may start again.
        ModelWorld world;
        auto model = readyModel(world);
        start(world, model);
        world.run([model, report = world.incoming->onError] { return interruptPauseAndStart(model, report, false); });
        EXPECT_FALSE(model->listeningFailed.get());
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(model->listeningStatus.get(), "已暂停自动收听");
        world.run([model] { return ModelTestAccess::listeningReadinessNotice(*model); });
        EXPECT_TRUE(model->isListening.get());
    }
    {
        // An old session's report after a later start changes nothing at all.
        ModelWorld world;
        auto model = readyModel(world);
        start(world, model);
        auto oldReport = world.incoming->onError;
        world.run([model] { return ModelTestAccess::pauseListening(*model); });
        start(world, model);
        oldReport("R");
        world.runtime.runUntilIdle();
        EXPECT_EQ(model->captureFailure.get(), std::nullopt);
        EXPECT_TRUE(model->isListening.get());
    }
}

}  // namespace
}  // namespace parlaro
