#include "history/ConversationHistory.h"
#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

using namespace parlaro;
namespace fs = std::filesystem;

namespace {

constexpr int entriesPerSession = 50;

// Folders of saved sessions, made once per size and removed at exit.
class Corpus {
public:
    static Corpus& shared()
    {
        static Corpus corpus;
        return corpus;
    }
    ~Corpus()
    {
        std::error_code error;
        fs::remove_all(root_, error);
    }

    const fs::path& folder(int sessions)
    {
        auto found = folders_.find(sessions);
        if (found == folders_.end())
            found = folders_.emplace(sessions, make(sessions)).first;
        return found->second;
    }

private:
    Corpus()
    {
        std::string pattern = (fs::temp_directory_path() / "parlaro-history-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root_ = pattern;
    }

    fs::path make(int sessions)
    {
        static const char* words[] = {"meeting", "tomorrow", "price",   "delivery", "thanks", "please", "order",
                                      "invoice", "schedule", "weather", "station",  "hotel",  "dinner", "call"};
        static const char* chinese[] = {"明天", "开会", "价格", "送货", "谢谢", "请",   "订单",
                                        "发票", "安排", "天气", "车站", "酒店", "晚饭", "电话"};
        std::mt19937 random(static_cast<unsigned>(sessions));
        auto sentence = [&](int length) {
            std::string text;
            for (int i = 0; i < length; ++i) {
                if (i)
                    text += ' ';
                text += words[random() % std::size(words)];
            }
            return text;
        };
        auto chineseSentence = [&](int length) {
            std::string text;
            for (int i = 0; i < length; ++i)
                text += chinese[random() % std::size(chinese)];
            return text + "。";
        };
        fs::path folder = root_ / std::to_string(sessions);
        fs::create_directories(folder);
        for (int s = 0; s < sessions; ++s) {
            ConversationSession session;
            const double start = 700'000'000.0 + 3600.0 * s;
            for (int e = 0; e < entriesPerSession; ++e) {
                const bool them = e % 2 == 0;
                session.entries.push_back(
                    ConversationEntry{.id = rt::Uuid::random(),
                                      .side = them ? ConversationEntry::Side::them : ConversationEntry::Side::me,
                                      .original = them ? sentence(8) : chineseSentence(8),
                                      .translated = them ? chineseSentence(8) : sentence(8),
                                      .time = rt::Date{start + 10.0 * e},
                                      .originalLanguage = them ? "en" : "zh-Hans",
                                      .translatedLanguage = them ? "zh-Hans" : "en"});
            }
            HistoryFiles::writeAtomically(folder / (session.id.toString() + ".json"), HistoryJson::encode(session));
        }
        ConversationHistory::rebuildIndex(folder);
        return folder;
    }

    fs::path root_;
    std::map<int, fs::path> folders_;
};

void sizes(benchmark::internal::Benchmark* bench)
{
    bench->RangeMultiplier(2)->Range(1250, 10000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);
}

// A first load with an index that matches the folder: the files are listed
// but none is read.
void BM_HistoryLoad(benchmark::State& state)
{
    const fs::path& folder = Corpus::shared().folder(static_cast<int>(state.range(0)));
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    for (auto _ : state) {
        auto history = ConversationHistory::make(folder, platform.defaults);
        history->load();
        runtime.runUntilIdle();
        benchmark::DoNotOptimize(history->summaries.get().size());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_HistoryLoad)->Apply(sizes);

// A first load without an index: every session file is read and the index
// written again.
void BM_HistoryLoadWithoutIndex(benchmark::State& state)
{
    const fs::path& folder = Corpus::shared().folder(static_cast<int>(state.range(0)));
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(folder / "index.json");
        state.ResumeTiming();
        auto history = ConversationHistory::make(folder, platform.defaults);
        history->load();
        runtime.runUntilIdle();
        benchmark::DoNotOptimize(history->summaries.get().size());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_HistoryLoadWithoutIndex)->Apply(sizes);

// Wall time of the best of three runs of `grep -rlF` for the query over the
// folder: the yardstick for reading every file and looking for a text.
double grepSeconds(const std::string& query, const fs::path& folder)
{
    const std::string command = "grep -rlF -- '" + query + "' '" + folder.string() + "' > /dev/null";
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto begin = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const auto end = std::chrono::steady_clock::now();
        // grep says 1 when nothing matched, as here.
        if (status == -1)
            return 0.0;
        best = std::min(best, std::chrono::duration<double>(end - begin).count());
    }
    return best;
}

// A search that matches nothing reads every entry of every session. Next to
// it, grep over the same folder in the same run: grep_ms, and vs_grep, how
// many times grep's time the search takes.
void BM_HistorySearch(benchmark::State& state)
{
    const fs::path& folder = Corpus::shared().folder(static_cast<int>(state.range(0)));
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    auto history = ConversationHistory::make(folder, platform.defaults);
    history->load();
    runtime.runUntilIdle();
    const std::vector<ConversationSummary> summaries = history->summaries.get();
    const std::string query = "Bahnhof";
    double searched = 0.0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        auto hits = ConversationHistory::searchNow(query, summaries, folder);
        searched += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        benchmark::DoNotOptimize(hits.size());
    }
    const double grep = grepSeconds(query, folder);
    state.counters["grep_ms"] = grep * 1e3;
    state.counters["vs_grep"] = grep > 0 ? searched / static_cast<double>(state.iterations()) / grep : 0.0;
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_HistorySearch)->Apply(sizes);

}  // namespace
