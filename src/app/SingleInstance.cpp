#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace parlaro::app {

namespace {

constexpr int connectTimeoutMs = 1000;

// A folder in the shared temporary folder that only this user can write:
// made with mode 0700, or found as a real folder of this user's with no
// access for anyone else. A name another user took first is no such folder.
bool isPrivateFolder(const QByteArray& path)
{
    ::mkdir(path.constData(), 0700);
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid()
        && (status.st_mode & 077) == 0;
}

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    const QString file = QStringLiteral("parlaro-%1").arg(::getuid());
    // The socket must sit where no other user can put one first: such a
    // socket would answer a launch and leave the user with no Parlaro.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(file);
    const QString shared = QDir(QDir::tempPath()).filePath(file);
    if (isPrivateFolder(QFile::encodeName(shared)))
        return QDir(shared).filePath(file);
    return QDir::home().filePath(QStringLiteral(".") + file);
}

bool SingleInstance::claim()
{
    if (server_)
        return true;
    if (askRunningToShow())
        return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Another copy may have started listening since we asked.
        if (askRunningToShow()) {
            delete server_;
            server_ = nullptr;
            return false;
        }
        // Nobody answers, so what is left is the socket of a copy that
        // ended without removing it.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) {
            std::fprintf(stderr, "Parlaro: later launches cannot reach this one: %s\n",
                         qPrintable(server_->errorString()));
            return true;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] { accept(); });
    return true;
}

bool SingleInstance::askRunningToShow()
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    socket.write(showRequest);
    socket.flush();
    socket.waitForBytesWritten(connectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == showRequest && onShowRequest)
                    onShowRequest();
            }
        });
        // The request may have arrived with the connection.
        if (socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
    }
}

}  // namespace parlaro::app
