#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace parlaro::app {

// Keeps one running copy per user. The first launch answers on a local
// socket; a later one asks it to show its window and then leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name`: the socket's name; each user (and each test) gets its own.
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this is the first copy, and from now on it hears later launches
    // through onShowRequest. False: another copy runs and was asked to show
    // its window; this one should exit with 0.
    bool claim();

    // A later launch asked for the window.
    std::function<void()> onShowRequest;

    // "parlaro-<uid>", in the user's runtime folder when there is one.
    static QString defaultName();
    static constexpr const char* showRequest = "show\n";

private:
    bool askRunningToShow();
    void accept();

    QString name_;
    QLocalServer* server_ = nullptr;
};

}  // namespace parlaro::app
