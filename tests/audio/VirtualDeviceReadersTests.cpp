#include "audio/AudioClient.h"
#include "audio/DeviceReaderDetector.h"
#include "audio/DriverIOWatch.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using sim::AudioOperation;
using sim::SimProcess;

constexpr std::int32_t ownPID = 4242;
constexpr AudioObjectId virtualMic = 20;

struct ReaderWorld {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    // A detector of the test's own, so no snapshot or registration carries
    // over from another test.
    std::shared_ptr<DeviceReaderDetector> detector = DeviceReaderDetector::make();

    ReaderWorld()
    {
        sim.setCurrentProcessID(ownPID);
        sim.addDevice(test::simDevice(virtualMic, "com.parlaro.virtualmic")
                          .input({2})
                          .output({2})
                          .with(AudioSelectors::driverIOActivity, std::uint32_t{0}));
        sim.addDevice(test::simDevice(30, "speakers").output({2}));
    }
};

TEST(DeviceReaderDetector, ReadsTheProcessObjectsAndKeepsThemBriefly)
{
    ReaderWorld world;
    auto& sim = world.sim;
    sim.addProcess({500, 77, "com.example.call", true, false, {virtualMic}, {}});
    sim.addProcess({501, 78, std::nullopt, false, true, {}, {30}});
    sim.store(501, {"pbid"_fcc}, AudioString{});  // a null bundle id
    sim.addProcess({502, 79, "com.example.idle", false, false, {}, {}});
    sim.addProcess({503, 80, "", true, true, {virtualMic}, {30}});
    sim.fail(503, "ppid"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);
    sim.fail(503, "piri"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);
    sim.addProcess({504, 81, "com.example.odd", true, false, {virtualMic}, {}});
    sim.fail(504, "pdv#"_fcc, AudioOperation::getPropertyDataSize, AudioStatuses::unspecified);

    auto detector = DeviceReaderDetector::make();
    const auto clients = detector->clients();
    ASSERT_TRUE(clients);
    ASSERT_EQ(clients->size(), 3u);
    EXPECT_EQ((*clients)[0], (AudioClient{77, "com.example.call", true, {virtualMic}, false, {}}));
    EXPECT_EQ((*clients)[1], (AudioClient{78, std::nullopt, false, {}, true, {30}}));
    EXPECT_EQ((*clients)[2], (AudioClient{0, std::nullopt, false, {virtualMic}, true, {30}}));

    // 50 ms later the same list comes back without reading; 150 ms later it is
    // read again.
    sim.addProcess({505, 82, "com.example.new", false, true, {}, {30}});
    world.runtime.advance(0.05);
    EXPECT_EQ(detector->clients()->size(), 3u);
    world.runtime.advance(0.1);
    EXPECT_EQ(detector->clients()->size(), 4u);

    // Without a process list there is no client list at all.
    sim.setProcessListAvailable(false);
    EXPECT_EQ(detector->clients(), std::nullopt);
}

TEST(DeviceReaderDetector, QueriesLeaveOutThisProcessAndTheProgramsOwn)
{
    const std::vector<AudioClient> clients{
        {77, "com.example.call", true, {virtualMic}, true, {30}},
        {78, std::nullopt, false, {}, true, {virtualMic}},
        {79, "com.parlaro.Parlaro.helper", true, {virtualMic}, true, {virtualMic}},
        {80, "com.parlaro.Parlaro", true, {virtualMic}, true, {virtualMic}},
        {ownPID, "org.other", true, {virtualMic}, true, {virtualMic}},
        {81, "com.example.paused", false, {30}, false, {30}},
    };
    const auto playing = outputClients(clients, virtualMic, {ownPID});
    ASSERT_EQ(playing.size(), 1u);
    EXPECT_EQ(playing[0].pid, 78);
    EXPECT_TRUE(outputClients(clients, virtualMic, {ownPID, 78}).empty());
    EXPECT_EQ(outputClients(clients, 30, {}).size(), 1u);

    EXPECT_EQ(microphoneRoute(clients, virtualMic, ownPID), CallMicrophoneRoute::connected);
    EXPECT_EQ(microphoneRoute(clients, std::nullopt, ownPID), CallMicrophoneRoute::idle);
    EXPECT_EQ(microphoneRoute(clients, 30, ownPID), CallMicrophoneRoute::idle);
    EXPECT_EQ(otherInputClients(clients, virtualMic, ownPID), CallMicrophoneRoute::connected);
    // Only the program's own helpers and this process record: idle.
    const std::vector<AudioClient> ownOnly(clients.begin() + 2, clients.end());
    EXPECT_EQ(microphoneRoute(ownOnly, virtualMic, ownPID), CallMicrophoneRoute::idle);
    EXPECT_EQ(microphoneRoute({clients[1]}, virtualMic, ownPID), CallMicrophoneRoute::idle);
    // An id that only begins like the program's is another program's.
    const AudioClient lookalike{82, "com.parlaro.ParlaroTools", true, {virtualMic}, false, {}};
    EXPECT_EQ(microphoneRoute({lookalike}, virtualMic, ownPID), CallMicrophoneRoute::connected);

    // Other users of a device: running or not, but never the program itself.
    ReaderWorld world;
    world.sim.addProcess({600, ownPID, "org.parlaro", true, true, {virtualMic}, {30}});
    world.sim.addProcess({601, 90, "com.parlaro.Parlaro.helper", true, true, {virtualMic}, {30}});
    world.sim.addProcess({603, 92, "com.parlaro.Parlaro", true, true, {virtualMic}, {30}});
    auto& detector = *world.detector;
    EXPECT_FALSE(isDeviceUsedByOtherProcesses(virtualMic, detector));
    world.sim.addProcess({602, 91, "com.example.paused", false, false, {virtualMic}, {}});
    DeviceReaderDetector::invalidate(nullptr, detector);
    EXPECT_TRUE(isDeviceUsedByOtherProcesses(virtualMic, detector));
    EXPECT_FALSE(isDeviceUsedByOtherProcesses(30, detector));
    EXPECT_EQ(microphoneRoute(*detector.clients(), virtualMic, ownPID), CallMicrophoneRoute::idle);
    world.sim.setProcessListAvailable(false);
    EXPECT_TRUE(isDeviceUsedByOtherProcesses(30, detector));
}

