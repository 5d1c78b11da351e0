// Many replies through the real speech synthesizer, some stopped part way as
// a new press stops the last reply, for faults that only a long run meets.
// PARLARO_ESPEAK_SOAK names a file of "voice-language<TAB>text" lines, else
// the replies are hostile shapes of its own (abbreviations before runs of
// accents, emoji and symbol runs in one language after another, runs without
// spaces in scripts written without them, controls and bidi marks);
// PARLARO_ESPEAK_SOAK_ROUNDS says how often to go through them. A reply the
// engine could not finish is counted as crashed: its voice process died and
// the next reply got a new one.

#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"
#include "support/HostileTexts.h"
#include "support/SpokenReply.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace parlaro;

namespace {

using test::repeated;

// A reply that takes this long hung: a long run under load stays far inside it.
constexpr std::chrono::seconds hangBound(30);

// Twenty-five shapes in ten languages; with several rounds each shape meets
// each rate and each of the replies stopped part way.
std::vector<std::pair<std::string, std::string>> hostileReplies()
{
    const std::string accents = repeated("\u0301", 100);
    const std::string emoji = repeated("😀🎉👍🏽❤️🔥", 30);
    const std::string symbols = repeated("€$£¥©®™±×÷∞≈≠≤≥→⇒∑√", 12);
    const std::string family = repeated("👨‍👩‍👧‍👦", 40);
    const std::string thai = "วันนี้อากาศดีมากและผมอยากจะไปเที่ยวที่ทะเลกับครอบครัวของผม";
    const std::string chinese = "我们下周三下午两点在三楼的大会议室开会请大家提前准备好上个季度的销售报告";
    const std::string japanese = "来週の水曜日の午後二時に三階の大会議室で会議を行いますので皆さん準備してください";
    std::vector<std::pair<std::string, std::string>> replies = {
        {"en", "U.S.Ax" + accents + " and more."},
        {"en", "U.S.A" + repeated("x", 300)},
        {"de", "A.B.C" + repeated("e\u0308\u0301", 80)},
        {"th", "U.S.A" + repeated(thai, 4)},
        {"th", "ก.ข" + repeated(thai, 6)},
        {"th", repeated(thai, 12)},
        {"zh", "U.S.A" + repeated(chinese, 6)},
        {"zh", repeated(chinese, 10)},
        {"ko", repeated("안녕하세요반갑습니다", 40)},
        {"hi", "नमस्ते" + repeated("\u093e\u094d", 90)},
        {"ar", "\u202eمرحبا" + repeated("\u064b\u0651", 100) + "\u202c"},
        {"en", "Hello\u200f\u2066 there\u2069\x01\x1b[31m red\x7f \xc2\x85 done \xef\xbb\xbf."},
        {"vi", "Xin ch\u0061" + repeated("\u0300\u0323", 60) + " nhé."},
        {"ru", "С.Ш.А" + repeated("я\u0301", 100)},
    };
    // Emoji and symbol runs in one language after another.
    for (const char* language : {"en", "es", "de", "fr", "zh", "th", "ru", "ar", "hi"})
        replies.emplace_back(language, emoji + " " + symbols + family);
    replies.emplace_back("es", "a." + repeated("a.", 200));
    replies.emplace_back("ja", japanese);
    return replies;
}

void BM_SpeechSynthesizerSoak(benchmark::State& state)
{
    const char* path = std::getenv("PARLARO_ESPEAK_SOAK");
    std::vector<std::pair<std::string, std::string>> replies;
    if (path != nullptr) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            if (const auto tab = line.find('\t'); tab != std::string::npos)
                replies.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    } else {
        replies = hostileReplies();
    }
    sys::EspeakSpeechSynthesizer synthesizer;
    if (replies.empty() || !synthesizer.isAvailable()) {
        state.SkipWithError("PARLARO_ESPEAK_SOAK names no file of replies, or espeak-ng is not installed");
        return;
    }
    const char* roundsText = std::getenv("PARLARO_ESPEAK_SOAK_ROUNDS");
    const int rounds = roundsText ? std::atoi(roundsText) : 1;
    std::size_t rendered = 0;
    std::size_t hung = 0;
    std::size_t crashed = 0;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < replies.size(); ++i) {
                const auto voice = synthesizer.voiceForLanguage(replies[i].first);
                const std::size_t turn = i + static_cast<std::size_t>(round);
                test::SpokenReply render(hangBound);
                const auto id = synthesizer.write(
                    {replies[i].second, voice, 0.3f + 0.1f * static_cast<float>(turn % 5), 0.05}, render.callback());
                if (turn % 4 == 3) {
                    render.waitFor(&test::SpokenReply::begun);
                    synthesizer.stopRender(id);
                    test::SpokenReply after(hangBound);
                    synthesizer.write({"Sí.", voice, 0.5f, 0}, after.callback());
                    hung += after.waitFor() ? 0 : 1;
                    std::lock_guard lock(after.mutex);
                    crashed += after.failed ? 1 : 0;
                } else {
                    hung += render.waitFor() ? 0 : 1;
                }
                std::lock_guard lock(render.mutex);
                crashed += render.failed ? 1 : 0;
                ++rendered;
            }
    }
    state.counters["replies"] = static_cast<double>(rendered);
    state.counters["hung"] = static_cast<double>(hung);
    state.counters["crashed"] = static_cast<double>(crashed);
}
BENCHMARK(BM_SpeechSynthesizerSoak)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
