// From the release of a press to the first audible sample of its translated
// speech on the virtual microphone, through the whole program's graph on a
// private sound server: the user speaks English into a 48 kHz microphone (a
// null sink's monitor remapped as a sound card's source) while the press is
// held, the caller hears Spanish, and a reader on the virtual microphone
// stands for the call application. One run is one newly started program:
//   parlaro_release_bench <presses> [--pauses] [--own-voice] [--echo-cancel] [--window] [--check]
// Every press speaks the same reply: pocketsphinx's dense "go forward ten
// meters", or with --pauses a reply espeak-ng speaks with pauses in it, as
// people reply (PARLARO_BENCH_REPLY gives another one in espeak-ng's markup,
// or PARLARO_BENCH_REPLY_FILE one already spoken as a 16-bit mono WAVE file,
// and PARLARO_BENCH_REPLY_WORDS its words), while the program runs on; the
// key goes up 0.3 s after the recording ends, or with PARLARO_BENCH_KEY_UP
// that many seconds after the reply's last sound. With --check the microphone
// check the program opens at its start is gone through as a user does: the
// meters on the microphone, one sentence said into it, then confirmed;
// without it the microphone is confirmed without a word. Prints one line per press, "press <n> <seconds>" (the first
// is the first press of the program), "heard <n> <word errors> <words>
// <text>" (what the program recognized, against what was said), and with
// --own-voice (own voice left on, as the
// program turns it on at the microphone's confirmation) "own-voice <n>
// <seconds heard> <seconds spoken>": how much audible speech reached the
// virtual microphone while the press was held, against how much the
// recording holds. "stages <n> <recognized> <translated> <playing>" says
// when, after the release, the final text, its translation and the start of
// its speech reached the model. Ends with 77 when a part is missing, 1 when a
// press failed. --echo-cancel puts the server's echo-cancelling source over
// the microphone and makes it the input; --window shows the main window (on
// the Qt platform QT_QPA_PLATFORM names, offscreen by default) with its
// meters, as the program does.

#include "RecordingSet.h"
#include "app/ServiceFactory.h"
#include "model/AppModel.h"
#include "model/ModelDependencies.h"
#include "model/ModelTestAccess.h"
#include "platform/sim/SimSettingsStore.h"
#include "release/VirtualMicReader.h"
#include "runtime/SystemRuntime.h"
#include "runtime/Task.h"
#include "speech/CallLanguage.h"
#include "ui/MainActorPump.h"
// After the engine headers: Qt's keyword macros would rename their members.
#include "app/ContentView.h"
#include "app/MainWindow.h"

#include <QApplication>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace parlaro;
using bench::audible;
using bench::VirtualMicReader;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

const char* const recording = "/usr/share/pocketsphinx/test/data/goforward.raw";
const char* const recordingWords = "go forward ten meters";
// Spoken at run time into a file of the run's folder.
const char* const pausedReply = "<speak>Hello. <break time='800ms'/> I would like <break time='600ms'/> to book a "
                                "table <break time='700ms'/> for two people tonight.</speak>";
const char* const pausedReplyWords = "hello i would like to book a table for two people tonight";
// Said into the microphone during its check.
const char* const checkSentence = "Testing my microphone, one two three, this is my voice.";

// Cuts the silence after the last audible sample off a 16-bit mono WAVE
// file as espeak-ng writes it; false when the file is not one.
bool cutSilentTail(const std::string& path)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    constexpr std::size_t header = 44;
    if (bytes.size() < header || std::memcmp(bytes.data() + 36, "data", 4) != 0)
        return false;
    std::size_t end = header;
    for (std::size_t at = header; at + 1 < bytes.size(); at += 2) {
        std::int16_t sample = 0;
        std::memcpy(&sample, bytes.data() + at, 2);
        if (std::abs(static_cast<int>(sample)) >= audible)
            end = at + 2;
    }
    const auto data = static_cast<std::uint32_t>(end - header);
    const auto riff = static_cast<std::uint32_t>(end - 8);
    std::memcpy(bytes.data() + 4, &riff, 4);
    std::memcpy(bytes.data() + 40, &data, 4);
    file.close();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(end));
    return static_cast<bool>(out);
}

// How long the main thread spent handling events (the window's painting
// among them) since the release; written to the log for each press.
struct Busy {
    double total = 0;
    double longest = 0;
    Clock::time_point longestAt;
} busy;

