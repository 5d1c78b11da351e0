// The last reference to an engine object may go on the object's own queue
// thread, mid-job: the queue dies with it there, and its thread must carry
// on safely with what it still owns.

#include "audio/AudioDeviceWatcher.h"
#include "audio/CallAudioCapture.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace parlaro {
namespace {

constexpr auto patience = std::chrono::seconds(10);

// A runtime whose serial queues have threads of their own.
struct ThreadQueues {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem system;
    rt::ThreadQueueFactory threads;
    rt::EnvironmentScope scope{[this] {
        rt::Environment environment = rt::environment();
        environment.queues = &threads;
        return environment;
    }()};
};

TEST(QueueRelease, CaptureReleasedWhileItsStopWaitsOnTheQueue)
{
    ThreadQueues t;
    auto capture = std::make_shared<CallAudioCapture>(std::make_shared<FarEndActivity>());
    std::weak_ptr<rt::SerialQueue> queue = capture->queue();

    // The queue is busy, so the quit path gives up waiting and leaves its
    // stop queued, holding the capture; the owner lets go meanwhile.
    std::promise<void> gate;
    capture->queue()->async([busy = gate.get_future().share()] { busy.wait(); });
    EXPECT_FALSE(capture->stopAndWait());
    std::promise<void> after;
    capture->queue()->async([&after] { after.set_value(); });
    std::weak_ptr<CallAudioCapture> weak = capture;
    capture.reset();
    EXPECT_FALSE(weak.expired()) << "the queued stop keeps the capture";

    // The stop runs and lets go of the last reference on the queue's thread;
    // the queue goes with it and its thread still runs what was queued.
    gate.set_value();
    EXPECT_EQ(after.get_future().wait_for(patience), std::future_status::ready);
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(queue.expired());
}

TEST(QueueRelease, WatcherReleasedDuringItsRead)
{
    ThreadQueues t;
    std::promise<void> reading;
    std::promise<void> gate;
    auto release = gate.get_future().share();
    int deliveries = 0;
    auto watcher = AudioDeviceWatcher::make(
        [&reading, release] {
            reading.set_value();
            release.wait();
            return std::vector<AudioDevice>{};
        },
        [&deliveries](std::vector<AudioDevice>, rt::Instant) { ++deliveries; });
    std::weak_ptr<rt::SerialQueue> queue = watcher->queue();
    watcher->start();
    t.system.notify(audioSystemObject, {"dev#"_fcc});

    // The debounced read starts on the watcher's thread and holds the watcher
    // while the owner lets go of it.
    std::shared_future<void> started = reading.get_future().share();
    for (int i = 0; i < 1000 && started.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready; ++i)
        t.runtime.advance(AudioDeviceWatcher::debounceSeconds);
    ASSERT_EQ(started.wait_for(patience), std::future_status::ready);
    std::promise<void> after;
    watcher->queue()->async([&after] { after.set_value(); });
    std::weak_ptr<AudioDeviceWatcher> weak = watcher;
    watcher.reset();

    gate.set_value();
    EXPECT_EQ(after.get_future().wait_for(patience), std::future_status::ready);
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(queue.expired());
    t.runtime.runUntilIdle();
    EXPECT_EQ(deliveries, 0) << "a delivery for a watcher that is gone is dropped";
}

}  // namespace
}  // namespace parlaro
