#include "PulseTestServer.h"
#include "support/Patience.h"

#include "platform/OwnAudioIDs.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseVirtualMicHost.h"
#include "platform/linux/pulse/VirtualMicModules.h"
#include "runtime/Error.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace parlaro::sys {
namespace {

using test::Child;
using test::pactl;
using test::waitUntil;

AudioObjectId deviceWithUID(const AudioSystem& system, const std::string& uid)
{
    AudioPropertyValue qualifier = AudioString(uid);
    std::uint32_t id = 0;
    system.get(audioSystemObject, {"uidd"_fcc}, id, &qualifier);
    return id;
}

std::uint32_t number(const AudioSystem& system, AudioObjectId object, const AudioPropertyAddress& address)
{
    std::uint32_t value = 0xdeadbeef;
    system.get(object, address, value);
    return value;
}

std::vector<std::uint32_t> list(const AudioSystem& system, AudioObjectId object, const AudioPropertyAddress& address)
{
    std::vector<std::uint32_t> value;
    system.get(object, address, value);
    return value;
}

std::vector<std::uint32_t> processes(const AudioSystem& system)
{
    return list(system, audioSystemObject, {"prs#"_fcc});
}

std::size_t lineCount(const std::string& text, const std::string& word)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

// Counts a listener's calls from any thread.
struct Counter {
    std::atomic<int> calls{0};
    AudioPropertyListener listener()
    {
        return [this](std::span<const AudioPropertyAddress>) { ++calls; };
    }
};

class PulseAudioSystemTest : public ::testing::Test {
protected:
    void SetUp() override { PARLARO_REQUIRE_TEST_SERVER(); }
};

// The test below starts this binary again with this argument: it then
// plays the part of a second process of the program.
constexpr const char* secondProgramArgument = "--play-the-second-program";

bool playingTheSecondProgram()
{
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string argument;
    while (std::getline(file, argument, '\0'))
        if (argument == secondProgramArgument)
            return true;
    return false;
}

std::optional<std::string> bundleOfProcess(const AudioSystem& system, pid_t pid)
{
    AudioPropertyValue qualifier = static_cast<std::uint32_t>(pid);
    std::uint32_t process = 0;
    if (system.get(audioSystemObject, {"id2p"_fcc}, process, &qualifier) != AudioStatuses::ok || process == 0)
        return std::nullopt;
    AudioString bundle;
    if (system.get(process, {"pbid"_fcc}, bundle) != AudioStatuses::ok)
        return std::nullopt;
    return bundle;
}

TEST_F(PulseAudioSystemTest, AnotherProcessOfTheProgramIsKnownByItsApplicationID)
{
    PulseAudioSystem system;
    ASSERT_TRUE(system.isConnected()) << system.connectionError();
    if (playingTheSecondProgram()) {
        // Connected, with the virtual sinks' keeper streams running, until
        // the test ends this process; it took the default input from the
        // user's microphone.
        system.setPropertyData(audioSystemObject, {"porg"_fcc}, AudioString("users_mic"));
        std::string line;
        while (std::getline(std::cin, line)) {}
        return;
    }
    // This process's streams carry the id...
    EXPECT_TRUE(waitUntil([&] { return bundleOfProcess(system, getpid()) == ownApplicationID; }))
        << bundleOfProcess(system, getpid()).value_or("no id");
    // ...and so do another process's of the program, whose pid is not ours.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    Child second({self, "--gtest_filter=PulseAudioSystemTest.AnotherProcessOfTheProgramIsKnownByItsApplicationID",
                  secondProgramArgument},
                 Child::Pipe::input);
    EXPECT_TRUE(waitUntil([&] { return bundleOfProcess(system, second.pid()) == ownApplicationID; }, 10))
        << bundleOfProcess(system, second.pid()).value_or("no id");
    // What the other copy keeps on the server about the user's input is
    // read beside its process; this process's own follows what it says.
    const auto originalOf = [&](pid_t pid) {
        AudioPropertyValue qualifier = static_cast<std::uint32_t>(pid);
        std::uint32_t process = 0;
        AudioString uid;
        if (system.get(audioSystemObject, {"id2p"_fcc}, process, &qualifier) != AudioStatuses::ok
            || system.get(process, {"pori"_fcc}, uid) != AudioStatuses::ok)
            return AudioString();
        return uid;
    };
    EXPECT_TRUE(waitUntil([&] { return originalOf(second.pid()) == "users_mic"; }, 10))
        << originalOf(second.pid()).value_or("nothing");
    EXPECT_EQ(originalOf(getpid()), std::nullopt);
    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"porg"_fcc}, AudioString("test_mic")), AudioStatuses::ok);
    EXPECT_TRUE(waitUntil([&] { return originalOf(getpid()) == "test_mic"; }, 10));
    system.setPropertyData(audioSystemObject, {"porg"_fcc}, AudioString(""));
    EXPECT_TRUE(waitUntil([&] { return originalOf(getpid()) == std::nullopt; }, 10));
}

