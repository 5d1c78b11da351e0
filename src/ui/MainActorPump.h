#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace parlaro::rt {
class Executor;
}

namespace parlaro::ui {

// Makes the Qt GUI thread the main actor: every post to the executor queues
// one drain on the Qt event loop (however many posts come before it runs).
// Timers stay the runtime clock's. Lives on the GUI thread, shorter than
// the executor.
class MainActorPump : public QObject {
    Q_OBJECT
public:
    explicit MainActorPump(rt::Executor& executor, QObject* parent = nullptr);
    ~MainActorPump() override;

protected:
    void customEvent(QEvent* event) override;

private:
    struct Target;
    void drain();
    void schedule();

    rt::Executor& executor_;
    std::shared_ptr<Target> target_;
};

}  // namespace parlaro::ui
