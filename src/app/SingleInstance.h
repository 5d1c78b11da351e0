#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <sys/types.h>

class QLocalSocket;
class QSocketNotifier;

namespace parlaro::app {

// Keeps one running copy per user. The first launch answers on a local
// socket; a later one asks it to show its window, waits for it to say it
// did, and then leaves.
//
// Nothing found at the socket's path is removed unless it is a socket of
// this user's that nobody listens on (left by a copy that died): a file the
// user keeps there stays, and a copy that is alive but busy keeps its
// socket, so no second copy ever runs beside it.
//
// Connections that ask nothing cannot wear the running copy out: each is
// closed after idleCloseMs, no more than mostConnections are kept open (to
// make room, the oldest of the process that holds the most goes, so a
// process that floods the socket pushes out only its own and a launch
// beside it is still answered), no more than mostConnections are taken in
// one turn of the event loop, and a connection that cannot be taken (no
// descriptor left) is tried again shortly, the socket listening throughout.
// A launch that finds the queue of waiting connections full (another process
// pouring them in keeps it so) waits for its turn, within the same wait as
// for the answer, rather than being turned away while the copy is alive.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name`: the socket's path (a bare name is taken in the temporary
    // folder); each user (and each test) gets its own.
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this is the first copy, and from now on it hears later launches
    // through onShowRequest. False: this one should exit; with 0 when the
    // running copy showed its window, else (refused()) it says why on
    // standard error and should exit with 1.
    bool claim();
    bool refused() const { return !refusal_.isEmpty(); }
    // Why this launch may not run, as said on standard error.
    const QString& refusal() const { return refusal_; }

    // A later launch asked for the window. Under Wayland its launcher's
    // activation token is in XDG_ACTIVATION_TOKEN by then, where the
    // toolkit takes it from when the window is activated.
    std::function<void()> onShowRequest;

    // What a later launch passes on to the running copy: its launcher's
    // activation token (from XDG_ACTIVATION_TOKEN), if any.
    QString activationToken;
    // How long a later launch waits for the running copy to take its
    // connection and say it showed its window.
    int answerWaitMs = 5000;
    // How long the running copy keeps a connection open: a launch asks and
    // is answered at once.
    int idleCloseMs = 5000;
    static constexpr int mostConnections = 16;
    // Request lines answered per connection in one turn of the event loop.
    static constexpr int linesPerTurn = 4;

    // "parlaro-<uid>", in the user's runtime folder when there is one.
    static QString defaultName();
    static constexpr const char* showRequest = "show";
    static constexpr const char* shownAnswer = "shown\n";

private:
    enum class Listening { yes, taken, failed };
    Listening listen(const QByteArray& path);
    bool askRunningToShow(int fd, std::chrono::steady_clock::time_point deadline);
    bool refuse(const QString& why);
    void accept();
    void serve(int fd);
    // Closes connections until there is room for one from `peer`.
    void makeRoom(pid_t peer);
    void serveLines(QLocalSocket* socket);
    void handleLine(QLocalSocket* socket, const QByteArray& line);

    QString name_;
    int listening_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    // Open connections, oldest first, each with the process at its other
    // end (0 when unknown).
    struct Connection {
        QLocalSocket* socket;
        pid_t peer;
    };
    QList<Connection> connections_;
    QString refusal_;
    // The socket this copy made, so that it removes only its own.
    QByteArray path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace parlaro::app
