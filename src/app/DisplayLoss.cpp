#include "app/DisplayLoss.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace parlaro::app {

namespace {

QtMessageHandler previous = nullptr;
std::function<void()>* installed = nullptr;
std::atomic<bool> rescuing{false};

void endProcess()
{
    std::fflush(nullptr);
    // Without the exit handlers: the engine's threads still run, and static
    // objects they use must not go from under them.
    std::_Exit(1);
}

void rescueOnMainThread(const std::function<void()>& rescue)
{
    auto* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread()) {
        rescue();
        return;
    }
    // Qt may notice the loss on a thread of its own; the model is the main
    // thread's, which is then asked and waited for.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QMetaObject::invokeMethod(
        application,
        [&] {
            rescue();
            std::lock_guard lock(mutex);
            finished = true;
            done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (previous)
        previous(type, context, message);
    if (!DisplayLoss::isLoss(type, message) || !installed || rescuing.exchange(true))
        return;
    // However the rescue fares, the process ends in bounded time.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::duration<double>(DisplayLoss::rescueLimitSeconds));
        std::fputs("parlaro: the display went away and ending took too long; Parlaro stopped.\n", stderr);
        endProcess();
    }).detach();
    rescueOnMainThread(*installed);
    std::fputs("parlaro: the display went away; Parlaro ended as at a quit.\n", stderr);
    endProcess();
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
