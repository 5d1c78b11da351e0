#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace parlaro::app {

namespace {

// A request line is "show", or "show <token>" for an activation token; a
// longer line than this is nobody's request.
constexpr qint64 longestRequest = 1024;
// How soon a connection that could not be taken is tried again.
constexpr int acceptRetryMs = 200;

// A real folder of this user's with no access for anyone else. A name
// another user took first is no such folder.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid()
        && (status.st_mode & 077) == 0;
}

QByteArray socketPath(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return QFile::encodeName(name);
    return QFile::encodeName(QDir(QDir::tempPath()).filePath(name));
}

bool fillAddress(sockaddr_un& address, const QByteArray& path)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Printable ASCII without spaces, so that it stays one word of one line.
bool isTokenText(const QByteArray& token)
{
    if (token.isEmpty() || token.size() > longestRequest - 16)
        return false;
    for (char c : token) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Waits for `events` on `fd` until `deadline`; false when the time is up.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Connects, waiting while the listener's queue is full: a copy busy for a
// moment, or another process pouring connections in, keeps it full only
// until the copy takes the next one, and the kernel wakes a waiting connect
// then. 0, or why it failed (EAGAIN: still full at the deadline).
int connectBefore(int fd, const sockaddr_un& address, std::chrono::steady_clock::time_point deadline)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int error = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            error = EAGAIN;
            break;
        }
        const timeval timeout{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        error = errno;
        if (error != EINTR && error != EAGAIN)
            break;
    }
    ::fcntl(fd, F_SETFL, flags);
    return error;
}

// Called when the program may have no descriptor left, where the
// sanitizer's own check of a call on an object needs one to read memory.
__attribute__((no_sanitize("vptr"))) void setListening(QSocketNotifier* notifier, bool listening)
{
    notifier->setEnabled(listening);
}

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), activationToken(qEnvironmentVariable("XDG_ACTIVATION_TOKEN")), name_(std::move(name))
{
}