// Waits in real time for the condition while the Qt loop drives the main
// actor, a few milliseconds at a time; false when the time ran out.
bool pumpUntil(const std::function<bool()>& condition, double seconds)
{
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (bool met = condition(); !met; met = condition()) {
        if (Clock::now() >= end)
            return false;
        const auto before = Clock::now();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const double took = std::chrono::duration<double>(Clock::now() - before).count();
        busy.total += took;
        if (took > busy.longest) {
            busy.longest = took;
            busy.longestAt = before;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs the command while the Qt loop drives the main actor, as a user
// speaks into a program that goes on meanwhile; false when it failed.
bool runPumping(const std::string& command)
{
    const std::string line = command + " >/dev/null 2>&1";
    const char* const argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    return pumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 600) && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The user's microphone at 48 kHz, made the default input before the
// program starts; the modules go again at the end. With echoCancel the
// user's input is the server's echo-cancelling source over it, against the
// default output, as on many desktops.
struct Microphone {
    explicit Microphone(bool echoCancel)
    {
        sink = output("pactl load-module module-null-sink sink_name=bench_voice rate=48000 channels=1");
        source = output("pactl load-module module-remap-source master=bench_voice.monitor source_name=bench_mic "
                        "\"source_properties='device.api=alsa device.description=Microphone'\"");
        std::string input = "bench_mic";
        if (echoCancel) {
            canceller = output("pactl load-module module-echo-cancel source_master=bench_mic "
                               "sink_master=test_speakers source_name=bench_mic_ec sink_name=bench_speakers_ec");
            input = "bench_mic_ec";
        }
        ready = !sink.empty() && !source.empty() && (!echoCancel || !canceller.empty())
            && run("pactl set-default-source " + input);
    }
    ~Microphone()
    {
        for (const auto& module : {canceller, source, sink})
            if (!module.empty())
                run("pactl unload-module " + module);
    }
    std::string sink;
    std::string source;
    std::string canceller;
    bool ready = false;
};

int fail(const char* what, const std::shared_ptr<AppModel>& model = nullptr)
{
    std::fprintf(stderr, "parlaro_release_bench: %s", what);
    if (model)
        std::fprintf(stderr, " (status \"%s\", error \"%s\")", model->status.get().c_str(),
                     model->errorMessage.get().value_or("").c_str());
    std::fprintf(stderr, "\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    bool ownVoice = false;
    bool echoCancel = false;
    bool withWindow = false;
    bool pauses = false;
    bool check = false;
    for (int index = 2; index < argc; ++index) {
        check = check || std::strcmp(argv[index], "--check") == 0;
        pauses = pauses || std::strcmp(argv[index], "--pauses") == 0;
        ownVoice = ownVoice || std::strcmp(argv[index], "--own-voice") == 0;
        echoCancel = echoCancel || std::strcmp(argv[index], "--echo-cancel") == 0;
        withWindow = withWindow || std::strcmp(argv[index], "--window") == 0;
    }
    const char* server = std::getenv("PULSE_SERVER");
    if (!server || std::string(server).find("-test/pulse/native") == std::string::npos) {
        std::fprintf(stderr,
                     "parlaro_release_bench: PULSE_SERVER names no private sound server (start one with "
                     "tests/platform/pulse/daemon.sh or pipewire.sh); skipping\n");
        return 77;
    }
    if (!fs::exists(recording) || !fs::exists("/usr/share/pocketsphinx/model/en-us")
        || !fs::exists("/usr/share/apertium/modes/eng-spa.mode")) {
        std::fprintf(stderr,
                     "parlaro_release_bench: pocketsphinx's recordings, its English model or apertium's "
                     "English-Spanish pair is not installed; skipping\n");
        return 77;
    }
    // The reply with pauses, as a WAVE file pacat plays as it is.
    const std::string pausedFile =
        (fs::temp_directory_path() / ("parlaro-bench-reply-" + std::to_string(::getpid()) + ".wav")).string();
    const char* ownReply = std::getenv("PARLARO_BENCH_REPLY");
    const char* ownWords = std::getenv("PARLARO_BENCH_REPLY_WORDS");
    // A reply already spoken (another voice's), copied as it is.
    const char* replyFile = std::getenv("PARLARO_BENCH_REPLY_FILE");
    const std::string reply = ownReply && ownWords ? ownReply : pausedReply;
    if (pauses && replyFile && ownWords) {
        std::error_code error;
        if (!fs::copy_file(replyFile, pausedFile, fs::copy_options::overwrite_existing, error)) {
            std::fprintf(stderr, "parlaro_release_bench: %s cannot be read; skipping\n", replyFile);
            return 77;
        }
    } else if (pauses && !run("espeak-ng -m -v en-us -s 140 -w " + pausedFile + " \"" + reply + "\"")) {
        std::fprintf(stderr, "parlaro_release_bench: espeak-ng could not speak the reply; skipping\n");
        return 77;
    }
    const std::string checkFile =
        (fs::temp_directory_path() / ("parlaro-bench-check-" + std::to_string(::getpid()) + ".wav")).string();
    if (check && !run("espeak-ng -v en-us -s 150 -w " + checkFile + " \"" + checkSentence + "\"")) {
        std::fprintf(stderr, "parlaro_release_bench: espeak-ng could not speak the check's sentence; skipping\n");
        return 77;
    }
    struct RemoveReply {
        std::string file;
        ~RemoveReply() { std::remove(file.c_str()); }
    } removeReply{pauses ? pausedFile : std::string()}, removeCheck{check ? checkFile : std::string()};
    // The key goes up this long after the recording ends; with
    // PARLARO_BENCH_KEY_UP, that long after the reply's last sound.
    double keyUp = 0.3;
    if (const char* given = std::getenv("PARLARO_BENCH_KEY_UP"); given && pauses) {
        keyUp = std::atof(given);
        if (!cutSilentTail(pausedFile))
            return fail("espeak-ng's reply is not a WAVE file of one channel");
    }
    const std::string play = pauses
        ? "pacat --file-format=wav --latency-msec=20 -d bench_voice " + pausedFile
        : std::string("pacat --raw --format=s16le --rate=16000 --channels=1 --latency-msec=20 -d bench_voice ")
            + recording;
    // Read as the recognized text is: "Could" and "meeting?" are words of it.
    const std::string said =
        pauses ? ((ownReply || replyFile) && ownWords ? ownWords : pausedReplyWords) : recordingWords;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    rt::SystemRuntime runtime;
    ui::MainActorPump pump(runtime.executor());

    Microphone microphone(echoCancel);
    if (!microphone.ready)
        return fail("the server would not make the microphone");

    sim::SimSettingsStore defaults;
    defaults.set("myLanguage", std::string("en"));
    defaults.set("theirLanguage", std::string("es"));
    defaults.set("onboardingDone", true);
    app::ServiceFactory factory({.kind = app::ServiceFactory::Kind::real,
                                 .defaults = &defaults,
                                 .historyFolder = std::nullopt,
                                 .engineParts = freshEngineParts()});
    const auto model = factory.model();
    std::unique_ptr<app::MainWindow> window;
    if (withWindow) {
        auto* content = new app::ContentView(model, factory.updates(), {.shortcuts = &factory.shortcuts()});
        window = std::make_unique<app::MainWindow>(model, content, app::MainWindow::Commands{});
        window->show();
        // As the program does while its window shows.
        model->setMetersVisible(true);
    }
    rt::spawn([model]() -> rt::Async<void> { co_await model->start(); });
    // The caller's Spanish has no recognition model: nothing is captioned,
    // as on a machine with only the English model.
    if (!pumpUntil([&] { return output("pactl get-default-source") == "parlaro_virtualmic_input"; }, 30))
        return fail("the virtual microphone is not the default input", model);
    if (!pumpUntil([&] { return model->selectedInputID.get().has_value(); }, 10))
        return fail("no microphone was chosen", model);
    if (check) {
        // As the check's page does: the meters on, the microphone previewed.
        bool metering = false;
        rt::spawn([model, &metering]() -> rt::Async<void> {
            co_await model->enableMeters();
            model->previewMicrophone(model->selectedInputID.get());
            metering = true;
        });
        if (!pumpUntil([&] { return metering; }, 10))
            return fail("the check's meters did not start", model);
        if (!run("pacat --file-format=wav --latency-msec=20 -d bench_voice " + checkFile))
            return fail("pacat could not play the check's sentence");
        pumpUntil([] { return false; }, 0.5);
    }
    bool confirmed = false;
    rt::spawn([model, ownVoice, &confirmed]() -> rt::Async<void> {
        co_await model->confirmMicrophone(*model->selectedInputID.get());
        co_await model->setOriginalVoice(ownVoice);
        confirmed = true;
    });
    if (!pumpUntil([&] { return confirmed; }, 10))
        return fail("the microphone was not confirmed", model);
    model->setConfirmBeforeSend(false);
    if (!pumpUntil([&] { return ModelTestAccess::mySpeechReady(*model).get() && model->translationReady.get(); }, 30))
        return fail("recognition or translation is not ready", model);

    VirtualMicReader reader;
    if (!reader.running())
        return fail("parec could not read the virtual microphone");
    // A call application reading the virtual microphone starts the call.
    pumpUntil([&] { return model->callActive.get(); }, 5);
    // The recording's own audible samples, at its 16 kHz: what own voice
    // would put on the virtual microphone if nothing was lost.
    double spoken = 0;
    if (FILE* file = std::fopen(recording, "rb")) {
        std::int16_t sample = 0;
        while (std::fread(&sample, sizeof sample, 1, file) == 1)
            spoken += std::abs(static_cast<int>(sample)) >= audible ? 1.0 / 16000 : 0.0;
        std::fclose(file);
    }

    for (int press = 1; press <= presses; ++press) {
        model->beginHoldToTalk();
        if (!pumpUntil([&] { return model->isRecording.get(); }, 20))
            return fail("the press did not record", model);
        if (ownVoice)
            reader.arm();
        if (!runPumping(play))
            return fail("pacat could not play the recording");
        // The speaker stops; the key goes up a moment later.
        const auto stopped = Clock::now();
        pumpUntil([&] { return Clock::now() - stopped > std::chrono::duration<double>(keyUp); }, keyUp + 1);
        const double heard = reader.heardSeconds();
        reader.arm();
        const auto released = Clock::now();
        model->endHoldToTalk();
        busy = {};
        // Where the time went: the final text, its translation, the speech
        // starting to play.
        std::optional<Clock::time_point> recognized, translated, speaking;
        const auto stamp = [](std::optional<Clock::time_point>& at, bool reached) {
            if (reached && !at)
                at = Clock::now();
        };
        if (!pumpUntil(
                [&] {
                    stamp(recognized, model->isTranslatingDraft.get());
                    stamp(translated, recognized && !model->isTranslatingDraft.get());
                    stamp(speaking, model->isSpeaking.get());
                    return reader.firstAudible().has_value();
                },
                30))
            return fail("no translated speech reached the virtual microphone", model);
        const auto since = [&](const std::optional<Clock::time_point>& at) {
            return at ? std::chrono::duration<double>(*at - released).count() : -1.0;
        };
        std::printf("press %d %.3f\n", press, since(reader.firstAudible()));
        std::printf("stages %d %.3f %.3f %.3f\n", press, since(recognized), since(translated), since(speaking));
        // The press's entry may come after its speech has begun.
        std::string text;
        std::string translation;
        pumpUntil(
            [&] {
                const auto& entries = model->entries.get();
                const auto mine = std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
                    return entry.side == ConversationEntry::Side::me;
                });
                if (mine < press)
                    return false;
                for (const auto& entry : entries)
                    if (entry.side == ConversationEntry::Side::me) {
                        text = entry.original;
                        translation = entry.translated;
                    }
                return true;
            },
            10);
        const auto errors = bench::wordErrors(said, text);
        std::printf("heard %d %zu %zu %s\n", press, errors.errors, errors.reference, text.c_str());
        std::printf("translated %d %s\n", press, translation.c_str());
        std::fprintf(stderr, "main thread %d: %.3f s in events up to the speech, the longest %.3f s at %.3f s\n", press,
                     busy.total, busy.longest, since(busy.longestAt));
        if (ownVoice)
            std::printf("own-voice %d %.2f %.2f\n", press, heard, spoken);
        std::fflush(stdout);
        if (!pumpUntil(
                [&] { return !model->isSpeaking.get() && !ModelTestAccess::hold(*model).isStartingRecording.get(); },
                30))
            return fail("the speech did not end", model);
        reader.disarm();
        // A pause between two replies.
        pumpUntil([] { return false; }, 0.5);
    }
    model->shutdown();
    pumpUntil([] { return false; }, 0.5);
    return 0;
}
