#include "support/FakeRecognitionSession.h"

#include "audio/CallAudioCapture.h"
#include "audio/IncomingListener.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::FakeRecognitionSession;

// A capture that records how it is driven and delivers what the test gives it.
class FakeCapture final : public CallAudioCapturing {
public:
    std::optional<ModuleError> startError;
    std::vector<std::string> calls;
    bool ranOnQueue = true;

    const std::shared_ptr<rt::SerialQueue>& queue() const override { return queue_; }
    void start(BufferHandler onBuffer, StopHandler onStop) override
    {
        ranOnQueue = ranOnQueue && queue_->isCurrent();
        calls.push_back("start");
        onBuffer_ = std::move(onBuffer);
        onStop_ = std::move(onStop);
        if (startError)
            throw *startError;
    }
    void stop() override
    {
        ranOnQueue = ranOnQueue && queue_->isCurrent();
        calls.push_back("stop");
        onBuffer_ = nullptr;
        onStop_ = nullptr;
    }
    bool stopAndWait() override
    {
        return queue_->syncWithin(0.5, [this] { stop(); });
    }

    void deliver(std::shared_ptr<const PcmBuffer> buffer)
    {
        queue_->async([this, buffer] {
            if (onBuffer_)
                onBuffer_(buffer);
        });
    }
    void giveUp(const std::string& reason)
    {
        queue_->async([this, reason] {
            if (onStop_)
                onStop_(reason);
        });
    }

private:
    std::shared_ptr<rt::SerialQueue> queue_ = rt::makeSerialQueue("call-audio-capture");
    BufferHandler onBuffer_;
    StopHandler onStop_;
};

std::shared_ptr<const PcmBuffer> someAudio()
{
    auto buffer = std::make_shared<PcmBuffer>(AudioFormat{48000, 2, SampleType::float32, true}, 512);
    buffer->setFrameLength(512);
    return buffer;
}

struct Listening {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    std::shared_ptr<FakeCapture> capture = std::make_shared<FakeCapture>();
    std::shared_ptr<IncomingListener> listener = std::make_shared<IncomingListener>(capture);
    std::vector<std::pair<std::string, bool>> results;
    std::vector<std::string> errors;

    rt::TaskHandle<> start(std::shared_ptr<FakeRecognitionSession> session)
    {
        return test::runTask(runtime, [this, session]() -> rt::Async<void> {
            co_await listener->start(
                session, [this](const std::string& text, bool isFinal) { results.emplace_back(text, isFinal); },
                [this](const std::string& text) { errors.push_back(text); });
        });
    }
    rt::TaskHandle<> stop()
    {
        return test::runTask(runtime, [this]() -> rt::Async<void> { co_await listener->stop(); });
    }
};

TEST(IncomingListener, FeedsTheSessionWhileListeningAndNotAfter)
{
    Listening t;
    // Never started: the capture is stopped all the same, nothing finished.
    t.stop().result();
    EXPECT_EQ(t.capture->calls, (std::vector<std::string>{"stop"}));

    auto session = std::make_shared<FakeRecognitionSession>();
    t.start(session).result();
    EXPECT_EQ(t.capture->calls, (std::vector<std::string>{"stop", "stop", "start"}));
    EXPECT_TRUE(t.capture->ranOnQueue);
    EXPECT_EQ(t.listener->transcriber(), session);

    t.capture->deliver(someAudio());
    t.capture->deliver(someAudio());
    t.runtime.runUntilIdle();
    EXPECT_EQ(session->appended().size(), 2u);
    session->deliver("你好", false);
    EXPECT_EQ(t.results, (std::vector<std::pair<std::string, bool>>{{"你好", false}}));

    // A buffer already on its way when stop begins is delivered before the
    // stop (the queue is serial); none after.
    t.capture->deliver(someAudio());
    t.stop().result();
    t.capture->deliver(someAudio());
    t.runtime.runUntilIdle();
    EXPECT_EQ(session->appended().size(), 3u);
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(t.listener->transcriber(), nullptr);

    // A new start replaces the session; the earlier one is not finished again.
    auto next = std::make_shared<FakeRecognitionSession>();
    t.start(next).result();
    auto third = std::make_shared<FakeRecognitionSession>();
    t.start(third).result();
    EXPECT_EQ(t.listener->transcriber(), third);
    EXPECT_EQ(next->calls, (std::vector<std::string>{"start"}));

    // The quit path lets the session go without finishing or cancelling it.
    t.listener->dropSession();
    EXPECT_EQ(t.listener->transcriber(), nullptr);
    EXPECT_EQ(third->calls, (std::vector<std::string>{"start"}));
}

