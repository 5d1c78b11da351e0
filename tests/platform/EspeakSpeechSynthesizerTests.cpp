#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include "platform/linux/espeak/EngineText.h"

#include "support/HostileTexts.h"
#include "support/Patience.h"
#include "support/SpokenReply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace parlaro {
namespace {

using sys::EspeakSpeechSynthesizer;
// A reply waited for as long as only a hang takes on this build.
struct Reply : test::SpokenReply {
    Reply() : SpokenReply(std::chrono::duration<double>(test::patience(30))) {}
};
using test::repeated;
namespace fs = std::filesystem;

// The voice process this test process runs now (one synthesizer at a time).
pid_t voiceProcess()
{
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream children(task.path() / "children");
        for (pid_t pid = 0; children >> pid;) {
            std::string name;
            std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
            if (name == "parlaro-voice") {
                return pid;
            }
        }
    }
    return -1;
}

TEST(EspeakSpeechSynthesizer, MapsEngineLanguagesToLocaleTags)
{
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("en-us", {"en"}), "en-US");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("pt", {"pt-pt"}), "pt-PT");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("pt-br", {"pt"}), "pt-BR");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("de", {}), "de-DE");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("es-419", {"es-mx", "es"}), "es-419");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("en-gb-x-rp", {"en-gb", "en"}), "en-GB-x-rp");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("fa-latn", {}), "fa-Latn-IR");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("cmn-latn-pinyin", {"zh-cmn", "zh"}), "zh-CN");
    EXPECT_EQ(EspeakSpeechSynthesizer::languageTag("yue", {"zh-yue", "zh"}), "zh-HK");

    EXPECT_EQ(EspeakSpeechSynthesizer::wordsPerMinute(0.5f), 175);
    EXPECT_EQ(EspeakSpeechSynthesizer::wordsPerMinute(0.0f), 80);
    EXPECT_EQ(EspeakSpeechSynthesizer::wordsPerMinute(1.0f), 450);
    EXPECT_EQ(EspeakSpeechSynthesizer::wordsPerMinute(0.46f), 167);
    EXPECT_EQ(EspeakSpeechSynthesizer::wordsPerMinute(std::nanf("")), 175);
}

TEST(EspeakSpeechSynthesizer, RendersEnglishAndOffersOnlyVoicesThatReadTheirScript)
{
    EspeakSpeechSynthesizer synthesizer;
    if (!synthesizer.isAvailable()) {
        GTEST_SKIP() << "espeak-ng data is not installed (package espeak-ng-data); nothing to render with";
    }
    auto english = synthesizer.voiceForLanguage("en-US");
    ASSERT_TRUE(english.has_value());
    EXPECT_EQ(english->language, "en-US");
    EXPECT_EQ(english->quality, SynthesisVoice::defaultQuality);
    EXPECT_EQ(synthesizer.voice(english->identifier), english);

    // A voice that spells its own script out in another language is not
    // offered: this engine's Japanese voice reads kanji as English words.
    auto hasLanguage = [](const std::vector<SynthesisVoice>& voices, const std::string& language) {
        return std::any_of(voices.begin(), voices.end(),
                           [&](const SynthesisVoice& v) { return v.language == language; });
    };
    EspeakSpeechSynthesizer unchecked(std::vector<EspeakSpeechSynthesizer::ReadingCheck>{});
    EXPECT_TRUE(hasLanguage(unchecked.voices(), "ja-JP"));
    EXPECT_FALSE(hasLanguage(synthesizer.voices(), "ja-JP"));
    EXPECT_TRUE(hasLanguage(synthesizer.voices(), "ko-KR"));
    EXPECT_TRUE(hasLanguage(synthesizer.voices(), "de-DE"));

    Reply collector;
    synthesizer.write({"Hello, this is a short test.", english, 0.5f, 0.1}, collector.callback());
    ASSERT_TRUE(collector.waitFor());

    std::size_t frames = 0;
    float peak = 0;
    for (const auto& buffer : collector.buffers) {
        EXPECT_EQ(buffer.format().channelCount, 1u);
        EXPECT_EQ(buffer.format().sampleRate, collector.buffers.front().format().sampleRate);
        frames += buffer.frameLength();
        peak = std::max(peak, peakLevel(buffer));
    }
    ASSERT_FALSE(collector.buffers.empty());
    const double seconds = double(frames) / collector.buffers.front().format().sampleRate;
    EXPECT_GT(seconds, 0.8);
    EXPECT_LT(seconds, 5.0);
    EXPECT_GT(peak, 0.05f);
    // The post-utterance delay ends the audio with silence.
    EXPECT_EQ(peakLevel(collector.buffers.back()), 0.0f);

    // The speech starts with the first sample, not after the engine's
    // silence before a first stop.
    Reply stop;
    synthesizer.write({"Could you send it?", english, 0.5f, 0}, stop.callback());
    ASSERT_TRUE(stop.waitFor());
    ASSERT_FALSE(stop.buffers.empty());
    EXPECT_NE(stop.buffers.front().int16ChannelData(0)[0], 0);
}