TEST_F(PulseAudioSystemTest, MirrorsDevicesDefaultsAndProcesses)
{
    PulseAudioSystem system;
    ASSERT_TRUE(system.isConnected()) << system.connectionError();

    const AudioObjectId speakers = deviceWithUID(system, "test_speakers");
    const AudioObjectId mic = deviceWithUID(system, virtualMicUID);
    const AudioObjectId injection = deviceWithUID(system, injectionUID);
    ASSERT_NE(speakers, 0u);
    ASSERT_NE(mic, 0u);
    ASSERT_NE(injection, 0u);
    // Monitors are never listed; another program's is found by name only, as
    // the bare server's default input, and the virtual microphone's not at all.
    const AudioObjectId monitor = deviceWithUID(system, "test_speakers.monitor");
    ASSERT_NE(monitor, 0u);
    EXPECT_NE(monitor, speakers);
    EXPECT_EQ(deviceWithUID(system, "parlaro_virtualmic.monitor"), 0u);
    const auto devices = list(system, audioSystemObject, {"dev#"_fcc});
    EXPECT_EQ(devices.size(), 3u);
    EXPECT_EQ(std::find(devices.begin(), devices.end(), monitor), devices.end());

    AudioBufferLayout layout;
    EXPECT_EQ(system.get(speakers, {"slay"_fcc, AudioScope::output}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.totalChannels(), 2u);
    EXPECT_EQ(system.get(speakers, {"slay"_fcc, AudioScope::input}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.totalChannels(), 0u);
    EXPECT_EQ(system.get(mic, {"slay"_fcc, AudioScope::input}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.totalChannels(), 2u);
    EXPECT_EQ(system.get(injection, {"slay"_fcc, AudioScope::input}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.totalChannels(), 2u);
    EXPECT_EQ(number(system, speakers, {"tran"_fcc}), "virt"_fcc);
    EXPECT_EQ(number(system, speakers, {"fsiz"_fcc}), 1024u);
    EXPECT_EQ(number(system, speakers, {"livn"_fcc}), 1u);
    AudioString version;
    EXPECT_EQ(system.get(mic, {"dcvr"_fcc}, version), AudioStatuses::ok);
    EXPECT_EQ(version, AudioString(driverVersion));
    EXPECT_TRUE(system.hasProperty(mic, {"dcio"_fcc}));
    EXPECT_TRUE(system.hasProperty(injection, {"dcio"_fcc}));
    EXPECT_FALSE(system.hasProperty(speakers, {"dcio"_fcc}));
    EXPECT_FALSE(system.hasProperty(mic, {"dcck"_fcc}));

    // Loading the modules left the user's defaults alone.
    EXPECT_EQ(number(system, audioSystemObject, {"dOut"_fcc}), speakers);
    EXPECT_EQ(number(system, audioSystemObject, {"dIn "_fcc}), monitor);

    // This process always has its process object.
    AudioPropertyValue pid = static_cast<std::uint32_t>(system.currentProcessID());
    std::uint32_t own = 0;
    EXPECT_EQ(system.get(audioSystemObject, {"id2p"_fcc}, own, &pid), AudioStatuses::ok);
    EXPECT_NE(own, 0u);
    EXPECT_EQ(number(system, own, {"ppid"_fcc}), static_cast<std::uint32_t>(system.currentProcessID()));
    const auto processes = list(system, audioSystemObject, {"prs#"_fcc});
    EXPECT_NE(std::find(processes.begin(), processes.end(), own), processes.end());

    EXPECT_EQ(system.get(speakers, {"nope"_fcc}, own), AudioStatuses::unknownProperty);
    EXPECT_EQ(system.get(77777, {"livn"_fcc}, own), AudioStatuses::badObject);
}

TEST_F(PulseAudioSystemTest, DefaultsAreWrittenAndReadBack)
{
    PulseAudioSystem system;
    const AudioObjectId mic = deviceWithUID(system, virtualMicUID);
    const AudioObjectId speakers = deviceWithUID(system, "test_speakers");
    ASSERT_NE(mic, 0u);
    Counter changed;
    auto token = system.addPropertyListener(audioSystemObject, {"dIn "_fcc}, AudioCallbackQueue(), changed.listener());
    ASSERT_TRUE(token.isActive());

    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{mic}), AudioStatuses::ok);
    EXPECT_EQ(number(system, audioSystemObject, {"dIn "_fcc}), mic);
    EXPECT_TRUE(waitUntil([&] { return changed.calls > 0; }));

    // Unknown devices and devices without that side are refused.
    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{99999}), AudioStatuses::badDevice);
    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{speakers}),
              AudioStatuses::badDevice);
    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, 1.0), AudioStatuses::badPropertySize);
    EXPECT_EQ(number(system, audioSystemObject, {"dIn "_fcc}), mic);

    // A monitor as the default input reads back as itself and can be made
    // the default again, but nothing of ours records from it.
    pactl("set-default-source test_speakers.monitor");
    const AudioObjectId monitor = deviceWithUID(system, "test_speakers.monitor");
    ASSERT_NE(monitor, 0u);
    EXPECT_TRUE(waitUntil([&] { return number(system, audioSystemObject, {"dIn "_fcc}) == monitor; }));
    ASSERT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{mic}), AudioStatuses::ok);
    EXPECT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{monitor}), AudioStatuses::ok);
    EXPECT_EQ(number(system, audioSystemObject, {"dIn "_fcc}), monitor);
    EXPECT_EQ(pactl("get-default-source"), "test_speakers.monitor\n");
    // A read that asks the server answers what the server says now; any
    // other qualifier is refused.
    const AudioPropertyValue ask = std::uint32_t{AudioSelectors::askTheServer};
    std::uint32_t asked = 0;
    EXPECT_EQ(system.get(audioSystemObject, {"dIn "_fcc}, asked, &ask), AudioStatuses::ok);
    EXPECT_EQ(asked, monitor);
    const AudioPropertyValue other = AudioString(std::string("x"));
    EXPECT_EQ(system.get(audioSystemObject, {"dIn "_fcc}, asked, &other), AudioStatuses::badPropertySize);
    EXPECT_THROW(system.makeInputEngine()->setInputDevice(monitor), DomainError);
    std::shared_ptr<AudioQueue> queue;
    ASSERT_EQ(system.newInputQueue(
                  AudioStreamDescription::pcm({48000, 1, SampleType::float32, true}),
                  [](void*, AudioQueue&, AudioQueueBuffer&, const AudioTimeStamp&) {}, nullptr, queue),
              AudioStatuses::ok);
    AudioPropertyValue device;
    EXPECT_EQ(queue->getProperty("aqcd"_fcc, device), AudioStatuses::ok);
    EXPECT_EQ(device, AudioPropertyValue(AudioString{}));
    EXPECT_EQ(queue->setProperty("aqcd"_fcc, AudioString(std::string("test_speakers.monitor"))),
              AudioStatuses::badDevice);
}

TEST_F(PulseAudioSystemTest, TheUsersDefaultsStayWhenOurModulesAppear)
{
    // As on a first start: none of our modules, and defaults the user never
    // chose, which a session manager may replace by any new device.
    const std::string modules = pactl("list short modules");
    for (std::size_t line = 0; line < modules.size();) {
        const std::size_t end = std::min(modules.find('\n', line), modules.size());
        const std::string text = modules.substr(line, end - line);
        if (text.find("parlaro") != std::string::npos)
            pactl("unload-module " + text.substr(0, text.find('\t')));
        line = end + 1;
    }
    ASSERT_TRUE(waitUntil([] { return pactl("list short sources").find("parlaro") == std::string::npos; }));
    if (test::testSoundServer() == test::SoundServer::pipewire)
        for (const char* key : {"default.configured.audio.source", "default.configured.audio.sink"})
            ASSERT_EQ(std::system(("PIPEWIRE_RUNTIME_DIR=" + test::pulseTestDir() + " pw-metadata -n default -d 0 "
                                   + key + " >/dev/null")
                                      .c_str()),
                      0);
    const std::string source = pactl("get-default-source");
    const std::string sink = pactl("get-default-sink");
    ASSERT_EQ(source, "test_speakers.monitor\n");

    PulseAudioSystem system;
    ASSERT_TRUE(system.virtualMicLoaded());
    const AudioObjectId monitor = deviceWithUID(system, "test_speakers.monitor");
    const AudioObjectId mic = deviceWithUID(system, virtualMicUID);
    EXPECT_EQ(number(system, audioSystemObject, {"dIn "_fcc}), monitor);
    // A session manager decides a few milliseconds after a device appears.
    EXPECT_FALSE(waitUntil([&] { return number(system, audioSystemObject, {"dIn "_fcc}) == mic; }, 0.5));
    EXPECT_EQ(pactl("get-default-source"), source);
    EXPECT_EQ(pactl("get-default-sink"), sink);
}