SingleInstance::~SingleInstance()
{
    if (listening_ < 0)
        return;
    delete notifier_;
    notifier_ = nullptr;
    ::close(listening_);
    listening_ = -1;
    // Only our own socket: the path may hold another one by now.
    struct stat status {};
    if (::lstat(path_.constData(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_)
        ::unlink(path_.constData());
}

QString SingleInstance::defaultName()
{
    const QString file = QStringLiteral("parlaro-%1").arg(::getuid());
    // The socket must sit where no other user can put one first: such a
    // socket would answer a launch and leave the user with no Parlaro.
    // A runtime folder set to a shared one (the temporary folder, another
    // user's) is no safer than the temporary folder itself.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(QFile::encodeName(runtime)))
        return QDir(runtime).filePath(file);
    const QString shared = QDir(QDir::tempPath()).filePath(file);
    ::mkdir(QFile::encodeName(shared).constData(), 0700);
    if (isPrivateFolder(QFile::encodeName(shared)))
        return QDir(shared).filePath(file);
    return QDir::home().filePath(QStringLiteral(".") + file);
}

bool SingleInstance::refuse(const QString& why)
{
    refusal_ = QStringLiteral("parlaro: ") + why;
    std::fprintf(stderr, "%s\n", qPrintable(refusal_));
    return false;
}

bool SingleInstance::claim()
{
    if (listening_ >= 0)
        return true;
    refusal_.clear();
    const QByteArray path = socketPath(name_);
    const QString shownPath = QFile::decodeName(path);
    const QString notStarting = QStringLiteral("; not starting a second copy.");
    // A few rounds: a copy may start or end between two looks.
    for (int round = 0; round < 5; ++round) {
        struct stat status {};
        if (::lstat(path.constData(), &status) != 0) {
            const int error = errno;
            if (error != ENOENT)
                return refuse(QStringLiteral("cannot look at %1: %2").arg(shownPath, errorText(error)));
            const Listening listening = listen(path);
            if (listening == Listening::taken)
                continue;
            // Without the socket this copy still runs; only later launches
            // cannot find it.
            return true;
        }
        if (S_ISDIR(status.st_mode))
            return refuse(QStringLiteral("cannot start: %1 is a folder, where the socket of the running copy belongs; "
                                         "it was left alone. Remove it if nothing needs it.")
                              .arg(shownPath));
        if (!S_ISSOCK(status.st_mode))
            return refuse(QStringLiteral("cannot start: %1 is %2, where the socket of the running copy belongs; it "
                                         "was left alone. Remove it if nothing needs it.")
                              .arg(shownPath,
                                   S_ISREG(status.st_mode) ? QStringLiteral("a file")
                                                           : QStringLiteral("neither a socket nor a file")));
        if (status.st_uid != ::getuid())
            return refuse(
                QStringLiteral("cannot start: %1 is a socket of another user; it was left alone.").arg(shownPath));

        sockaddr_un address{};
        if (!fillAddress(address, path))
            return refuse(QStringLiteral("cannot start: the socket path %1 is too long.").arg(shownPath));
        Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) {
            const int error = errno;
            return refuse(QStringLiteral("cannot make a socket: %1").arg(errorText(error)));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerWaitMs);
        const int error = connectBefore(fd.get(), address, deadline);
        if (error == 0) {
            if (askRunningToShow(fd.get(), deadline))
                return false;
            return refuse(QStringLiteral("the copy already running (or another program listening at %1) did not "
                                         "answer within %2 s")
                              .arg(shownPath)
                              .arg(answerWaitMs / 1000.0)
                          + notStarting);
        }
        if (error == ECONNREFUSED) {
            // Nobody listens: the socket of a copy that ended without
            // removing it. Removed only if it is still that very socket.
            struct stat again {};
            if (::lstat(path.constData(), &again) == 0 && again.st_dev == status.st_dev
                && again.st_ino == status.st_ino)
                ::unlink(path.constData());
            continue;
        }
        // Gone since the look: look again.
        if (error == ENOENT)
            continue;
        if (error == EAGAIN)
            return refuse(QStringLiteral("a copy is running at %1 but was too busy to take a connection for %2 s")
                              .arg(shownPath)
                              .arg(answerWaitMs / 1000.0)
                          + notStarting);
        return refuse(QStringLiteral("cannot reach the copy at %1: %2").arg(shownPath, errorText(error)) + notStarting);
    }
    return refuse(QStringLiteral("cannot start: %1 keeps changing").arg(shownPath) + notStarting);
}

SingleInstance::Listening SingleInstance::listen(const QByteArray& path)
{
    auto failed = [&](const QString& why) {
        std::fprintf(stderr, "parlaro: later launches cannot reach this one: %s: %s\n", path.constData(),
                     qPrintable(why));
        return Listening::failed;
    };
    // The socket is made in a private folder, with only this user's access,
    // and then linked in: unlike a rename, a link never replaces whatever
    // appeared at the path meanwhile.
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray folder = path.left(slash) + "/.parlaro-socket-XXXXXX";
    if (!::mkdtemp(folder.data()))
        return failed(errorText(errno));
    const QByteArray made = folder + "/s";
    auto cleanUp = [&] {
        ::unlink(made.constData());
        ::rmdir(folder.constData());
    };
    sockaddr_un address{};
    if (!fillAddress(address, made) || !fillAddress(address, path)) {
        cleanUp();
        return failed(QStringLiteral("the path is too long"));
    }
    fillAddress(address, made);
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::chmod(made.constData(), 0600) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) {
        const int error = errno;
        cleanUp();
        return failed(errorText(error));
    }
    const int linked = ::link(made.constData(), path.constData()) == 0 ? 0 : errno;
    cleanUp();
    if (linked == EEXIST)
        return Listening::taken;
    if (linked != 0)
        return failed(errorText(linked));

    struct stat status {};
    ::lstat(path.constData(), &status);
    path_ = path;
    device_ = status.st_dev;
    inode_ = status.st_ino;
    // Taken by hand rather than through QLocalServer, which stops
    // listening for good at the first connection it cannot take.
    listening_ = fd.release();
    notifier_ = new QSocketNotifier(listening_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { accept(); });
    return Listening::yes;
}