TEST(IncomingListener, FailuresReachTheCallerOrTheErrorCallbackWithTheirCodes)
{
    Listening t;
    auto running = std::make_shared<FakeRecognitionSession>();
    t.start(running).result();

    // While listening: a session failure and a capture that gave up.
    running->onFailure(ModuleError(ModuleID::recognition, 2, "识别中断"));
    t.capture->giveUp("默认输出设备无法使用");
    t.capture->giveUp("无法开始收听系统声音（560947818）（CAP-2）");
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.errors,
              (std::vector<std::string>{"识别中断（SR-2）", "默认输出设备无法使用（CAP-3）",
                                        "无法开始收听系统声音（560947818）（CAP-2）（CAP-3）"}));
    EXPECT_EQ(t.listener->transcriber(), running);

    // A session that cannot start: the capture is stopped, the session
    // cancelled, the error thrown; the listener keeps its earlier session.
    t.capture->calls.clear();
    auto refused = std::make_shared<FakeRecognitionSession>();
    refused->startError = ModuleError(ModuleID::recognition, 3, "没有权限");
    auto failed = t.start(refused);
    EXPECT_THROW(
        try { failed.result(); } catch (const ModuleError& error) {
            EXPECT_EQ(error.localizedDescription(), "没有权限（SR-3）");
            throw;
        },
        ModuleError);
    EXPECT_EQ(t.capture->calls, (std::vector<std::string>{"stop"}));
    EXPECT_EQ(refused->calls, (std::vector<std::string>{"start", "cancel"}));
    EXPECT_EQ(t.listener->transcriber(), running);

    // A capture that cannot start: the same clean-up after it.
    t.capture->calls.clear();
    t.capture->startError = ModuleError(ModuleID::callAudio, 2, "无法开始收听系统声音（-50）");
    auto deaf = std::make_shared<FakeRecognitionSession>();
    auto noCapture = t.start(deaf);
    EXPECT_THROW(noCapture.result(), ModuleError);
    EXPECT_EQ(t.capture->calls, (std::vector<std::string>{"stop", "start", "stop"}));
    EXPECT_EQ(deaf->calls, (std::vector<std::string>{"start", "cancel"}));
    EXPECT_EQ(t.listener->transcriber(), running);
}

// The real capture on the simulated system: what the call application plays
// reaches the session until listening stops; a capture that gives up shows
// both its own code and CAP-3.
TEST(IncomingListener, ListensToTheSimulatedCall)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem system;
    system.addProcess({501, 77, "com.example.call", true, true, {}, {}, [](std::uint32_t, double) { return 0.2f; }});
    auto farEnd = std::make_shared<FarEndActivity>();
    auto capture = std::make_shared<CallAudioCapture>(farEnd);
    auto listener = std::make_shared<IncomingListener>(capture);
    std::vector<std::string> errors;
    auto session = std::make_shared<FakeRecognitionSession>();
    test::runTask(runtime, [&]() -> rt::Async<void> {
        co_await listener->start(
            session, [](const std::string&, bool) {}, [&errors](const std::string& text) { errors.push_back(text); });
    }).result();

    system.runIOCycle(capture->aggregateID(), 480);
    system.runIOCycle(capture->aggregateID(), 480);
    runtime.runUntilIdle();
    ASSERT_EQ(session->appended().size(), 2u);
    EXPECT_FLOAT_EQ(session->appended()[0]->floatSample(0, 0), 0.2f);

    // Every rebuild fails: after five, the error callback hears of it.
    system.fail(sim::anyObject, sim::anySelector, sim::AudioOperation::createProcessTap, -66680);
    system.notify(audioSystemObject, {AudioSelectors::serviceRestarted});
    runtime.advance(4.0);
    EXPECT_EQ(errors, (std::vector<std::string>{"无法开始收听系统声音（-66680）（CAP-2）（CAP-3）"}));
    EXPECT_EQ(listener->transcriber(), session);

    system.clearFailures();
    system.notify(audioSystemObject, {AudioSelectors::serviceRestarted});
    runtime.runUntilIdle();
    const AudioObjectId device = capture->aggregateID();
    system.runIOCycle(device, 480);
    test::runTask(runtime, [&]() -> rt::Async<void> { co_await listener->stop(); }).result();
    EXPECT_EQ(session->appended().size(), 3u);
    EXPECT_EQ(session->calls, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(system.runIOCycle(device, 480), AudioStatuses::badObject);
    EXPECT_TRUE(system.taps().empty());
}

}  // namespace
}  // namespace parlaro