TEST_F(PulseAudioSystemTest, AFilterInFrontOfAMicrophoneIsListedAsOne)
{
    PulseAudioSystem system;
    const std::string module =
        pactl("load-module module-remap-source source_name=filtered_input master=test_speakers.monitor "
              "source_properties=device.description=Filtered");
    AudioObjectId filtered = 0;
    EXPECT_TRUE(waitUntil([&] { return (filtered = deviceWithUID(system, "filtered_input")) != 0; }));
    const auto devices = list(system, audioSystemObject, {"dev#"_fcc});
    EXPECT_NE(std::find(devices.begin(), devices.end(), filtered), devices.end());
    AudioBufferLayout layout;
    EXPECT_EQ(system.get(filtered, {"slay"_fcc, AudioScope::input}, layout), AudioStatuses::ok);
    EXPECT_GT(layout.totalChannels(), 0u);
    // What it filters is made up too, so it counts as built in; the speakers
    // themselves and our own microphone stay virtual.
    EXPECT_EQ(number(system, filtered, {"tran"_fcc}), "bltn"_fcc);
    EXPECT_EQ(number(system, deviceWithUID(system, "test_speakers"), {"tran"_fcc}), "virt"_fcc);
    EXPECT_EQ(number(system, deviceWithUID(system, virtualMicUID), {"tran"_fcc}), "virt"_fcc);
    pactl("unload-module " + module);
    EXPECT_TRUE(waitUntil([&] { return deviceWithUID(system, "filtered_input") == 0; }));
}

TEST_F(PulseAudioSystemTest, DeviceChangesReachListeners)
{
    PulseAudioSystem system;
    Counter listChanged;
    auto token =
        system.addPropertyListener(audioSystemObject, {"dev#"_fcc}, AudioCallbackQueue(), listChanged.listener());
    const std::string module = pactl("load-module module-null-sink sink_name=extra_sink rate=44100");
    EXPECT_TRUE(waitUntil([&] { return listChanged.calls > 0; }));
    AudioObjectId extra = 0;
    EXPECT_TRUE(waitUntil([&] { return (extra = deviceWithUID(system, "extra_sink")) != 0; }));

    // A 48 kHz stream on the idle 44.1 kHz sink: PulseAudio switches the
    // sink's rate and says so; PipeWire resamples and the rate stays.
    Counter rateChanged;
    auto rateToken = system.addPropertyListener(extra, {"nsrt"_fcc}, AudioCallbackQueue(), rateChanged.listener());
    double rate = 0;
    EXPECT_EQ(system.get(extra, {"nsrt"_fcc}, rate), AudioStatuses::ok);
    EXPECT_EQ(rate, 44100.0);
    {
        Child player({"pacat", "--raw", "--format=float32le", "--rate=48000", "--channels=2", "-d", "extra_sink"},
                     Child::Pipe::input);
        std::vector<float> silence(4800 * 2, 0.0f);
        const bool switches = test::testSoundServer() == test::SoundServer::pulseaudio;
        // Until the stream plays on the sink, and then the rate it took.
        const auto playing = [&] {
            const auto all = processes(system);
            return std::any_of(all.begin(), all.end(), [&](AudioObjectId process) {
                const auto outputs = list(system, process, {"pdv#"_fcc, AudioScope::output});
                return number(system, process, {"piro"_fcc}) == 1u
                    && std::find(outputs.begin(), outputs.end(), extra) != outputs.end();
            });
        };
        EXPECT_TRUE(waitUntil([&] {
            player.write(silence.data(), silence.size());
            return switches ? rateChanged.calls > 0 : playing();
        }));
        EXPECT_EQ(rateChanged.calls > 0, switches);
        EXPECT_EQ(system.get(extra, {"nsrt"_fcc}, rate), AudioStatuses::ok);
        EXPECT_EQ(rate, switches ? 48000.0 : 44100.0);
    }

    // Unloading: the device is gone, its 'livn' reads 0, and ids are not reused.
    Counter alive;
    auto aliveToken = system.addPropertyListener(extra, {"livn"_fcc}, AudioCallbackQueue(), alive.listener());
    listChanged.calls = 0;
    pactl("unload-module " + module);
    EXPECT_TRUE(waitUntil([&] { return alive.calls > 0 && listChanged.calls > 0; }));
    EXPECT_EQ(number(system, extra, {"livn"_fcc}), 0u);
    const auto devices = list(system, audioSystemObject, {"dev#"_fcc});
    EXPECT_EQ(std::find(devices.begin(), devices.end(), extra), devices.end());

    listChanged.calls = 0;
    const std::string again = pactl("load-module module-null-sink sink_name=extra_sink");
    AudioObjectId second = 0;
    // The mirror may hold the device before its notice has been delivered.
    EXPECT_TRUE(
        waitUntil([&] { return (second = deviceWithUID(system, "extra_sink")) != 0 && listChanged.calls > 0; }));
    EXPECT_NE(second, extra);

    // A released token is never called again.
    token.release();
    listChanged.calls = 0;
    pactl("unload-module " + again);
    EXPECT_TRUE(waitUntil([&] { return deviceWithUID(system, "extra_sink") == 0; }));
    EXPECT_EQ(listChanged.calls, 0);
    EXPECT_EQ(system.addPropertyListener(55555, {"livn"_fcc}, AudioCallbackQueue(), alive.listener()).status(),
              AudioStatuses::badObject);
}

TEST_F(PulseAudioSystemTest, WithoutServerItStartsDisconnectedAndRefusesWork)
{
    const std::string saved = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", "unix:/nonexistent", 1);
    {
        PulseAudioSystem system;
        setenv("PULSE_SERVER", saved.c_str(), 1);
        EXPECT_FALSE(system.isConnected());
        EXPECT_EQ(system.connectionError(), "Connection refused");
        EXPECT_EQ(system.connectionErrorCode(), 6);
        EXPECT_TRUE(list(system, audioSystemObject, {"dev#"_fcc}).empty());
        EXPECT_FALSE(system.hasProperty(audioSystemObject, {"prs#"_fcc}));
        AudioObjectId tap = 1;
        EXPECT_EQ(system.createProcessTap({}, tap), AudioStatuses::serverUnavailable);
        EXPECT_EQ(tap, 0u);
        EXPECT_EQ(AudioStatuses::serverUnavailable, 561214070);
        EXPECT_EQ(system.ensureVirtualMic(), std::optional<std::string>("Connection refused"));
        PulseVirtualMicHost host(system);
        EXPECT_EQ(host.state(), VirtualMicHost::State::missing);
        EXPECT_EQ(host.ensure(), std::optional<std::string>("Connection refused"));
    }
}

