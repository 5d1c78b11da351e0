#include "app/StartupProbes.h"

#include "model/ModelDependencies.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

using namespace parlaro;

TEST(StartupProbes, ThisProcessNeverCountsAndThereIsNoCapturePermissionToAsk)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    audio.addDevice({.id = 50, .uid = virtualMicUID, .name = "wenmora", .inputBuffers = {2}, .outputBuffers = {2}});
    audio.addProcess({.id = 900,
                      .pid = audio.currentProcessID(),
                      .bundleID = "com.example.caller",
                      .runningOutput = true,
                      .outputDevices = {50}});
    AppModel::Dependencies d;
    app::useStartupProbes(d, DeviceReaderDetector::make());

    EXPECT_FALSE(d.speakerPlayback(std::nullopt));
    EXPECT_FALSE(d.speakerPlayback(50)) << "only this process plays there";
    audio.addProcess(
        {.id = 901, .pid = 777, .bundleID = "com.example.caller", .runningOutput = true, .outputDevices = {50}});
    AppModel::Dependencies fresh;
    app::useStartupProbes(fresh, DeviceReaderDetector::make());
    EXPECT_TRUE(fresh.speakerPlayback(50)) << "another process does count";
    EXPECT_EQ(d.callRouteInspector(std::nullopt), CallMicrophoneRoute::idle);
    ASSERT_TRUE(d.capturePermission);
    EXPECT_EQ(d.capturePermission(), std::nullopt);
    EXPECT_EQ(AudioCapturePermission::preflight(), std::nullopt);
}