TEST(EspeakSpeechSynthesizer, StoppedRenderGetsNoEndMarkAndLaterRendersStillRun)
{
    EspeakSpeechSynthesizer synthesizer;
    if (!synthesizer.isAvailable()) {
        GTEST_SKIP() << "espeak-ng data is not installed (package espeak-ng-data); nothing to render with";
    }
    auto english = synthesizer.voiceForLanguage("en");
    ASSERT_TRUE(english.has_value());

    // Stopped while it waits behind another render: it never starts.
    std::string longText;
    for (int i = 0; i < 40; ++i) {
        longText += "This sentence keeps the engine busy for a while. ";
    }
    Reply first;
    Reply second;
    Reply third;
    auto firstID = synthesizer.write({longText, english, 0.5f, 0}, first.callback());
    auto secondID = synthesizer.write({"Never spoken.", english, 0.5f, 0}, second.callback());
    synthesizer.stopRender(secondID);
    synthesizer.stopRender(firstID);
    synthesizer.write({"Spoken after the stops.", english, 0.5f, 0}, third.callback());
    ASSERT_TRUE(third.waitFor());
    EXPECT_FALSE(third.buffers.empty());

    std::lock_guard lock1(first.mutex);
    std::lock_guard lock2(second.mutex);
    EXPECT_FALSE(first.ended);
    EXPECT_FALSE(second.ended);
    EXPECT_TRUE(second.buffers.empty());

    // An identifier the engine does not know renders nothing but the end.
    Reply unknown;
    synthesizer.write({"Hello.", SynthesisVoice{"no/such-voice", "None", "en-US", 1}, 0.5f, 0}, unknown.callback());
    ASSERT_TRUE(unknown.waitFor());
    EXPECT_TRUE(unknown.buffers.empty());
}

TEST(EspeakSpeechSynthesizer, TextTheEngineCouldMisreadIsSpokenSafely)
{
    EspeakSpeechSynthesizer synthesizer;
    if (!synthesizer.isAvailable()) {
        GTEST_SKIP() << "espeak-ng data is not installed (package espeak-ng-data); nothing to render with";
    }
    // Each ends, none as a failure, in its language's voice or, where none
    // is offered, the default one; text with nothing to say brings not even
    // the pause after it: the caller must see that the voice produced
    // nothing.
    for (const auto& hostile : test::hostileTexts()) {
        const auto voice = synthesizer.voiceForLanguage(std::string(hostile.language));
        Reply reply;
        synthesizer.write({hostile.text, voice, 0.5f, 0.1}, reply.callback());
        ASSERT_TRUE(reply.waitFor()) << hostile.name;
        EXPECT_FALSE(reply.failed) << hostile.name;
        EXPECT_EQ(reply.buffers.empty(), hostile.kind == test::HostileText::silent)
            << hostile.name << " " << reply.buffers.size();
    }
}

