// The whole program's graph on the machine's own engines: a private sound
// server, pocketsphinx and apertium. Real time by nature, so bounded by
// generous deadlines; it skips only when a part is not installed.

#include "app/QtHostWindow.h"
#include "app/ServiceFactory.h"

#include "RealRunSupport.h"
#include "support/Patience.h"

#include <QApplication>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace parlaro;
using test::pactl;
using test::pumpUntil;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// One playback stream, as a call application keeps for the call and corks
// while the other party is silent: plays 16 kHz mono 16-bit sentences
// through it, uncorked for each and corked again once it drained. Its
// buffer is the server's default, long enough that a sink nobody else asks
// for a short latency renders its first seconds at once. Every wait on the
// server gives up at the real parts' bound, so a server that stops
// answering fails the test instead of hanging it.
class CorkingPlayer {
public:
    CorkingPlayer() : loop_(pa_threaded_mainloop_new())
    {
        // Under another process's id: the program leaves its own process's
        // streams out, and it runs in this one.
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_ID, std::to_string(::getppid()).c_str());
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "corking caller", properties);
        pa_proplist_free(properties);
        pa_context_set_state_callback(
            context_, [](pa_context*, void* loop) { signal(nullptr, loop); }, loop_);
        pa_threaded_mainloop_lock(loop_);
        pa_threaded_mainloop_start(loop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        tick_ = api->time_new(api, inATenth(), tick, loop_);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
            waitFor([&] {
                const pa_context_state_t state = pa_context_get_state(context_);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            });
        }
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
            pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 16000, 1};
            stream_ = pa_stream_new(context_, "call", &sampleFormat, nullptr);
            pa_stream_set_state_callback(
                stream_, [](pa_stream*, void* loop) { signal(nullptr, loop); }, loop_);
            pa_stream_set_write_callback(
                stream_, [](pa_stream*, std::size_t, void* loop) { signal(nullptr, loop); }, loop_);
            if (pa_stream_connect_playback(stream_, nullptr, nullptr, PA_STREAM_START_CORKED, nullptr, nullptr) >= 0)
                waitFor([&] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; });
        }
        pa_threaded_mainloop_unlock(loop_);
    }
    ~CorkingPlayer()
    {
        pa_threaded_mainloop_lock(loop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        api->time_free(tick_);
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }
    CorkingPlayer(const CorkingPlayer&) = delete;
    CorkingPlayer& operator=(const CorkingPlayer&) = delete;

    bool ready() const { return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY; }

    // Blocks until the sentence has played and the stream is corked again;
    // false when the server failed the stream or did not answer in time.
    bool play(const std::vector<std::int16_t>& samples)
    {
        pa_threaded_mainloop_lock(loop_);
        bool played = await(pa_stream_cork(stream_, 0, done, loop_));
        std::size_t at = 0;
        while (played && at < samples.size()) {
            std::size_t room = 0;
            played = waitFor([&] {
                         room = ready() ? pa_stream_writable_size(stream_) / sizeof(std::int16_t) : 0;
                         return !ready() || (room != 0 && room != static_cast<std::size_t>(-1));
                     })
                && ready();
            if (!played)
                break;
            const std::size_t count = std::min(room, samples.size() - at);
            played = pa_stream_write(stream_, samples.data() + at, count * sizeof(std::int16_t), nullptr, 0,
                                     PA_SEEK_RELATIVE)
                >= 0;
            at += count;
        }
        played =
            played && await(pa_stream_drain(stream_, done, loop_)) && await(pa_stream_cork(stream_, 1, done, loop_));
        pa_threaded_mainloop_unlock(loop_);
        return played;
    }

private:
    static void signal(void*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }
    static void done(pa_stream*, int, void* loop) { signal(nullptr, loop); }
    static const timeval* inATenth()
    {
        static thread_local timeval when;
        pa_timeval_add(pa_gettimeofday(&when), 100000);
        return &when;
    }
    // Wakes every wait ten times a second, so that each sees its bound.
    static void tick(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* loop)
    {
        signal(nullptr, loop);
        api->time_restart(event, inATenth());
    }
    // With the loop locked: waits until `finished` holds; false when the
    // bound ran out first.
    template <class Finished>
    bool waitFor(Finished finished)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(test::patience(60));
        while (!finished()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            pa_threaded_mainloop_wait(loop_);
        }
        return true;
    }
    bool await(pa_operation* operation)
    {
        if (!operation)
            return false;
        const bool ended = waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!ended)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return ended && ready();
    }

    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* tick_ = nullptr;
};

}  // namespace

