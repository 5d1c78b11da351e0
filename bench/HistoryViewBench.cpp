// Showing a saved conversation on the history page, as the user does: the
// page in a scrolling window, a click on "View", then the event loop until
// the transcript is laid out. Reports the time to that point, the longest
// the main thread was held at once on the way (one turn of the executor or
// of the event loop), and the memory the process holds once it shows.

#include "history/ConversationHistory.h"
#include "model/SettingsWriter.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/SystemRuntime.h"
#include "settings/HistoryGroups.h"

#include <QAbstractButton>
#include <QApplication>
#include <QScrollArea>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace parlaro;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

QApplication& application()
{
    static int argc = 1;
    static char name[] = "parlaro_bench";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(argc, argv);
    return app;
}

double megabytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

// One history folder per length, each holding one conversation of that many
// sentences, a working day's mix of both sides; removed at exit.
class Conversations {
public:
    static Conversations& shared()
    {
        static Conversations conversations;
        return conversations;
    }
    ~Conversations()
    {
        std::error_code error;
        fs::remove_all(root_, error);
    }
    const fs::path& folder(int sentences, SettingsStore& defaults)
    {
        auto found = folders_.find(sentences);
        if (found != folders_.end())
            return found->second;
        const fs::path folder = root_ / std::to_string(sentences);
        // Written by a child process, so the memory of writing it is not
        // counted as the memory of showing it.
        const pid_t child = ::fork();
        if (child == 0) {
            write(folder, sentences, defaults);
            ::_exit(0);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::abort();
        return folders_.emplace(sentences, folder).first->second;
    }

private:
    static void write(const fs::path& folder, int sentences, SettingsStore& defaults)
    {
        auto history = ConversationHistory::make(folder, defaults);
        ConversationSession session;
        session.entries.reserve(static_cast<std::size_t>(sentences));
        const rt::Date start{800000000.0};
        for (int n = 0; n < sentences; ++n) {
            const bool me = n % 2 == 1;
            session.entries.push_back(ConversationEntry{
                .side = me ? ConversationEntry::Side::me : ConversationEntry::Side::them,
                .original = me
                    ? "好的，我们明天上午十点在车站见面，第 " + std::to_string(n) + " 句"
                    : "Could you send me the invoice for order " + std::to_string(n) + " before the meeting tomorrow?",
                .translated = me ? "Okay, see you at the station at ten tomorrow, sentence " + std::to_string(n)
                                 : "明天开会前能把第 " + std::to_string(n) + " 号订单的发票发给我吗？",
                .time = start + n * 3.0,
                .originalLanguage = me ? "zh-Hans" : "en",
                .translatedLanguage = me ? "en" : "zh-Hans"});
        }
        if (history->save(session))
            std::abort();
    }

    Conversations()
    {
        std::string pattern = (fs::temp_directory_path() / "parlaro-history-view-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root_ = pattern;
    }
    fs::path root_;
    std::map<int, fs::path> folders_;
};

// The page in a window of the settings' size, turning the executor and the
// event loop in turn as the application does.
struct Window {
    rt::SystemRuntime& runtime;
    sim::SimPlatform platform;
    SettingsWriter settings{platform.defaults, [](std::string) {}};
    std::shared_ptr<ConversationHistory> history;
    QScrollArea area;
    settings::HistoryGroups* page;
    double longestTurn = 0;

    Window(rt::SystemRuntime& runtime, int sentences) : runtime(runtime)
    {
        history =
            ConversationHistory::make(Conversations::shared().folder(sentences, platform.defaults), platform.defaults);
        page = new settings::HistoryGroups(history, settings, LocaleContext{"en_US", "UTC"});
        area.setWidgetResizable(true);
        area.setWidget(page);
        area.resize(760, 700);
        area.show();
        turnUntil([&] { return view() != nullptr; });
    }

    QAbstractButton* view() { return page->findChild<QAbstractButton*>(QStringLiteral("history.row.view")); }

    // Whether the transcript is laid out: a view that says nothing of it is
    // laid out once it exists and the event loop has run past it.
    bool shown()
    {
        const QWidget* transcript = page->findChild<QWidget*>(QStringLiteral("history.transcript"));
        if (!transcript || !transcript->isVisible())
            return false;
        const QVariant complete = transcript->property("complete");
        return !complete.isValid() || complete.toBool();
    }

    template <class Done>
    void turnUntil(Done done)
    {
        while (!done()) {
            const auto before = Clock::now();
            const std::size_t jobs = runtime.executor().runUntilIdle();
            const auto between = Clock::now();
            QApplication::sendPostedEvents();
            // As the event loop does when it returns to its top.
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QApplication::processEvents();
            const auto after = Clock::now();
            longestTurn = std::max({longestTurn, std::chrono::duration<double>(between - before).count(),
                                    std::chrono::duration<double>(after - between).count()});
            if (jobs == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
};

void BM_HistoryView(benchmark::State& state)
{
    application();
    rt::SystemRuntime runtime;
    const int sentences = static_cast<int>(state.range(0));
    double longest = 0;
    double resident = 0;
    for (auto _ : state) {
        Window window(runtime, sentences);
        window.longestTurn = 0;
        const auto start = Clock::now();
        window.view()->click();
        window.turnUntil([&] { return window.shown(); });
        // Whatever the event loop still has for it (layout, painting).
        for (int turn = 0; turn < 3; ++turn)
            window.turnUntil([first = true]() mutable { return !std::exchange(first, false); });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        longest = std::max(longest, window.longestTurn);
        resident = std::max(resident, megabytes("VmRSS:"));
    }
    state.counters["longest_block_ms"] = longest * 1000;
    state.counters["rss_mb"] = resident;
    state.counters["peak_rss_mb"] = megabytes("VmHWM:");
}
BENCHMARK(BM_HistoryView)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(8000)
    ->Arg(200000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