TEST(EspeakSpeechSynthesizer, AVoiceProcessThatDiesOrHangsCostsOnlyItsReply)
{
    // A descriptor the program left open across exec.
    int leaked[2];
    ASSERT_EQ(::pipe(leaked), 0);
    for (const std::string fault : {"--abort-on=LOST", "--hang-on=LOST", "killed between replies",
                                    "stopped between replies", "--flood-on=LOST", "caller out of memory"}) {
        // The caller runs out of memory for the reply's first sound.
        const bool throws = fault.starts_with("caller");
        const bool idle = !fault.starts_with("--") && !throws;
        const bool stopped = fault.starts_with("stopped");
        // A sentence comes out within milliseconds; three seconds without a
        // sound is a hang. A process found gone or stopped starts afresh,
        // which on a loaded machine can take longer than that.
        EspeakSpeechSynthesizer synthesizer(
            {}, std::nullopt,
            {idle ? std::vector<std::string>{} : std::vector{fault}, std::chrono::seconds(idle ? 10 : 3)});
        if (!synthesizer.isAvailable()) {
            GTEST_SKIP() << "espeak-ng data is not installed (package espeak-ng-data); nothing to render with";
        }
        auto english = synthesizer.voiceForLanguage("en-US");
        const pid_t pid = idle ? voiceProcess() : -1;
        if (stopped) {
            // It takes in no more of a text longer than the socket holds.
            ASSERT_EQ(::kill(pid, SIGSTOP), 0);
        } else if (idle) {
            // Killed while idle (out of memory, say), the process lost no
            // reply; it held nothing of the program's but its socket.
            ASSERT_GT(pid, 0);
            const auto open = [&](pid_t process) {
                std::error_code error;
                return fs::read_symlink("/proc/" + std::to_string(process) + "/fd/" + std::to_string(leaked[1]), error);
            };
            EXPECT_NE(open(pid), open(::getpid()));
            ASSERT_EQ(::kill(pid, SIGKILL), 0);
            // Until it is a zombie, its socket closed; the bound only
            // guards against a hang.
            const auto state = [pid] {
                std::string stat;
                std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
                const auto name = stat.rfind(')');
                return name == std::string::npos ? std::string() : stat.substr(name + 2, 1);
            };
            for (int i = 0; i < 3000 && state() != "Z"; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        Reply lost;
        Reply next;
        const std::string text = "This reply is LOST half way." + std::string(stopped ? 1 << 20 : 0, ' ');
        synthesizer.write({text, english, 0.5f, 0.1}, [&, take = lost.callback()](const PcmBuffer& buffer) {
            if (throws && !isRenderFailureMark(buffer)) {
                throw std::bad_alloc();
            }
            take(buffer);
        });
        synthesizer.write({"The next reply is spoken.", english, 0.5f, 0.1}, next.callback());
        const bool ended = lost.waitFor();
        if (stopped) {
            ::kill(pid, SIGCONT);
        }
        ASSERT_TRUE(ended) << fault;
        EXPECT_EQ(lost.failed, !idle) << fault;
        ASSERT_TRUE(next.waitFor()) << fault;
        EXPECT_FALSE(next.failed) << fault;
        EXPECT_FALSE(next.buffers.empty()) << fault;
    }
    ::close(leaked[0]);
    ::close(leaked[1]);
}

TEST(EngineText, LeavesOrdinaryTextAloneAndCapsEveryRun)
{
    for (const auto& sentence : test::hostileTexts()) {
        if (sentence.kind == test::HostileText::ordinary) {
            EXPECT_EQ(sys::engineText(sentence.text), sentence.text + std::string(3, '\0')) << sentence.name;
        }
    }

    const std::string accents = repeated("\xcc\x81", 100);
    const std::string thaiRun = repeated("\xe0\xb8\x81", 300);
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Symbols stand apart, each emoji sequence whole; code points no
        // character is assigned to go.
        {"Great 😀😀👨‍👩‍👧‍👦€!", "Great 😀 😀 👨‍👩‍👧‍👦 €!"},
        {"❤️👍🏽👍🏽", "❤ 👍 🏽 👍 🏽 "},
        // Digits of scripts no voice reads its numbers in become plain ones;
        // Hindi, Arabic and Thai keep theirs.
        {"১২৩ ৳৫ १२३ ٣ ๓", "123 5 १२३ ٣ ๓"},
        // A flag's tags stay when a cancel tag ends them.
        {"🏴\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F 🏴\U000E0067\U000E0062 x",
         "🏴\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F 🏴 x"},
        {"s\xce\x81\u0d04x 🥲 \xf3\xa0\x81\xbf\xf0\x9f\x98\x91 👨\u200dphrase \u200d👧 ext",
         "sx  \xf0\x9f\x98\x91 👨phrase 👧 ext"},
        // A letter keeps its first eight marks.
        {"x" + accents, "x" + accents.substr(0, 16)},
        // Controls become spaces; bidi controls say nothing and go.
        {"a\x01"
         "b\xc2\x85"
         "c\xe2\x80\x8f"
         "d\xe2\x81\xa6"
         "e\xef\xbb\xbf",
         "a b cde"},
        {"se\xc3", "se "},
        // Abbreviations before long runs come apart, and scripts meet with a
        // space between them only there.
        {"U.S.A" + std::string(120, 'x'), "U. S. A" + std::string(95, 'x') + " " + std::string(25, 'x')},
        {"U.S.A" + thaiRun.substr(0, 300), "U. S. A " + thaiRun.substr(0, 300)},
        {"U.S" + thaiRun.substr(0, 30), "U.S" + thaiRun.substr(0, 30)},
        // Even a script without spaces is cut long before the engine's limits.
        {thaiRun, thaiRun.substr(0, 600) + " " + thaiRun.substr(600)},
    };
    for (const auto& [text, clean] : cases) {
        EXPECT_EQ(sys::engineText(text), clean + std::string(3, '\0')) << text;
    }
}

}  // namespace
}  // namespace parlaro
