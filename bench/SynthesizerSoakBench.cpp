// Many replies through the real speech synthesizer, some stopped part way as
// a new press stops the last reply, for reads past a buffer that only a long
// run meets (run it in the dev build, under AddressSanitizer).
// PARLARO_ESPEAK_SOAK names a file of "voice-language<TAB>text" lines,
// PARLARO_ESPEAK_SOAK_ROUNDS how often to go through it.

#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using namespace parlaro;

namespace {

// Whether a render has begun or ended, as its buffers tell.
struct Render {
    std::mutex mutex;
    std::condition_variable changed;
    bool begun = false;
    bool ended = false;

    SpeechSynthesizer::BufferCallback callback()
    {
        return [this](const PcmBuffer& buffer) {
            std::lock_guard lock(mutex);
            (buffer.frameLength() == 0 ? ended : begun) = true;
            changed.notify_all();
        };
    }
    // The bound only guards against a hang.
    bool waitFor(bool Render::*what)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return this->*what || ended; });
    }
};

void BM_SpeechSynthesizerSoak(benchmark::State& state)
{
    const char* path = std::getenv("PARLARO_ESPEAK_SOAK");
    std::vector<std::pair<std::string, std::string>> replies;
    std::ifstream in(path ? path : "");
    for (std::string line; std::getline(in, line);)
        if (const auto tab = line.find('\t'); tab != std::string::npos)
            replies.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    sys::EspeakSpeechSynthesizer synthesizer;
    if (replies.empty() || !synthesizer.isAvailable()) {
        state.SkipWithError("PARLARO_ESPEAK_SOAK names no file of replies, or espeak-ng is not installed");
        return;
    }
    const char* roundsText = std::getenv("PARLARO_ESPEAK_SOAK_ROUNDS");
    const int rounds = roundsText ? std::atoi(roundsText) : 1;
    std::size_t rendered = 0;
    std::size_t hung = 0;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < replies.size(); ++i) {
                const auto voice = synthesizer.voiceForLanguage(replies[i].first);
                const std::size_t turn = i + static_cast<std::size_t>(round);
                Render render;
                const auto id = synthesizer.write(
                    {replies[i].second, voice, 0.3f + 0.1f * static_cast<float>(turn % 5), 0.05}, render.callback());
                if (turn % 4 == 3) {
                    render.waitFor(&Render::begun);
                    synthesizer.stopRender(id);
                    Render after;
                    synthesizer.write({"Sí.", voice, 0.5f, 0}, after.callback());
                    hung += after.waitFor(&Render::ended) ? 0 : 1;
                } else {
                    hung += render.waitFor(&Render::ended) ? 0 : 1;
                }
                ++rendered;
            }
    }
    state.counters["replies"] = static_cast<double>(rendered);
    state.counters["hung"] = static_cast<double>(hung);
}
BENCHMARK(BM_SpeechSynthesizerSoak)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