TEST_F(PulseAudioSystemTest, ServerRestartIsAnnouncedAndDevicesComeBack)
{
    PulseAudioSystem system;
    ASSERT_TRUE(system.isConnected());
    Counter restarted;
    auto token = system.addPropertyListener(audioSystemObject, {AudioSelectors::serviceRestarted}, AudioCallbackQueue(),
                                            restarted.listener());
    const std::string daemon = test::daemonScript();
    ASSERT_EQ(std::system((daemon + " stop " + test::pulseTestDir()).c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return !system.isConnected(); }));
    EXPECT_TRUE(list(system, audioSystemObject, {"dev#"_fcc}).empty());
    AudioObjectId tap = 0;
    EXPECT_EQ(system.createProcessTap({}, tap), AudioStatuses::serverUnavailable);
    ASSERT_EQ(std::system((daemon + " start " + test::pulseTestDir()).c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return restarted.calls > 0; }, 10));
    EXPECT_TRUE(waitUntil([&] { return deviceWithUID(system, virtualMicUID) != 0; }, 10));
    EXPECT_NE(deviceWithUID(system, "test_speakers"), 0u);
    EXPECT_EQ(number(system, audioSystemObject, {AudioSelectors::serviceRestarted}), 1u);
}

// The server held still while connected (its process stopped, as a starved
// or hung one is): the connection stays, and the system says the server does
// not answer until it does again, without counting a restart.
TEST_F(PulseAudioSystemTest, AServerHeldStillWhileConnectedIsSaidNotToAnswerUntilItDoes)
{
    PulseAudioSystem system;
    ASSERT_TRUE(system.isConnected());
    const std::string pidFile = test::pulseTestDir()
        + (test::testSoundServer() == test::SoundServer::pipewire ? "/pipewire-pulse.pid" : "/pulse/pid");
    long pid = 0;
    ASSERT_TRUE(std::ifstream(pidFile) >> pid) << "no server process in " << pidFile;
    Counter changed;
    auto token = system.addPropertyListener(audioSystemObject, {AudioSelectors::serviceAnswering}, AudioCallbackQueue(),
                                            changed.listener());
    EXPECT_EQ(number(system, audioSystemObject, {AudioSelectors::serviceAnswering}), 1u);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);
    const bool silent =
        waitUntil([&] { return number(system, audioSystemObject, {AudioSelectors::serviceAnswering}) == 0; }, 20);
    ::kill(static_cast<pid_t>(pid), SIGCONT);
    EXPECT_TRUE(silent) << "a stopped server still counts as answering";
    EXPECT_TRUE(
        waitUntil([&] { return number(system, audioSystemObject, {AudioSelectors::serviceAnswering}) == 1; }, 20));
    EXPECT_TRUE(system.isConnected());
    EXPECT_TRUE(waitUntil([&] { return changed.calls == 2; })) << changed.calls << " changes told";
    EXPECT_EQ(number(system, audioSystemObject, {AudioSelectors::serviceRestarted}), 0u);
}

TEST_F(PulseAudioSystemTest, EnsureLoadsOnceAndReloadsOnlyOurModulesOnAnotherHash)
{
    PulseAudioSystem first;
    const std::string before = pactl("list short modules");
    {
        PulseAudioSystem second;
        EXPECT_EQ(pactl("list short modules"), before);
        EXPECT_FALSE(second.virtualMicNeedsUpdate());
    }
    {
        PulseAudioSystem changed(PulseAudioSystem::Options{"another hash", 2.0});
        EXPECT_FALSE(changed.virtualMicNeedsUpdate());
        const std::string after = pactl("list short modules");
        EXPECT_NE(after, before);
        EXPECT_EQ(lineCount(after, "module-null-sink"), 3u);
        EXPECT_EQ(lineCount(after, "module-remap-source"), 1u);
        EXPECT_NE(after.find("sink_name=test_speakers"), std::string::npos);
        // The speakers' module was never touched.
        EXPECT_EQ(before.substr(0, before.find("sink_name=test_speakers")),
                  after.substr(0, after.find("sink_name=test_speakers")));
    }
    EXPECT_TRUE(waitUntil([&] { return first.virtualMicNeedsUpdate(); }));
    PulseVirtualMicHost host(first);
    EXPECT_EQ(host.state(), VirtualMicHost::State::stale);
    EXPECT_EQ(host.ensure(), std::nullopt);
    EXPECT_FALSE(first.virtualMicNeedsUpdate());
    EXPECT_EQ(host.state(), VirtualMicHost::State::current);
    EXPECT_EQ(number(first, audioSystemObject, {"dOut"_fcc}), deviceWithUID(first, "test_speakers"));
}

// Plays a sine on every output channel.
struct Tone {
    double frequency = 440;
    double amplitude = 0.5;
    double phase = 0;
    std::atomic<int> cycles{0};

    static AudioStatus play(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>, const AudioTimeStamp&,
                            std::span<AudioIOBuffer> output, const AudioTimeStamp&, void* context)
    {
        auto* tone = static_cast<Tone*>(context);
        for (auto& buffer : output) {
            double phase = tone->phase;
            for (std::uint32_t frame = 0; frame < buffer.frames(); ++frame) {
                const float sample = static_cast<float>(tone->amplitude * std::sin(phase));
                for (std::uint32_t c = 0; c < buffer.channels; ++c)
                    buffer.data[frame * buffer.channels + c] = sample;
                phase += 2 * M_PI * tone->frequency / 48000.0;
            }
            tone->phase = std::fmod(phase, 2 * M_PI);
        }
        ++tone->cycles;
        return 0;
    }
};

