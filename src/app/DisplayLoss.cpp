#include "app/DisplayLoss.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace parlaro::app {

namespace {

QtMessageHandler previous = nullptr;
std::function<void()>* installed = nullptr;
std::atomic<bool> lost{false};
// Main thread only.
bool rescued = false;

[[noreturn]] void endProcess()
{
    std::fflush(nullptr);
    // Without the exit handlers: the engine's threads still run, and static
    // objects they use must not go from under them.
    std::_Exit(1);
}

[[noreturn]] void rescueAndEnd()
{
    if (!rescued && installed) {
        rescued = true;
        (*installed)();
    }
    std::fputs("parlaro: the display went away; Parlaro ended as at a quit.\n", stderr);
    endProcess();
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (previous)
        previous(type, context, message);
    if (!DisplayLoss::isLoss(type, message) || !installed)
        return;
    if (!lost.exchange(true)) {
        // However the rescue fares, the process ends in bounded time.
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::duration<double>(DisplayLoss::rescueLimitSeconds));
            std::fputs("parlaro: the display went away and ending took too long; Parlaro stopped.\n", stderr);
            endProcess();
        }).detach();
    }
    auto* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread())
        rescueAndEnd();
    // Qt noticed on a thread of its own, which would end the process as
    // soon as this returns: the model is the main thread's, so the rescue
    // is handed there (the main thread, noticing too, runs it at once) and
    // this thread waits for the end.
    QMetaObject::invokeMethod(
        application, [] { rescueAndEnd(); }, Qt::QueuedConnection);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

DisplayLoss::DisplayLoss(std::function<void()> rescue)
{
    if (installed)
        throw std::logic_error("only one DisplayLoss at a time");
    installed = new std::function<void()>(std::move(rescue));
    previous = qInstallMessageHandler(&onMessage);
}

DisplayLoss::~DisplayLoss()
{
    qInstallMessageHandler(previous);
    previous = nullptr;
    delete installed;
    installed = nullptr;
}

bool DisplayLoss::isLoss(QtMsgType type, const QString& message)
{
    if (type != QtWarningMsg && type != QtCriticalMsg && type != QtFatalMsg)
        return false;
    return message.startsWith(QLatin1String("The X11 connection broke"))
        || message.startsWith(QLatin1String("The Wayland connection broke"))
        || message.startsWith(QLatin1String("The Wayland connection experienced a fatal error"));
}

}  // namespace parlaro::app
