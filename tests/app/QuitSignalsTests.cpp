#include "ShellWorld.h"

#include "app/QuitSignals.h"
#include "model/ModelState.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace parlaro::test {
namespace {

TEST(QuitSignals, SigtermRunsTheQuitSequenceAndTheEventLoopEndsWithZero)
{
    ShellWorld shell;
    auto parts = shell.parts();
    parts.exit = nullptr;  // the real end of the event loop
    auto& delegate = shell.make(std::move(parts));
    delegate.launchFinished();
    shell.settle();
    test::given.set(shell.model->showWizard, true);
    std::vector<int> received;
    app::QuitSignals quitSignals([&](int signal) {
        received.push_back(signal);
        delegate.quit();
    });

    // Only a safety net should the signal be lost; the test never waits
    // for it otherwise.
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    safety.start(10000);

    std::raise(SIGTERM);
    const int code = QApplication::exec();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(received, std::vector<int>{SIGTERM});
    EXPECT_FALSE(shell.model->showWizard.get()) << "the sheets were dismissed";
    EXPECT_TRUE(delegate.hasTerminated());
}

TEST(QuitSignals, InterruptAndHangUpArriveTooAndTheOldHandlersComeBack)
{
    struct sigaction before = {};
    ::sigaction(SIGHUP, nullptr, &before);
    {
        std::vector<int> received;
        app::QuitSignals quitSignals([&](int signal) { received.push_back(signal); });
        std::raise(SIGINT);
        std::raise(SIGHUP);
        std::raise(SIGHUP);
        for (int round = 0; round < 100 && received.size() < 3; ++round)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        EXPECT_EQ(received, (std::vector<int>{SIGINT, SIGHUP, SIGHUP}));
        EXPECT_THROW(app::QuitSignals([](int) {}), std::logic_error);
    }
    struct sigaction after = {};
    ::sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace parlaro::test