TEST_F(PulseAudioSystemTest, SoundPlayedIntoTheInjectionReachesTheVirtualMicrophone)
{
    PulseAudioSystem system;
    const AudioObjectId injection = deviceWithUID(system, injectionUID);
    const AudioObjectId mic = deviceWithUID(system, virtualMicUID);
    ASSERT_NE(injection, 0u);
    Counter io;
    auto ioToken = system.addPropertyListener(mic, {"dcio"_fcc}, AudioCallbackQueue(), io.listener());

    Tone tone;
    AudioIOProcId proc = 0;
    ASSERT_EQ(system.createIOProc(injection, Tone::play, &tone, proc), AudioStatuses::ok);
    // Output only: the injection's input side stays off.
    AudioStreamUsage inputOff{proc, {0}};
    EXPECT_EQ(system.setPropertyData(injection, {"suse"_fcc, AudioScope::input}, inputOff), AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(injection, proc), AudioStatuses::ok);

    std::vector<float> heard(48000);
    {
        Child recorder(
            {"parec", "--raw", "--format=float32le", "--rate=48000", "--channels=1", "-d", "parlaro_virtualmic_input"},
            Child::Pipe::output);
        // Half a second settles the path, the next second is measured.
        std::vector<float> settle(24000);
        ASSERT_TRUE(recorder.read(settle.data(), settle.size()));
        ASSERT_TRUE(recorder.read(heard.data(), heard.size()));

        AudioPropertyValue pid = static_cast<std::uint32_t>(recorder.pid());
        std::uint32_t process = 0;
        EXPECT_TRUE(waitUntil([&] {
            system.get(audioSystemObject, {"id2p"_fcc}, process, &pid);
            return process != 0;
        }));
        const auto inputs = list(system, process, {"pdv#"_fcc, AudioScope::input});
        EXPECT_EQ(inputs, std::vector<std::uint32_t>{mic});
        EXPECT_EQ(number(system, process, {"piri"_fcc}), 1u);
        EXPECT_TRUE(waitUntil([&] { return io.calls > 0; }));
        EXPECT_EQ(number(system, mic, {"dcio"_fcc}), 1u);
    }
    EXPECT_EQ(system.stopDevice(injection, proc), AudioStatuses::ok);
    const int cycles = tone.cycles;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(tone.cycles, cycles) << "a cycle ran after stopDevice returned";
    EXPECT_EQ(system.destroyIOProc(injection, proc), AudioStatuses::ok);

    const double frequency = test::measuredFrequency(heard, 48000);
    EXPECT_NEAR(frequency, 440.0, 4.4);
    std::printf("virtual microphone: %.3f Hz (error %.3f %%)\n", frequency, std::abs(frequency - 440) / 4.4);
}

// Keeps the first minute a far-end capture heard (left channel), and where
// its first sound began.
struct Capture {
    std::mutex mutex;
    std::vector<float> left = std::vector<float>(60 * 48000, 0.0f);
    std::size_t written = 0;
    std::optional<std::size_t> firstSound;

    static AudioStatus hear(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer> input,
                            const AudioTimeStamp&, std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
    {
        auto* capture = static_cast<Capture*>(context);
        std::lock_guard lock(capture->mutex);
        if (input.empty())
            return 0;
        for (std::uint32_t frame = 0; frame < input[0].frames() && capture->written < capture->left.size(); ++frame) {
            const float sample = input[0].data[frame * input[0].channels];
            if (!capture->firstSound && std::abs(sample) > 1e-4f)
                capture->firstSound = capture->written;
            capture->left[capture->written++] = sample;
        }
        return 0;
    }
    std::size_t frames()
    {
        std::lock_guard lock(mutex);
        return written;
    }
    std::vector<float> window(std::size_t from, std::size_t count)
    {
        std::lock_guard lock(mutex);
        from = std::min(from, written);
        count = std::min(count, written - from);
        return {left.begin() + static_cast<std::ptrdiff_t>(from),
                left.begin() + static_cast<std::ptrdiff_t>(from + count)};
    }
    std::optional<std::size_t> soundBegan()
    {
        std::lock_guard lock(mutex);
        return firstSound;
    }
    // The first frame at or after `from` that is not silence.
    std::optional<std::size_t> soundAfter(std::size_t from)
    {
        std::lock_guard lock(mutex);
        for (std::size_t frame = from; frame < written; ++frame)
            if (std::abs(left[frame]) > 1e-4f)
                return frame;
        return std::nullopt;
    }
    // Up to `count` frames of what was heard from `from` on, without the
    // silences played where the sound came late: on a busy machine the
    // server hands a stream's sound over late now and then, and the capture
    // plays silence and then the rest of the sound, whole, after it. A tone
    // runs no two samples at exactly zero, and a lost or altered piece of it
    // still shows as a jump in its phase or level.
    std::vector<float> sound(std::size_t from, std::size_t count)
    {
        std::lock_guard lock(mutex);
        std::vector<float> kept;
        for (std::size_t frame = from; frame < written && kept.size() < count; ++frame)
            if (left[frame] != 0.0f || (frame + 1 < written && left[frame + 1] != 0.0f))
                kept.push_back(left[frame]);
        return kept;
    }
};

// Whether a player's verbose log says the server ran out of its sound.
bool playerRanDry(const std::string& log)
{
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find("underrun") != std::string::npos;
}

TEST_F(PulseAudioSystemTest, FarEndCaptureHearsOtherProgramsButNotOurs)
{
    PulseAudioSystem system;
    const AudioObjectId speakers = deviceWithUID(system, "test_speakers");
    ASSERT_NE(speakers, 0u);

    // Our own 660 Hz on the default output.
    Tone ours{660, 0.4};
    AudioIOProcId playing = 0;
    ASSERT_EQ(system.createIOProc(speakers, Tone::play, &ours, playing), AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(speakers, playing), AudioStatuses::ok);

    AudioPropertyValue pid = static_cast<std::uint32_t>(system.currentProcessID());
    std::uint32_t own = 0;
    system.get(audioSystemObject, {"id2p"_fcc}, own, &pid);
    ProcessTapDescription description;
    description.excludedProcesses = {own};
    AudioObjectId tap = 0;
    ASSERT_EQ(system.createProcessTap(description, tap), AudioStatuses::ok);
    AudioStreamDescription format;
    EXPECT_EQ(system.get(tap, {"tfmt"_fcc}, format), AudioStatuses::ok);
    EXPECT_EQ(format.sampleRate, 48000.0);
    EXPECT_EQ(format.channelsPerFrame, 2u);
    AggregateDeviceDescription aggregate{
        "Parlaro Listen", "com.parlaro.listen.test", true, true, {description.uuid.toString()}};
    AudioObjectId device = 0;
    ASSERT_EQ(system.createAggregateDevice(aggregate, device), AudioStatuses::ok);
    Capture capture;
    AudioIOProcId listening = 0;
    ASSERT_EQ(system.createIOProc(device, Capture::hear, &capture, listening), AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(device, listening), AudioStatuses::ok);

    // While no one else plays, cycles of silence keep coming: our own tone
    // is left out.
    EXPECT_TRUE(waitUntil([&] { return capture.frames() >= 48000; }));
    EXPECT_LT(test::amplitudeAt(capture.window(0, 48000), 48000, 660), 0.01);
    EXPECT_FALSE(capture.soundBegan()) << "something was heard while no one else played";

    // Another program starts playing 880 Hz while the capture runs: its
    // stream joins the mix. What is measured is what the capture made of the
    // sound the server played: on a busy machine the player itself can be
    // starved until the server runs out of its sound (it tells the player),
    // and what the server then plays is no fault of the capture; a loaded
    // server may also miss a cycle of its monitor, whose sound no stream
    // keeps. Such a round is played again, up to a few times, with a player
    // of its own: a capture that loses sound itself loses it every round.
    std::vector<float> tone(48000 * 2);
    for (std::size_t i = 0; i < 48000; ++i)
        tone[2 * i] = tone[2 * i + 1] = static_cast<float>(0.4 * std::sin(2 * M_PI * 880 * i / 48000.0));
    const std::string log = test::pulseTestDir() + "/far-end-player-" + std::to_string(getpid()) + ".log";
    std::vector<float> heard;
    bool ranDry = true;
    bool serverLost = false;
    for (int round = 0; round < 4 && (ranDry || serverLost); ++round) {
        std::remove(log.c_str());
        const std::size_t before = capture.frames();
        Child player({"sh", "-c",
                      "exec pacat -v --raw --format=float32le --rate=48000 --channels=2 --latency-msec=200 -d "
                      "test_speakers 2>\"$0\"",
                      log},
                     Child::Pipe::input);
        std::atomic<bool> feeding{true};
        std::thread feeder([&] {
            while (feeding && player.write(tone.data(), tone.size())) {}
        });
        // The second measured is the captured sound that begins a quarter
        // second into it, by frame count, however late the cycles ran.
        const bool began = waitUntil([&] { return capture.soundAfter(before).has_value(); }, 10);
        std::size_t from = 0;
        if (began) {
            from = *capture.soundAfter(before) + 12000;
            // The player plays half a second past the window, so that it has
            // heard of any underrun within it before it stops.
            EXPECT_TRUE(waitUntil([&] { return capture.sound(from, 72000).size() == 72000; }, 20));
        }
        feeding = false;
        player.stop();
        feeder.join();
        ASSERT_TRUE(began) << "the other program went unheard";
        heard = capture.sound(from, 48000);
        ranDry = playerRanDry(log);
        serverLost = test::amplitudeAt(heard, 48000, 880) < 0.38;
        if (!ranDry && !serverLost)
            break;
        std::printf(ranDry ? "the player ran dry; playing again\n" : "a piece was lost; playing again\n");
        // The stopped player's stream leaves before the next round listens.
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::size_t now = capture.frames();
                return now > 24000 && !capture.soundAfter(now - 24000).has_value();
            },
            10));
    }
    std::remove(log.c_str());
    ASSERT_EQ(heard.size(), 48000u);
    EXPECT_EQ(system.stopDevice(device, listening), AudioStatuses::ok);
    EXPECT_EQ(system.destroyIOProc(device, listening), AudioStatuses::ok);
    EXPECT_EQ(system.destroyAggregateDevice(device), AudioStatuses::ok);
    EXPECT_EQ(system.destroyProcessTap(tap), AudioStatuses::ok);
    EXPECT_EQ(system.stopDevice(speakers, playing), AudioStatuses::ok);
    EXPECT_EQ(system.destroyIOProc(speakers, playing), AudioStatuses::ok);
    EXPECT_FALSE(ranDry) << "the player ran dry in every round";
    EXPECT_FALSE(serverLost) << "a piece of the sound was lost in every round";

    const double theirs = test::amplitudeAt(heard, 48000, 880);
    const double mine = test::amplitudeAt(heard, 48000, 660);
    std::printf("far-end capture: 880 Hz at %.3f, 660 Hz at %.3f\n", theirs, mine);
    // The tone is played at 0.4 and mixed alone, and comes back at 0.4: a
    // piece lost in the second jumps the tone's phase, which lowers what is
    // measured at 880 Hz.
    EXPECT_GE(theirs, 0.38);
    EXPECT_LE(mine, 0.01);
}

