// Showing a saved conversation on the history page, as the user does: the
// page in a scrolling window, a click on "View", then the event loop until
// the transcript is laid out. Reports the time to that point, the longest
// the main thread was held at once on the way (one turn of the executor or
// of the event loop), and the memory the process holds once it shows. The
// same for a conversation with one endless sentence, and for exporting one.

#include "history/ConversationHistory.h"
#include "model/SettingsWriter.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/SystemRuntime.h"
#include "settings/ExportPanel.h"
#include "settings/HistoryGroups.h"

#include "BenchApplication.h"
#include <QAbstractButton>

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProgressDialog>
#include <QScrollArea>
#include <QTimer>
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

using bench::application;

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
    // With `longSentence`, the second sentence is that many characters long.
    const fs::path& folder(int sentences, SettingsStore& defaults, std::size_t longSentence = 0)
    {
        const std::string name = std::to_string(sentences) + "-" + std::to_string(longSentence);
        auto found = folders_.find(name);
        if (found != folders_.end())
            return found->second;
        const fs::path folder = root_ / name;
        // Written by a child process, so the memory of writing it is not
        // counted as the memory of showing it.
        const pid_t child = ::fork();
        if (child == 0) {
            write(folder, sentences, defaults, longSentence);
            ::_exit(0);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::abort();
        return folders_.emplace(name, folder).first->second;
    }

    // A scratch folder of its own for what a benchmark writes.
    fs::path scratch(const std::string& name)
    {
        fs::create_directories(root_ / "scratch");
        return root_ / "scratch" / name;
    }

private:
    static void write(const fs::path& folder, int sentences, SettingsStore& defaults, std::size_t longSentence)
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
        if (longSentence > 0 && sentences > 1) {
            std::string& endless = session.entries[1].original;
            endless.clear();
            while (endless.size() < longSentence)
                endless += "endless ";
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
    std::map<std::string, fs::path> folders_;
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

    Window(rt::SystemRuntime& runtime, int sentences, std::size_t longSentence = 0) : runtime(runtime)
    {
        history = ConversationHistory::make(Conversations::shared().folder(sentences, platform.defaults, longSentence),
                                            platform.defaults);
        page = new settings::HistoryGroups(history, settings, LocaleContext{"en_US", "UTC"});
        area.setWidgetResizable(true);
        area.setWidget(page);
        area.resize(760, 700);
        area.show();
        turnUntil([&] { return view() != nullptr; });
    }

    QAbstractButton* view() { return page->findChild<QAbstractButton*>(QStringLiteral("history.row.view")); }
    QAbstractButton* exporting() { return page->findChild<QAbstractButton*>(QStringLiteral("history.row.export")); }

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

    // Clicks View and turns the loop until the transcript is laid out and
    // painted; the seconds that took, with longestTurn the longest hold.
    double open()
    {
        longestTurn = 0;
        const auto start = Clock::now();
        view()->click();
        turnUntil([&] { return shown(); });
        // Whatever the event loop still has for it (layout, painting).
        for (int turn = 0; turn < 3; ++turn)
            turnUntil([first = true]() mutable { return !std::exchange(first, false); });
        return std::chrono::duration<double>(Clock::now() - start).count();
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
        state.SetIterationTime(window.open());
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

// Opening a conversation of three sentences whose second is this many
// characters long.
void BM_HistoryViewLongSentence(benchmark::State& state)
{
    application();
    rt::SystemRuntime runtime;
    double longest = 0;
    for (auto _ : state) {
        Window window(runtime, 3, static_cast<std::size_t>(state.range(0)));
        state.SetIterationTime(window.open());
        longest = std::max(longest, window.longestTurn);
    }
    state.counters["longest_block_ms"] = longest * 1000;
}
BENCHMARK(BM_HistoryViewLongSentence)
    ->Arg(1000000)
    ->Arg(10000000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A save dialog that the user answers at once with `path`.
struct AnsweredDialog final : settings::SaveDialog {
    explicit AnsweredDialog(QString path) : path(std::move(path)) {}
    void open(QWidget*, const QString&, const QStringList&, const QString&) override
    {
        QTimer::singleShot(0, [this] {
            if (auto finished = onFinished)
                finished(path);
        });
    }
    QString fileName() const override { return path; }
    void setFileName(const QString&) override {}
    QString path;
};

QWidget* exportProgress()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QStringLiteral("export.progress"))
            return window;
    return nullptr;
}

// Exporting a saved conversation from the history page as text, the dialog
// answered at once: the time until the file is written and the longest the
// main thread was held on the way; then the same export stopped as a quit
// stops it once half of it is made, and the time until it has stopped
// (`stop_ms`).
void BM_HistoryExport(benchmark::State& state)
{
    application();
    rt::SystemRuntime runtime;
    const int sentences = static_cast<int>(state.range(0));
    const QString path = QString::fromStdString(Conversations::shared().scratch("export.txt").string());
    settings::ExportPanel::Scope dialogs([path] { return std::make_unique<AnsweredDialog>(path); }, {"en_US", "UTC"});
    double longest = 0;
    double stopping = 0;
    for (auto _ : state) {
        Window window(runtime, sentences);
        QFile::remove(path);
        window.longestTurn = 0;
        const auto start = Clock::now();
        window.exporting()->click();
        window.turnUntil([&] { return exportProgress() != nullptr; });
        window.turnUntil([&] { return exportProgress() == nullptr; });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        longest = std::max(longest, window.longestTurn);
        if (!QFile::exists(path))
            state.SkipWithError("the export wrote nothing");

        QFile::remove(path);
        window.exporting()->click();
        window.turnUntil([&] { return exportProgress() != nullptr; });
        const QPointer<QProgressDialog> progress = qobject_cast<QProgressDialog*>(exportProgress());
        window.turnUntil([&] { return !progress || progress->value() >= sentences / 2; });
        const auto quit = Clock::now();
        settings::ExportPanel::stopWriting();
        window.turnUntil([&] { return exportProgress() == nullptr; });
        stopping = std::max(stopping, std::chrono::duration<double>(Clock::now() - quit).count());
        longest = std::max(longest, window.longestTurn);
        if (QFile::exists(path))
            state.SkipWithError("the stopped export wrote its file");
    }
    state.counters["longest_block_ms"] = longest * 1000;
    state.counters["stop_ms"] = stopping * 1000;
}
BENCHMARK(BM_HistoryExport)->Arg(200000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
