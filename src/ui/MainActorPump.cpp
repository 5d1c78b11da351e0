#include "ui/MainActorPump.h"

#include "runtime/Executor.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>

namespace parlaro::ui {

namespace {
const QEvent::Type drainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// The wake handler runs on whichever thread posted, possibly while the pump
// is being destroyed: it reaches the pump only under this lock.
struct MainActorPump::Target {
    std::mutex mutex;
    MainActorPump* pump = nullptr;
    std::atomic<bool> queued{false};
};

MainActorPump::MainActorPump(rt::Executor& executor, QObject* parent)
    : QObject(parent), executor_(executor), target_(std::make_shared<Target>())
{
    target_->pump = this;
    auto target = target_;
    executor_.setWakeHandler([target] {
        if (target->queued.exchange(true))
            return;
        std::lock_guard lock(target->mutex);
        if (target->pump)
            QCoreApplication::postEvent(target->pump, new QEvent(drainEvent));
    });
    if (executor_.pendingJobs() > 0)
        schedule();
}

MainActorPump::~MainActorPump()
{
    executor_.setWakeHandler(nullptr);
    std::lock_guard lock(target_->mutex);
    target_->pump = nullptr;
}

void MainActorPump::schedule()
{
    if (!target_->queued.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(drainEvent));
}

void MainActorPump::customEvent(QEvent* event)
{
    if (event->type() == drainEvent)
        drain();
}

void MainActorPump::drain()
{
    target_->queued.store(false);
    // Only what was queued before this drain: jobs that keep posting more
    // must not starve painting and input.
    auto pending = executor_.pendingJobs();
    for (std::size_t i = 0; i < pending; ++i) {
        if (!executor_.runOne())
            break;
    }
    if (executor_.pendingJobs() > 0)
        schedule();
}

}  // namespace parlaro::ui