// An I/O procedure that tries to stop its own device.
struct SelfStopper {
    AudioSystem* system = nullptr;
    AudioObjectId device = 0;
    AudioIOProcId proc = 0;
    std::atomic<AudioStatus> status{AudioStatuses::ok};
    std::atomic<int> cycles{0};

    static AudioStatus run(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>, const AudioTimeStamp&,
                           std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
    {
        auto* self = static_cast<SelfStopper*>(context);
        if (self->cycles++ == 0)
            self->status = self->system->stopDevice(self->device, self->proc);
        return 0;
    }
};

TEST_F(PulseAudioSystemTest, BlockingCallsFromAStreamCallbackAreRefused)
{
    PulseAudioSystem system;
    SelfStopper stopper{&system, deviceWithUID(system, "test_speakers")};
    ASSERT_EQ(system.createIOProc(stopper.device, SelfStopper::run, &stopper, stopper.proc), AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(stopper.device, stopper.proc), AudioStatuses::ok);
    EXPECT_TRUE(waitUntil([&] { return stopper.cycles > 1; }));
    EXPECT_EQ(stopper.status, AudioStatuses::illegalOperation);
    EXPECT_EQ(system.stopDevice(stopper.device, stopper.proc), AudioStatuses::ok);
    EXPECT_EQ(system.destroyIOProc(stopper.device, stopper.proc), AudioStatuses::ok);
}

// Output that stalls once for a fifth of a second, longer than it buffers.
struct Stall {
    std::atomic<int> cycles{0};
    static AudioStatus run(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>, const AudioTimeStamp&,
                           std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
    {
        auto* stall = static_cast<Stall*>(context);
        if (stall->cycles++ == 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return 0;
    }
};

TEST_F(PulseAudioSystemTest, UnderflowsAreCountedAndNotified)
{
    PulseAudioSystem system;
    const AudioObjectId speakers = deviceWithUID(system, "test_speakers");
    Counter overloaded;
    auto token = system.addPropertyListener(speakers, {"over"_fcc}, AudioCallbackQueue(), overloaded.listener());
    Stall stall;
    AudioIOProcId proc = 0;
    ASSERT_EQ(system.createIOProc(speakers, Stall::run, &stall, proc), AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(speakers, proc), AudioStatuses::ok);
    EXPECT_TRUE(waitUntil([&] { return overloaded.calls > 0; }));
    EXPECT_GE(number(system, speakers, {"over"_fcc}), 1u);
    EXPECT_EQ(system.stopDevice(speakers, proc), AudioStatuses::ok);
    EXPECT_EQ(system.destroyIOProc(speakers, proc), AudioStatuses::ok);
}

TEST_F(PulseAudioSystemTest, StartStopCyclesLeaveNothingBehind)
{
    for (int round = 0; round < 3; ++round) {
        PulseAudioSystem system;
        const AudioObjectId speakers = deviceWithUID(system, "test_speakers");
        Tone tone;
        for (int cycle = 0; cycle < 5; ++cycle) {
            AudioIOProcId proc = 0;
            ASSERT_EQ(system.createIOProc(speakers, Tone::play, &tone, proc), AudioStatuses::ok);
            const int before = tone.cycles;
            ASSERT_EQ(system.startDevice(speakers, proc), AudioStatuses::ok);
            // Stopped once it has played, so each round tears down a running stream.
            ASSERT_TRUE(waitUntil([&] { return tone.cycles > before; })) << "round " << round << ", cycle " << cycle;
            ASSERT_EQ(system.stopDevice(speakers, proc), AudioStatuses::ok);
            ASSERT_EQ(system.destroyIOProc(speakers, proc), AudioStatuses::ok);
        }
    }
    // The sink inputs we made are gone (the keepers of live systems aside).
    EXPECT_TRUE(waitUntil([] { return pactl("list short sink-inputs").empty(); }));
}

}  // namespace
}  // namespace parlaro::sys

namespace parlaro::sys {
namespace {

struct QueueRecord {
    std::mutex mutex;
    int played = 0;
    std::vector<float> recorded;
    std::vector<AudioTimeStamp> times;

