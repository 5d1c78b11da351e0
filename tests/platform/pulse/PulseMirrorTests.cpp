#include "platform/linux/pulse/PulseHostClock.h"
#include "platform/linux/pulse/PulseMirror.h"
#include "platform/linux/pulse/VirtualMicModules.h"

#include <gtest/gtest.h>

namespace parlaro::sys {
namespace {

constexpr std::int32_t ownPid = 1000;

PulseSinkOrSource sink(std::uint32_t index, const std::string& name, std::uint32_t monitor,
                       std::map<std::string, std::string> properties = {})
{
    PulseSinkOrSource made;
    made.index = index;
    made.name = name;
    made.description = name + " description";
    made.channels = 2;
    made.rate = 48000;
    made.monitor = monitor;
    made.properties = std::move(properties);
    return made;
}

PulseSinkOrSource source(std::uint32_t index, const std::string& name, std::uint32_t monitorOf,
                         std::map<std::string, std::string> properties = {})
{
    PulseSinkOrSource made = sink(index, name, pulseNoIndex, std::move(properties));
    made.channels = 1;
    made.monitorOf = monitorOf;
    return made;
}

PulseStreamInfo stream(std::uint32_t index, std::uint32_t device, std::int32_t pid, bool corked = false,
                       std::uint32_t client = 7)
{
    return {index, client, device, corked, {{"application.process.id", std::to_string(pid)}}};
}

// A server with the three virtual microphone objects, as a server that
// copies sink properties onto monitors shows them, and one real headset.
PulseServerState serverWithVirtualMic()
{
    const std::map<std::string, std::string> injection{{uidProperty, injectionUID}, {versionProperty, "1.0"}};
    const std::map<std::string, std::string> mic{{uidProperty, virtualMicUID}, {versionProperty, "1.0"}};
    PulseServerState state;
    state.sinks[0] = sink(0, "parlaro_virtualmic", 10, injection);
    state.sinks[1] = sink(1, "parlaro_virtualspeaker", 11, mic);
    state.sinks[2] = sink(2, "alsa_output.usb", 12, {{"device.bus", "usb"}, {"device.api", "alsa"}});
    state.sinks[2].activePort = "analog-output-headphones";
    state.sources[10] = source(10, "parlaro_virtualmic.monitor", 0, injection);
    state.sources[11] = source(11, "parlaro_virtualspeaker.monitor", 1, mic);
    state.sources[12] = source(12, "alsa_output.usb.monitor", 2);
    state.sources[13] = source(13, "parlaro_virtualmic_input", pulseNoIndex, mic);
    state.defaultSink = "alsa_output.usb";
    state.defaultSource = "parlaro_virtualmic_input";
    return state;
}

const AudioPropertyValue& at(const Mirror& mirror, AudioObjectId id, const AudioPropertyAddress& address)
{
    static const AudioPropertyValue none = std::uint32_t{0xdeadbeef};
    const auto* value = mirror.value(id, address);
    return value ? *value : none;
}

TEST(PulseMirror, DevicesPairSidesByUIDAndNeverCountMonitors)
{
    MirrorIds ids;
    const Mirror mirror = buildMirror(serverWithVirtualMic(), {}, ownPid, ids);

    const AudioObjectId injection = mirror.deviceWithUID(injectionUID);
    const AudioObjectId mic = mirror.deviceWithUID(virtualMicUID);
    const AudioObjectId headset = mirror.deviceWithUID("alsa_output.usb");
    ASSERT_NE(injection, 0u);
    ASSERT_NE(mic, 0u);
    ASSERT_NE(headset, 0u);
    // Monitors carrying copied properties are sides, never devices.
    EXPECT_EQ(mirror.deviceWithUID("parlaro_virtualmic.monitor"), 0u);
    EXPECT_EQ(std::get<std::vector<std::uint32_t>>(at(mirror, audioSystemObject, {"dev#"_fcc})).size(), 3u);

    // The microphone: the remap source in, the virtual speaker out.
    EXPECT_EQ(mirror.find(mic)->sourceName, "parlaro_virtualmic_input");
    EXPECT_EQ(mirror.find(mic)->sinkName, "parlaro_virtualspeaker");
    // The injection: its own sink out, the speaker's monitor in.
    EXPECT_EQ(mirror.find(injection)->sinkName, "parlaro_virtualmic");
    EXPECT_EQ(mirror.find(injection)->sourceName, "parlaro_virtualspeaker.monitor");
    EXPECT_EQ(at(mirror, injection, {"slay"_fcc, AudioScope::input}), AudioPropertyValue(AudioBufferLayout{{1}}));
    EXPECT_EQ(at(mirror, headset, {"slay"_fcc, AudioScope::input}), AudioPropertyValue(AudioBufferLayout{}));

    EXPECT_EQ(at(mirror, mic, {"tran"_fcc}), AudioPropertyValue(std::uint32_t{"virt"_fcc}));
    EXPECT_EQ(at(mirror, headset, {"tran"_fcc}), AudioPropertyValue(std::uint32_t{"usb "_fcc}));
    EXPECT_EQ(at(mirror, headset, {"ssrc"_fcc, AudioScope::output}), AudioPropertyValue(std::uint32_t{"hdpn"_fcc}));
    EXPECT_EQ(at(mirror, mic, {"dcvr"_fcc}), AudioPropertyValue(AudioString("1.0")));
    EXPECT_EQ(mirror.value(headset, {"dcio"_fcc}), nullptr);
    EXPECT_EQ(at(mirror, headset, {"fsiz"_fcc}), AudioPropertyValue(std::uint32_t{pulseCycleFrames}));

    EXPECT_EQ(at(mirror, audioSystemObject, {"dOut"_fcc}), AudioPropertyValue(std::uint32_t{headset}));
    EXPECT_EQ(at(mirror, audioSystemObject, {"dIn "_fcc}), AudioPropertyValue(std::uint32_t{mic}));
}

TEST(PulseMirror, OursAreObjectsWithOurUIDAndTheMonitorsOfOurSinks)
{
    PulseServerState state = serverWithVirtualMic();
    // As a server that copies nothing onto monitors shows them.
    state.sources[10].properties.clear();
    state.sources[11].properties.clear();
    // Someone else's sink naming no device of ours with an empty value.
    state.sinks[3] = sink(3, "other_null_sink", 14, {{uidProperty, ""}});
    state.sources[14] = source(14, "other_null_sink.monitor", 3);

    EXPECT_TRUE(isOurs(state.sinks[0], state));
    EXPECT_TRUE(isOurs(state.sinks[1], state));
    EXPECT_TRUE(isOurs(state.sources[13], state));
    EXPECT_TRUE(isOurs(state.sources[10], state));
    EXPECT_TRUE(isOurs(state.sources[11], state));
    EXPECT_FALSE(isOurs(state.sinks[2], state));
    EXPECT_FALSE(isOurs(state.sources[12], state));
    EXPECT_FALSE(isOurs(state.sinks[3], state));
    EXPECT_FALSE(isOurs(state.sources[14], state));
    // A monitor whose sink the server no longer lists.
    EXPECT_FALSE(isOurs(source(15, "gone.monitor", 99), state));
}

TEST(PulseMirror, AMonitorAsDefaultInputIsAnUnlistedDeviceNamedAfterItsSource)
{
    MirrorIds ids;
    PulseServerState state = serverWithVirtualMic();
    const Mirror before = buildMirror(state, {}, ownPid, ids);
    state.defaultSource = "alsa_output.usb.monitor";
    state.sourceOutputs[40] = stream(40, 12, 4242);  // a recorder of what the headset plays
    // As a server that copies nothing onto monitors shows ours.
    state.sources[10].properties.clear();
    const Mirror mirror = buildMirror(state, {}, ownPid, ids);

    const AudioObjectId monitor = mirror.deviceWithUID("alsa_output.usb.monitor");
    ASSERT_NE(monitor, 0u);
    EXPECT_NE(monitor, mirror.deviceWithUID("alsa_output.usb"));
    EXPECT_EQ(at(mirror, audioSystemObject, {"dIn "_fcc}), AudioPropertyValue(std::uint32_t{monitor}));
    const auto changes = mirrorChanges(before, mirror);
    EXPECT_NE(std::find(changes.begin(), changes.end(),
                        std::make_pair(AudioObjectId{audioSystemObject}, AudioPropertyAddress{"dIn "_fcc})),
              changes.end());
    EXPECT_EQ(std::find(changes.begin(), changes.end(),
                        std::make_pair(AudioObjectId{audioSystemObject}, AudioPropertyAddress{"dev#"_fcc})),
              changes.end());
    const auto devices = std::get<std::vector<std::uint32_t>>(at(mirror, audioSystemObject, {"dev#"_fcc}));
    EXPECT_EQ(devices.size(), 3u);
    EXPECT_EQ(std::find(devices.begin(), devices.end(), monitor), devices.end());
    const MirrorObject& object = *mirror.find(monitor);
    EXPECT_TRUE(object.monitor);
    EXPECT_EQ(object.sourceName, "alsa_output.usb.monitor");
    EXPECT_EQ(object.sinkName, "");
    EXPECT_EQ(at(mirror, monitor, {"slay"_fcc, AudioScope::input}), AudioPropertyValue(AudioBufferLayout{{1}}));
    EXPECT_EQ(at(mirror, monitor, {"slay"_fcc, AudioScope::output}), AudioPropertyValue(AudioBufferLayout{}));

    // The virtual microphone's monitors are no devices, whether or not they
    // carry its properties.
    EXPECT_EQ(mirror.deviceWithUID("parlaro_virtualmic.monitor"), 0u);
    EXPECT_EQ(mirror.deviceWithUID("parlaro_virtualspeaker.monitor"), 0u);

    // Recording a monitor is no use of an input device.
    const AudioObjectId recorder = mirror.processWithPID(4242);
    EXPECT_EQ(at(mirror, recorder, {"pdv#"_fcc, AudioScope::input}), AudioPropertyValue(std::vector<std::uint32_t>{}));
    EXPECT_EQ(at(mirror, recorder, {"piri"_fcc}), AudioPropertyValue(std::uint32_t{0}));
}

TEST(PulseMirror, SourcesInFrontOfAMicrophoneAreMicrophonesWithItsTransport)
{
    MirrorIds ids;
    PulseServerState state = serverWithVirtualMic();
    const std::map<std::string, std::string> filter{{"device.class", "filter"}};
    auto over = [&](const std::string& master) {
        auto properties = filter;
        properties["device.master_device"] = master;
        return properties;
    };
    state.sources[20] = source(20, "alsa_input.usb", pulseNoIndex, {{"device.bus", "usb"}, {"device.api", "alsa"}});
    // Echo cancelling over the headset's microphone, and a remap over that.
    state.sources[21] = source(21, "echo_cancelled", pulseNoIndex, over("alsa_input.usb"));
    state.sources[22] = source(22, "remapped_echo_cancelled", pulseNoIndex, over("echo_cancelled"));
    // A noise filter that does not say what it filters, and a microphone
    // stand-in with no properties at all.
    state.sources[23] = source(23, "noise_suppressed", pulseNoIndex, filter);
    state.sources[24] = source(24, "stand_in", pulseNoIndex);
    // Filters naming each other, or a device that is gone.
    state.sources[25] = source(25, "loop_a", pulseNoIndex, over("loop_b"));
    state.sources[26] = source(26, "loop_b", pulseNoIndex, over("loop_a"));
    state.sources[27] = source(27, "orphan", pulseNoIndex, over("unplugged"));
    // Echo cancelling over our own microphone, and a remap over the
    // injection's monitor as a server that copies nothing onto monitors shows
    // it: the user's voice would be ours.
    state.sources[10].properties.clear();
    state.sources[28] = source(28, "echo_cancelled_virtual", pulseNoIndex, over("parlaro_virtualmic_input"));
    state.sources[29] = source(29, "remapped_injection", pulseNoIndex, over("parlaro_virtualmic.monitor"));
    // A sink the server made up, its monitor the default input.
    state.sinks[30] = sink(30, "null_sink", 31);
    state.sources[31] = source(31, "null_sink.monitor", 30);
    state.defaultSource = "null_sink.monitor";
    const Mirror mirror = buildMirror(state, {}, ownPid, ids);

    const auto transport = [&](const std::string& uid) {
        const AudioObjectId id = mirror.deviceWithUID(uid);
        EXPECT_NE(id, 0u) << uid;
        return at(mirror, id, {"tran"_fcc});
    };
    const AudioPropertyValue usb = std::uint32_t{"usb "_fcc};
    const AudioPropertyValue builtIn = std::uint32_t{"bltn"_fcc};
    const AudioPropertyValue virtualDevice = std::uint32_t{"virt"_fcc};
    EXPECT_EQ(transport("echo_cancelled"), usb);
    EXPECT_EQ(transport("remapped_echo_cancelled"), usb);
    EXPECT_EQ(transport("noise_suppressed"), builtIn);
    EXPECT_EQ(transport("stand_in"), builtIn);
    EXPECT_EQ(transport("loop_a"), builtIn);
    EXPECT_EQ(transport("orphan"), builtIn);
    // Only our own devices and what filters them, made-up sinks and
    // monitors stay virtual.
    EXPECT_EQ(transport(virtualMicUID), virtualDevice);
    EXPECT_EQ(transport(injectionUID), virtualDevice);
    EXPECT_EQ(transport("echo_cancelled_virtual"), virtualDevice);
    EXPECT_EQ(transport("remapped_injection"), virtualDevice);
    EXPECT_EQ(transport("null_sink"), virtualDevice);
    EXPECT_EQ(transport("null_sink.monitor"), virtualDevice);
    const auto devices = std::get<std::vector<std::uint32_t>>(at(mirror, audioSystemObject, {"dev#"_fcc}));
    EXPECT_EQ(std::find(devices.begin(), devices.end(), mirror.deviceWithUID("null_sink.monitor")), devices.end());
}

TEST(PulseMirror, ProcessesComeFromClientStreamsAndTheirUseOfDevices)
{
    PulseServerState state = serverWithVirtualMic();
    state.sourceOutputs[30] = stream(30, 13, 4242);                    // a call records the microphone
    state.sinkInputs[31] = stream(31, 2, 4242, /*corked=*/true);       // and has a paused stream
    state.sinkInputs[32] = stream(32, 0, ownPid);                      // we play into the injection
    state.sourceOutputs[33] = stream(33, 10, 0, false, pulseNoIndex);  // a module's own stream
    MirrorIds ids;
    const Mirror mirror = buildMirror(state, {}, ownPid, ids);

    const AudioObjectId call = mirror.processWithPID(4242);
    const AudioObjectId own = mirror.processWithPID(ownPid);
    ASSERT_NE(call, 0u);
    ASSERT_NE(own, 0u);
    EXPECT_EQ(std::get<std::vector<std::uint32_t>>(at(mirror, audioSystemObject, {"prs#"_fcc})).size(), 2u);
    const AudioObjectId mic = mirror.deviceWithUID(virtualMicUID);
    EXPECT_EQ(at(mirror, call, {"pdv#"_fcc, AudioScope::input}), AudioPropertyValue(std::vector<std::uint32_t>{mic}));
    EXPECT_EQ(at(mirror, call, {"piri"_fcc}), AudioPropertyValue(std::uint32_t{1}));
    // A paused stream names its device but does not run.
    EXPECT_EQ(at(mirror, call, {"pdv#"_fcc, AudioScope::output}),
              AudioPropertyValue(std::vector<std::uint32_t>{mirror.deviceWithUID("alsa_output.usb")}));
    EXPECT_EQ(at(mirror, call, {"piro"_fcc}), AudioPropertyValue(std::uint32_t{0}));
    EXPECT_EQ(at(mirror, own, {"piro"_fcc}), AudioPropertyValue(std::uint32_t{1}));

    // 'dcio' counts other programs' streams only: ours does not count.
    EXPECT_EQ(at(mirror, mic, {"dcio"_fcc}), AudioPropertyValue(std::uint32_t{1}));
    EXPECT_EQ(at(mirror, mirror.deviceWithUID(injectionUID), {"dcio"_fcc}), AudioPropertyValue(std::uint32_t{0}));
}

TEST(PulseMirror, ChangesAreTheDifferencesAndIdsAreNeverReused)
{
    MirrorIds ids;
    PulseServerState state = serverWithVirtualMic();
    const Mirror before = buildMirror(state, {}, ownPid, ids);
    const AudioObjectId headset = before.deviceWithUID("alsa_output.usb");

    // Unchanged: nothing to tell.
    EXPECT_TRUE(mirrorChanges(before, buildMirror(state, {}, ownPid, ids)).empty());

    state.sinks[2].rate = 44100;
    const Mirror rateChanged = buildMirror(state, {}, ownPid, ids);
    const auto changes = mirrorChanges(before, rateChanged);
    EXPECT_NE(std::find(changes.begin(), changes.end(), std::make_pair(headset, AudioPropertyAddress{"nsrt"_fcc})),
              changes.end());
    EXPECT_NE(std::find(changes.begin(), changes.end(), std::make_pair(headset, AudioPropertyAddress{"nsr#"_fcc})),
              changes.end());

    // Unplugged: 'livn' and the device list change.
    state.sinks.erase(2);
    state.sources.erase(12);
    const Mirror unplugged = buildMirror(state, {}, ownPid, ids);
    const auto gone = mirrorChanges(rateChanged, unplugged);
    EXPECT_NE(std::find(gone.begin(), gone.end(), std::make_pair(headset, AudioPropertyAddress{"livn"_fcc})),
              gone.end());
    EXPECT_NE(std::find(gone.begin(), gone.end(),
                        std::make_pair(AudioObjectId{audioSystemObject}, AudioPropertyAddress{"dev#"_fcc})),
              gone.end());
    EXPECT_NE(std::find(gone.begin(), gone.end(),
                        std::make_pair(AudioObjectId{audioSystemObject}, AudioPropertyAddress{"dOut"_fcc})),
              gone.end());

    // Plugged in again: the same device under a new id.
    state = serverWithVirtualMic();
    const Mirror back = buildMirror(state, {}, ownPid, ids);
    EXPECT_NE(back.deviceWithUID("alsa_output.usb"), 0u);
    EXPECT_NE(back.deviceWithUID("alsa_output.usb"), headset);
    EXPECT_EQ(back.deviceWithUID(virtualMicUID), before.deviceWithUID(virtualMicUID));
}

TEST(PulseMirror, CaptureDevicesAndStoredValues)
{
    MirrorIds ids;
    MirrorExtras extras;
    ProcessTapDescription tap;
    extras.taps.emplace(500, tap);
    extras.aggregates.push_back({501, {"Parlaro Listen", "com.parlaro.listen.X", true, true, {tap.uuid.toString()}}});
    extras.deviceValues[{"alsa_output.usb", {"fsiz"_fcc}}] = std::uint32_t{480};
    extras.restarts = 2;
    const Mirror mirror = buildMirror(serverWithVirtualMic(), extras, ownPid, ids);

    EXPECT_EQ(at(mirror, 500, {"tfmt"_fcc}),
              AudioPropertyValue(AudioStreamDescription::pcm({48000, 2, SampleType::float32, true})));
    EXPECT_EQ(at(mirror, 500, {"tuid"_fcc}), AudioPropertyValue(AudioString(tap.uuid.toString())));
    EXPECT_EQ(at(mirror, 501, {"slay"_fcc, AudioScope::input}), AudioPropertyValue(AudioBufferLayout{{2}}));
    EXPECT_EQ(mirror.deviceWithUID("com.parlaro.listen.X"), 501u);
    EXPECT_EQ(at(mirror, mirror.deviceWithUID("alsa_output.usb"), {"fsiz"_fcc}),
              AudioPropertyValue(std::uint32_t{480}));
    EXPECT_EQ(at(mirror, audioSystemObject, {"srst"_fcc}), AudioPropertyValue(std::uint32_t{2}));
}

TEST(PulseHostClock, LateReadingsDoNotShakeTheTimeStamps)
{
    PulseHostClock clock;
    const double rate = 48000;
    // Frame n is truly at 100 + n / rate; readings come late by up to 30 ms,
    // and the first ones read a latency 200 ms too high.
    clock.observe(100 + 480 / rate - 0.2, 480, rate);
    clock.observe(100 + 960 / rate + 0.03, 960, rate);
    EXPECT_NEAR(clock.hostSeconds(0, rate), 99.8, 1e-9);
    for (int n = 2; n < 200; ++n)
        clock.observe(100 + n * 480 / rate + (n % 3) * 0.01, n * 480.0, rate);
    // Each step moved the origin by at most 1 % of the audio between
    // readings, so it crept towards the truth ...
    EXPECT_GT(clock.hostSeconds(0, rate), 99.8);
    EXPECT_LT(clock.hostSeconds(0, rate), 100.0);
    // ... and a reading half a second late moves the stamps by 1 % of the
    // audio since the last reading, no more.
    const double before = clock.hostSeconds(200 * 480.0, rate);
    clock.observe(100 + 200 * 480 / rate + 0.5, 200 * 480.0, rate);
    EXPECT_NEAR(clock.hostSeconds(200 * 480.0, rate) - before, 0.0001, 1e-9);
}

TEST(VirtualMicModules, ArgumentsCarryTheHashAndTheHashFollowsTheArguments)
{
    const auto modules = virtualMicModules("abc");
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0].objectName, "parlaro_virtualmic");
    EXPECT_EQ(modules[1].moduleName, "module-remap-source");
    EXPECT_NE(modules[1].arguments.find("master=parlaro_virtualmic.monitor"), std::string::npos);
    for (const auto& module : modules) {
        EXPECT_NE(module.arguments.find("parlaro.driver.hash='abc'"), std::string::npos);
        EXPECT_NE(module.arguments.find(std::string("parlaro.uid='") + module.uid + "'"), std::string::npos);
    }
    EXPECT_EQ(builtInDriverHash().size(), 16u);
    EXPECT_EQ(builtInDriverHash(), builtInDriverHash());
}

}  // namespace
}  // namespace parlaro::sys