bool SingleInstance::askRunningToShow(int fd, std::chrono::steady_clock::time_point deadline)
{
    QByteArray request = showRequest;
    const QByteArray token = activationToken.toUtf8();
    if (isTokenText(token))
        request += ' ' + token;
    request += '\n';
    qsizetype sent = 0;
    while (sent < request.size()) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t wrote =
            ::send(fd, request.constData() + sent, static_cast<std::size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (wrote > 0)
            sent += wrote;
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < longestRequest) {
        if (!waitFor(fd, POLLIN, deadline))
            return false;
        char buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0)
            return false;
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (got > 0)
            answer.append(buffer, got);
    }
    return answer == shownAnswer;
}

void SingleInstance::accept()
{
    // The rest wait in the queue for the next turn: connections pouring in
    // must not hold the window while each is taken.
    for (int taken = 0; taken < mostConnections;) {
        const int fd = ::accept4(listening_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            ++taken;
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors, most likely: the connection waits in the
        // queue while the notifier rests, so that it does not spin.
        setListening(notifier_, false);
        QTimer::singleShot(acceptRetryMs, notifier_, [notifier = notifier_] { setListening(notifier, true); });
        return;
    }
}

void SingleInstance::makeRoom(pid_t peer)
{
    while (connections_.size() >= mostConnections) {
        std::map<pid_t, int> held{{peer, 1}};
        for (const Connection& connection : connections_)
            ++held[connection.peer];
        int most = 0;
        for (const auto& [process, count] : held)
            most = std::max(most, count);
        // Of the processes that hold the most, the one with the oldest
        // connection gives it up.
        const auto oldest = std::find_if(connections_.begin(), connections_.end(),
                                         [&](const Connection& connection) { return held[connection.peer] == most; });
        QLocalSocket* const closed = oldest == connections_.end() ? connections_.front().socket : oldest->socket;
        connections_.removeIf([closed](const Connection& connection) { return connection.socket == closed; });
        closed->abort();
    }
}

void SingleInstance::serve(int fd)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    const pid_t peer =
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 ? credentials.pid : pid_t{0};
    makeRoom(peer);
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
        ::close(fd);
        delete socket;
        return;
    }
    connections_.push_back({socket, peer});
    connect(socket, &QObject::destroyed, this, [this, socket] {
        connections_.removeIf([socket](const Connection& connection) { return connection.socket == socket; });
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serveLines(socket); });
    // The socket's own timer, which goes with it: a single-shot timer of
    // the loop's own would stay registered until it fires, and a flood of
    // connections would pile thousands up for each turn to go through.
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, &QLocalSocket::abort);
    idle->start(idleCloseMs);
    // The request may have arrived with the connection.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
}

void SingleInstance::serveLines(QLocalSocket* socket)
{
    // A launch asks once; a connection that pours out requests must not
    // hold the window (and the call's captions) while each is answered.
    for (int served = 0; served < linesPerTurn && socket->canReadLine(); ++served)
        handleLine(socket, socket->readLine());
    if (socket->bytesAvailable() > longestRequest) {
        socket->abort();
        return;
    }
    if (socket->canReadLine())
        QTimer::singleShot(0, socket, [this, socket] { serveLines(socket); });
}

void SingleInstance::handleLine(QLocalSocket* socket, const QByteArray& line)
{
    if (!line.endsWith('\n') || !onShowRequest)
        return;
    const QByteArray request = line.chopped(1);
    const QByteArray prefix = QByteArray(showRequest) + ' ';
    if (request != showRequest) {
        if (!request.startsWith(prefix) || !isTokenText(request.mid(prefix.size())))
            return;
        qputenv("XDG_ACTIVATION_TOKEN", request.mid(prefix.size()));
    }
    onShowRequest();
    socket->write(shownAnswer);
    socket->flush();
}

}  // namespace parlaro::app