    static void output(void* self, AudioQueue&, AudioQueueBuffer&)
    {
        auto* record = static_cast<QueueRecord*>(self);
        std::lock_guard lock(record->mutex);
        ++record->played;
    }
    static void input(void* self, AudioQueue& queue, AudioQueueBuffer& buffer, const AudioTimeStamp& time)
    {
        auto* record = static_cast<QueueRecord*>(self);
        {
            std::lock_guard lock(record->mutex);
            record->recorded.insert(record->recorded.end(), buffer.data, buffer.data + buffer.byteSize / 4);
            record->times.push_back(time);
        }
        queue.enqueueBuffer(buffer);
    }
};

// A recorder whose callback is still reading the buffer it was handed when
// the queue is disposed.
struct SlowReader {
    std::atomic<bool> entered{false};
    std::atomic<bool> disposing{false};
    std::atomic<bool> finished{false};
    std::atomic<float> sum{0};

    static void input(void* self, AudioQueue&, AudioQueueBuffer& buffer, const AudioTimeStamp&)
    {
        auto* reader = static_cast<SlowReader*>(self);
        if (reader->entered.exchange(true))
            return;
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(test::patience(30));
        while (!reader->disposing && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        // Long enough for a dispose that does not wait to free the buffer.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        float sum = 0;
        for (std::uint32_t i = 0; i < buffer.byteSize / 4; ++i)
            sum += buffer.data[i];
        reader->sum = sum;
        reader->finished = true;
    }
};

TEST_F(PulseAudioSystemTest, DisposeWaitsForTheBufferBeingHandedBack)
{
    PulseAudioSystem system;
    SlowReader reader;
    const auto mono = AudioStreamDescription::pcm({48000, 1, SampleType::float32, true});
    std::shared_ptr<AudioQueue> recorder;
    ASSERT_EQ(system.newInputQueue(mono, SlowReader::input, &reader, recorder), AudioStatuses::ok);
    ASSERT_EQ(recorder->setProperty("aqcd"_fcc, AudioString(std::string(virtualMicUID))), AudioStatuses::ok);
    for (int i = 0; i < 2; ++i) {
        AudioQueueBuffer* buffer = nullptr;
        ASSERT_EQ(recorder->allocateBuffer(480 * 4, buffer), AudioStatuses::ok);
        ASSERT_EQ(recorder->enqueueBuffer(*buffer), AudioStatuses::ok);
    }
    ASSERT_EQ(recorder->start(), AudioStatuses::ok);
    ASSERT_TRUE(waitUntil([&] { return reader.entered.load(); })) << "no buffer came back";
    reader.disposing = true;
    EXPECT_EQ(recorder->dispose(true), AudioStatuses::ok);
    EXPECT_TRUE(reader.finished) << "the queue was disposed while its callback still read a buffer";
}

TEST_F(PulseAudioSystemTest, QueuesPlayIntoTheInjectionAndRecordTheVirtualMicrophone)
{
    PulseAudioSystem system;
    QueueRecord record;
    const auto mono = AudioStreamDescription::pcm({48000, 1, SampleType::float32, true});

    std::shared_ptr<AudioQueue> recorder;
    ASSERT_EQ(system.newInputQueue(mono, QueueRecord::input, &record, recorder), AudioStatuses::ok);
    ASSERT_TRUE(recorder);
    EXPECT_EQ(recorder->setProperty("aqcd"_fcc, AudioString(std::string(virtualMicUID))), AudioStatuses::ok);
    for (int i = 0; i < 4; ++i) {
        AudioQueueBuffer* buffer = nullptr;
        ASSERT_EQ(recorder->allocateBuffer(4800 * 4, buffer), AudioStatuses::ok);
        ASSERT_EQ(recorder->enqueueBuffer(*buffer), AudioStatuses::ok);
    }
    ASSERT_EQ(recorder->start(), AudioStatuses::ok);

    std::shared_ptr<AudioQueue> player;
    ASSERT_EQ(system.newOutputQueue(mono, QueueRecord::output, &record, player), AudioStatuses::ok);
    // Unchosen, a queue names the default device; a device that does not
    // exist is refused.
    AudioString device;
    EXPECT_EQ(player->get("aqcd"_fcc, device), AudioStatuses::ok);
    EXPECT_EQ(device, AudioString("test_speakers"));
    EXPECT_EQ(player->setProperty("aqcd"_fcc, AudioString("no such device")), AudioStatuses::badDevice);
    EXPECT_EQ(player->setProperty("aqcd"_fcc, AudioString(std::string(injectionUID))), AudioStatuses::ok);
    EXPECT_EQ(player->get("aqcd"_fcc, device), AudioStatuses::ok);
    EXPECT_EQ(device, AudioString(std::string(injectionUID)));
    double phase = 0;
    for (int i = 0; i < 10; ++i) {
        AudioQueueBuffer* buffer = nullptr;
        ASSERT_EQ(player->allocateBuffer(4800 * 4, buffer), AudioStatuses::ok);
        for (int frame = 0; frame < 4800; ++frame, phase += 2 * M_PI * 440 / 48000)
            buffer->data[frame] = static_cast<float>(0.5 * std::sin(phase));
        buffer->byteSize = 4800 * 4;
        ASSERT_EQ(player->enqueueBuffer(*buffer), AudioStatuses::ok);
    }
    ASSERT_EQ(player->start(), AudioStatuses::ok);
    AudioQueueTimelineId timeline = 0;
    ASSERT_EQ(player->createTimeline(timeline), AudioStatuses::ok);
    ASSERT_EQ(player->stop(false), AudioStatuses::ok);
    std::uint32_t running = 1;
    // A stop that drains: every buffer is handed back, then the queue stops.
    EXPECT_TRUE(waitUntil([&] {
        player->get("aqrn"_fcc, running);
        std::lock_guard lock(record.mutex);
        return record.played == 10 && running == 0;
    }));
    EXPECT_EQ(player->disposeTimeline(timeline), AudioStatuses::ok);
    EXPECT_EQ(player->dispose(true), AudioStatuses::ok);
    EXPECT_EQ(player->start(), AudioStatuses::badObject);

    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard lock(record.mutex);
        return test::amplitudeAt(
                   std::vector<float>(record.recorded.end() - std::min<std::size_t>(record.recorded.size(), 24000),
                                      record.recorded.end()),
                   48000, 440)
            > 0.1;
    }));
    EXPECT_EQ(recorder->stop(true), AudioStatuses::ok);
    EXPECT_EQ(recorder->dispose(true), AudioStatuses::ok);
    std::lock_guard lock(record.mutex);
    ASSERT_GE(record.times.size(), 2u);
    EXPECT_TRUE(record.times.back().hasHostTime());
    EXPECT_EQ(record.times[1].sampleTime - record.times[0].sampleTime, 4800.0);
}

}  // namespace
}  // namespace parlaro::sys