TEST(DeviceReaderDetector, WatchesEachProcessOnceAndStopsCleanly)
{
    ReaderWorld world;
    auto& sim = world.sim;
    sim.addProcess({500, 77, "com.example.call", true, false, {virtualMic}, {}});
    sim.addProcess({501, 78, "com.example.music", false, true, {}, {30}});

    auto detector = DeviceReaderDetector::make();
    int changes = 0;
    detector->start([&changes] { ++changes; });
    detector->start([&changes] { changes += 10; });  // restarts: nothing twice
    EXPECT_EQ(sim.listeners().size(), 9u);
    EXPECT_EQ(sim.listenerCount(audioSystemObject, {"prs#"_fcc}), 1u);
    EXPECT_EQ(sim.listenerCount(500, {"piri"_fcc}), 1u);
    EXPECT_EQ(sim.listenerCount(500, {"pdv#"_fcc, AudioScope::input}), 1u);
    EXPECT_EQ(sim.listenerCount(501, {"piro"_fcc}), 1u);
    EXPECT_EQ(sim.listenerCount(501, {"pdv#"_fcc, AudioScope::output}), 1u);
    for (const auto& listener : sim.listeners())
        EXPECT_EQ(listener.queue, "main");

    // A process change clears the snapshot and calls back on the main actor.
    ASSERT_TRUE(detector->clients());
    sim.notify(500, {"piri"_fcc});
    EXPECT_EQ(changes, 0);
    world.runtime.runUntilIdle();
    EXPECT_EQ(changes, 10);
    EXPECT_FALSE(detector->snapshot());

    // A new process is watched, an ended one dropped; the server announces
    // each change of the process list.
    sim.addProcess({502, 79, "com.example.new", true, false, {virtualMic}, {}});
    sim.removeObject(501);
    world.runtime.runUntilIdle();
    EXPECT_EQ(changes, 30);
    EXPECT_EQ(detector->watchedProcesses(), 2u);
    EXPECT_EQ(sim.listeners().size(), 9u);
    EXPECT_EQ(sim.listenerCount(502, {"piro"_fcc}), 1u);

    // Stop removes everything; a notification already on its way does nothing.
    sim.notify(502, {"piro"_fcc});
    detector->stop();
    world.runtime.runUntilIdle();
    EXPECT_EQ(changes, 30);
    EXPECT_TRUE(sim.listeners().empty());
    EXPECT_FALSE(detector->isStarted());

    // Without a process list the detector does not start at all.
    sim.setProcessListAvailable(false);
    detector->start([&changes] { ++changes; });
    EXPECT_FALSE(detector->isStarted());
    EXPECT_TRUE(sim.listeners().empty());

    // Releasing a started detector removes its registrations as well.
    sim.setProcessListAvailable(true);
    detector->start([] {});
    EXPECT_EQ(sim.listeners().size(), 9u);
    detector.reset();
    EXPECT_TRUE(sim.listeners().empty());

    // invalidate clears the given detector's snapshot and then runs its
    // callback.
    auto& own = *world.detector;
    ASSERT_TRUE(own.clients());
    bool ran = false;
    DeviceReaderDetector::invalidate(
        [&] {
            ran = true;
            EXPECT_FALSE(own.snapshot());
        },
        own);
    EXPECT_TRUE(ran);
}

TEST(DriverIOWatch, ListensToTheDriversPropertyUntilReleased)
{
    ReaderWorld world;
    auto& sim = world.sim;
    int changes = 0;

    EXPECT_EQ(DriverIOWatch::make(30, [&changes] { ++changes; }), nullptr);  // no 'dcio'
    sim.fail(virtualMic, "dcio"_fcc, AudioOperation::addPropertyListener, AudioStatuses::unspecified, 1);
    EXPECT_EQ(DriverIOWatch::make(virtualMic, [&changes] { ++changes; }), nullptr);
    EXPECT_TRUE(sim.listeners().empty());

    auto watch = DriverIOWatch::make(virtualMic, [&changes] { ++changes; });
    ASSERT_TRUE(watch);
    ASSERT_EQ(sim.listeners().size(), 1u);
    EXPECT_EQ(sim.listeners()[0].address, (AudioPropertyAddress{"dcio"_fcc}));
    EXPECT_EQ(sim.listeners()[0].queue, "main");
    sim.notify(virtualMic, {"dcio"_fcc});
    world.runtime.runUntilIdle();
    EXPECT_EQ(changes, 1);

    sim.notify(virtualMic, {"dcio"_fcc});
    watch.reset();
    world.runtime.runUntilIdle();
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(sim.listeners().empty());
}

}  // namespace
}  // namespace parlaro