TEST(RealRun, TheOtherPartysSpeechIsCaptionedTranslatedAndSaved)
{
    if (const std::string missing = test::missingRealRunPart({"paplay"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;

    test::RealRunWorld world;

    // A microphone of the user's, the default input before the program
    // starts: a null source, or where the server has none (PipeWire) a null
    // sink made a source.
    if (pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")}).find("test_microphone")
        == std::string::npos)
        ASSERT_FALSE(
            pactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                   QStringLiteral("source_name=test_microphone")})
                .empty()
            && pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                      QStringLiteral("sink_name=test_microphone"), QStringLiteral("media.class=Audio/Source/Virtual")})
                   .empty());
    ASSERT_TRUE(pumpUntil(
        [] {
            pactl({QStringLiteral("set-default-source"), QStringLiteral("test_microphone")});
            return pactl({QStringLiteral("get-default-source")}) == "test_microphone";
        },
        30));

    test::SpanishSpeakerProgram program;
    app::ServiceFactory& factory = program.factory;
    ASSERT_TRUE(factory.audioServerReachable()) << "the private sound server did not answer";
    const auto model = factory.model();
    model->useHistory(factory.history());
    ASSERT_TRUE(test::startsListening(model));

    // Played as a call application plays: with a short latency. Without one
    // the server hands the sink its first seconds in one block, and on a
    // busy machine renders that block before the program's capture of the
    // new stream is attached, so the words are gone before anyone could
    // hear them.
    QProcess player;
    player.start(QStringLiteral("paplay"),
                 {QStringLiteral("--raw"), QStringLiteral("--rate=16000"), QStringLiteral("--channels=1"),
                  QStringLiteral("--format=s16le"), QStringLiteral("--latency-msec=40"),
                  QString::fromUtf8(test::goForwardRecording)});
    ASSERT_TRUE(player.waitForStarted(static_cast<int>(test::patience(30) * 1000)));
    const auto started = std::chrono::steady_clock::now();
    using Moment = std::optional<std::chrono::steady_clock::time_point>;
    Moment ended, firstWords, captioned, translatedAt;
    const auto entry = [&]() -> std::optional<ConversationEntry> {
        for (const ConversationEntry& e : model->entries.get()) {
            if (e.side == ConversationEntry::Side::them && e.original.find("forward") != std::string::npos)
                return e;
        }
        return std::nullopt;
    };
    // The placeholder while the translator works, and its failure texts.
    const auto isTranslation = [](const std::string& text) {
        return !text.empty() && text != "…" && text.find("（") == std::string::npos;
    };
    const bool translated = pumpUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (!ended && player.state() == QProcess::NotRunning)
                ended = now;
            const std::optional<ConversationEntry> found = entry();
            if (!firstWords && (model->themPartial.get().find("forward") != std::string::npos || found))
                firstWords = now;
            if (!captioned && found)
                captioned = now;
            if (!translatedAt && found && isTranslation(found->translated))
                translatedAt = now;
            return ended && translatedAt;
        },
        60);
    ASSERT_TRUE(translated) << "no translated caption; partial \"" << model->themPartial.get() << "\", "
                            << model->entries.get().size() << " entries" <<
        [&] {
            std::string heard;
            for (const ConversationEntry& e : model->entries.get())
                heard += " \"" + e.original + "\"";
            return heard;
        }() << (entry() ? ", translation \"" + entry()->translated + "\"" : std::string())
                            << ", status " << model->listeningStatus.get();
    const ConversationEntry caption = *entry();
    EXPECT_EQ(caption.originalLanguage, std::optional<std::string>("en"));
    EXPECT_EQ(caption.translatedLanguage, std::optional<std::string>("es"));
    EXPECT_EQ(caption.translated.find("forward"), std::string::npos) << "Spanish, not the English again";

    // Seconds from the end of playback; negative when it came before the end.
    const auto sinceEnd = [&](const Moment& moment) { return std::chrono::duration<double>(*moment - *ended).count(); };
    std::cout << "[ caption  ] \"" << caption.original << "\" -> \"" << caption.translated << "\"\n"
              << "[ timing   ] playback " << std::chrono::duration<double>(*ended - started).count()
              << " s; from its end: first words " << sinceEnd(firstWords) << " s, caption " << sinceEnd(captioned)
              << " s, translation " << sinceEnd(translatedAt) << " s\n";

    // Apertium's translation needs no window: none was made, so nothing
    // can cover the user's windows, take clicks or the keyboard.
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(app::QtHostWindow::isHostWindow(widget)) << "a translation host window was made";

    model->flushDirtySessions();
    const fs::path folder = world.home.folder / "data" / "parlaro" / "History";
    bool saved = false;
    if (fs::exists(folder)) {
        for (const auto& file : fs::recursive_directory_iterator(folder)) {
            if (file.is_regular_file() && file.path().filename() != "index.json"
                && readAll(file.path()).find("forward") != std::string::npos)
                saved = true;
        }
    }
    EXPECT_TRUE(saved) << "no session with the caption under " << folder;
    EXPECT_NE(pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                  .find("parlaro_virtualmic_input"),
              std::string::npos)
        << "the virtual microphone is loaded";
    std::cout << "[ input    ] while running: " << pactl({QStringLiteral("get-default-source")}) << "\n";

    model->shutdown();
    EXPECT_TRUE(pumpUntil([] { return pactl({QStringLiteral("get-default-source")}) == "test_microphone"; }, 30))
        << "the user's microphone is the default input again, not " << pactl({QStringLiteral("get-default-source")});
    EXPECT_NE(pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                  .find("parlaro_virtualmic_input"),
              std::string::npos)
        << "the virtual microphone stays for the call application";
}

