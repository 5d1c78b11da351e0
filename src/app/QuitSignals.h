#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace parlaro::app {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the main thread: the
// handler only writes the signal's number into a pipe, whose reading end the
// event loop watches. One at a time per process; the previous handlers come
// back when it goes.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    static constexpr int handled[] = {SIGTERM, SIGINT, SIGHUP};

private:
    void readSignals();

    std::function<void(int)> onSignal_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
};

}  // namespace parlaro::app