namespace parlaro::sys {
namespace {

TEST_F(PulseAudioSystemTest, InputEngineFollowsTheDefaultInput)
{
    PulseAudioSystem system;
    const AudioObjectId mic = deviceWithUID(system, virtualMicUID);
    const AudioObjectId injection = deviceWithUID(system, injectionUID);
    ASSERT_EQ(system.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{mic}), AudioStatuses::ok);

    Tone tone;
    AudioIOProcId proc = 0;
    ASSERT_EQ(system.createIOProc(injection, Tone::play, &tone, proc), AudioStatuses::ok);
    EXPECT_EQ(system.setPropertyData(injection, {"suse"_fcc, AudioScope::input}, AudioStreamUsage{proc, {0}}),
              AudioStatuses::ok);
    ASSERT_EQ(system.startDevice(injection, proc), AudioStatuses::ok);

    auto engine = system.makeInputEngine();
    // The new default input is known once the server has announced it: on
    // a machine loaded by other test servers that took over 5 s once.
    EXPECT_TRUE(waitUntil([&] { return engine->inputFormat().sampleRate > 0; }, 20.0));
    const AudioFormat format = engine->inputFormat();
    EXPECT_EQ(format, (AudioFormat{48000, 2, SampleType::float32, false}));
    std::mutex mutex;
    std::vector<float> heard;
    std::vector<AudioTimeStamp> times;
    engine->installTap(4800, format, [&](std::shared_ptr<PcmBuffer> buffer, const AudioTimeStamp& time) {
        std::lock_guard lock(mutex);
        heard.insert(heard.end(), buffer->floatChannelData(0), buffer->floatChannelData(0) + buffer->frameLength());
        times.push_back(time);
    });
    std::atomic<int> changes{0};
    auto observer = engine->observeConfigurationChanges(AudioCallbackQueue(), [&] { ++changes; });
    engine->prepare();
    engine->start();
    EXPECT_TRUE(engine->isRunning());
    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return heard.size() >= 48000;
    }));
    {
        std::lock_guard lock(mutex);
        const std::vector<float> last(heard.end() - 24000, heard.end());
        EXPECT_NEAR(test::measuredFrequency(last, 48000), 440.0, 4.4);
        EXPECT_EQ(times[1].sampleTime - times[0].sampleTime, 4800.0);
        // After the first readings, buffers lie a tenth of a second apart.
        EXPECT_NEAR(times.back().hostSeconds() - times[times.size() - 5].hostSeconds(), 0.4, 0.01);
    }

    // A stop hands on what came since the last whole buffer, as a shorter
    // one: the end of what was said before a press was let go. Taps of a
    // second leave the rest of a second to it. The stop comes once a
    // recorder of its own has heard three quarters of a second more of the
    // microphone than at the first whole buffer, however slowly a loaded
    // machine lets the sound arrive: the engine's stream, read less often,
    // may trail it by more than half a second under ThreadSanitizer.
    engine->stop();
    engine->removeTap();
    std::vector<std::uint32_t> lengths;
    engine->installTap(48000, format, [&](std::shared_ptr<PcmBuffer> buffer, const AudioTimeStamp&) {
        std::lock_guard lock(mutex);
        lengths.push_back(buffer->frameLength());
        heard.assign(buffer->floatChannelData(0), buffer->floatChannelData(0) + buffer->frameLength());
    });
    Child witness({"parec", "--raw", "--format=float32le", "--rate=48000", "--channels=1", "--latency-msec=20", "-d",
                   "parlaro_virtualmic_input"},
                  Child::Pipe::output);
    std::atomic<std::size_t> witnessed{0};
    std::thread counter([&] {
        std::vector<float> block(480);
        while (witness.read(block.data(), block.size()))
            witnessed += block.size();
    });
    engine->start();
    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return !lengths.empty();
    }));
    const std::size_t atFirstBuffer = witnessed;
    EXPECT_TRUE(waitUntil([&] { return witnessed >= atFirstBuffer + 36000; })) << "the microphone went silent";
    engine->stop();
    witness.stop();
    counter.join();
    {
        std::lock_guard lock(mutex);
        ASSERT_GE(lengths.size(), 2u);
        EXPECT_EQ(lengths.front(), 48000u);
        // A stop held up past the next whole buffer hands on a short rest
        // after it; what came since the first is handed on either way.
        EXPECT_GT(std::accumulate(lengths.begin() + 1, lengths.end(), 0u), 4800u);
        EXPECT_LT(lengths.back(), 48000u);
        EXPECT_NEAR(test::measuredFrequency(heard, 48000), 440.0, 4.4);
    }
    engine->start();

    // Moving the default stops the engine and tells its observers.
    pactl("set-default-source test_speakers.monitor");
    EXPECT_TRUE(waitUntil([&] { return changes > 0 && !engine->isRunning(); }));
    engine->removeTap();
    engine->stop();
    EXPECT_EQ(system.stopDevice(injection, proc), AudioStatuses::ok);
    EXPECT_EQ(system.destroyIOProc(injection, proc), AudioStatuses::ok);

    // A device that is not there is refused.
    EXPECT_THROW(engine->setInputDevice(424242), DomainError);
}

}  // namespace
}  // namespace parlaro::sys