// A call application may open a new stream for each sentence after a
// silence, or cork its one stream between sentences: each sentence must be
// heard from its first word, the later ones as well as the first.
TEST(RealRun, SentencesInStreamsOfTheirOwnAreHeardFromTheirFirstWord)
{
    if (const std::string missing = test::missingRealRunPart({"paplay"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;

    test::RealRunWorld world;
    test::SpanishSpeakerProgram program;
    app::ServiceFactory& factory = program.factory;
    ASSERT_TRUE(factory.audioServerReachable()) << "the private sound server did not answer";
    const auto model = factory.model();
    ASSERT_TRUE(test::startsListening(model));

    const auto captions = [&] {
        std::vector<std::string> heard;
        for (const ConversationEntry& e : model->entries.get())
            if (e.side == ConversationEntry::Side::them)
                heard.push_back(e.original);
        return heard;
    };
    constexpr int sentences = 2;
    for (int i = 0; i < sentences; ++i) {
        QProcess player;
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("--raw"), QStringLiteral("--rate=16000"), QStringLiteral("--channels=1"),
                      QStringLiteral("--format=s16le"), QString::fromUtf8(test::goForwardRecording)});
        ASSERT_TRUE(player.waitForStarted(static_cast<int>(test::patience(30) * 1000)));
        ASSERT_TRUE(pumpUntil([&] { return player.state() == QProcess::NotRunning; }, 30));
        ASSERT_TRUE(pumpUntil([&] { return captions().size() > static_cast<std::size_t>(i); }, 30))
            << "sentence " << i + 1 << " was not captioned";
        test::pumpFor(1.5);
    }
    // The same sentences through one stream, corked between them.
    CorkingPlayer corking;
    ASSERT_TRUE(corking.ready());
    std::vector<std::int16_t> sentence;
    {
        std::ifstream in(test::goForwardRecording, std::ios::binary);
        std::int16_t sample = 0;
        while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
            sentence.push_back(sample);
    }
    for (int i = sentences; i < 2 * sentences; ++i) {
        bool played = false;
        std::thread playing([&] { played = corking.play(sentence); });
        const bool ended = pumpUntil([&] { return captions().size() > static_cast<std::size_t>(i); }, 30);
        playing.join();
        ASSERT_TRUE(played);
        ASSERT_TRUE(ended) << "sentence " << i + 1 << " was not captioned";
        test::pumpFor(1.5);
    }
    const auto heard = captions();
    for (const auto& text : heard)
        std::cout << "[ caption  ] \"" << text << "\"\n";
    ASSERT_EQ(heard.size(), static_cast<std::size_t>(2 * sentences));
    // "Go forward ten meters": a late capture loses its first words ("It's",
    // "So"); a busy machine may mishear one ("Goethe forward", "Before the
    // ten meters") but hears as many, and most of them right.
    for (const auto& text : heard) {
        std::istringstream words(text);
        std::size_t count = 0;
        std::size_t right = 0;
        for (std::string word; words >> word; ++count) {
            std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
            right += word == "go" || word == "forward" || word == "ten" || word == "meters";
        }
        EXPECT_GE(count, 4u) << text;
        EXPECT_GE(right, 2u) << text;
    }
    model->shutdown();
}
