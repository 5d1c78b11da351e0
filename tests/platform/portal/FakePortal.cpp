#include "FakePortal.h"

#include <QDBusMessage>
#include <QMetaObject>

namespace parlaro::test {
namespace {

const QString portalName = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

template <typename F>
void onThread(QObject* object, F job)
{
    QMetaObject::invokeMethod(object, job, Qt::BlockingQueuedConnection);
}

}  // namespace

FakePortalService::FakePortalService(const QString& address)
    : connection(QDBusConnection::connectToBus(address, QStringLiteral("fake-portal")))
{
    sys::registerPortalShortcutTypes();
    connection.registerObject(portalPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

FakePortalService::~FakePortalService()
{
    connection.unregisterObject(portalPath);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
}

QString FakePortalService::requestPath(const QString& token) const
{
    QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return portalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void FakePortalService::respondLater(const QString& path, uint response, const QVariantMap& results)
{
    // After the call's own reply, as a portal answers once the dialog closes.
    QMetaObject::invokeMethod(
        this,
        [this, path, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                                             QStringLiteral("Response"));
            signal << response << results;
            connection.send(signal);
        },
        Qt::QueuedConnection);
}

QDBusObjectPath FakePortalService::CreateSession(const QVariantMap& options)
{
    const QString request = requestPath(options.value(QStringLiteral("handle_token")).toString());
    QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString session = portalPath + QStringLiteral("/session/") + sender + QLatin1Char('/')
        + options.value(QStringLiteral("session_handle_token")).toString();
    connection.registerObject(session, new FakePortalSession(*this), QDBusConnection::ExportAllSlots);
    {
        std::lock_guard guard(lock);
        ++record.sessionsCreated;
        record.lastSession = session;
    }
    respondLater(request, 0, {{QStringLiteral("session_handle"), session}});
    return QDBusObjectPath(request);
}

QDBusObjectPath FakePortalService::BindShortcuts(const QDBusObjectPath&, const QList<sys::PortalShortcut>& shortcuts,
                                                 const QString&, const QVariantMap& options)
{
    const QString request = requestPath(options.value(QStringLiteral("handle_token")).toString());
    {
        std::lock_guard guard(lock);
        if (failBinding) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not for this application"));
            return {};
        }
    }
    sys::PortalShortcuts bound;
    uint response = 0;
    {
        std::lock_guard guard(lock);
        for (const auto& shortcut : shortcuts) {
            record.triggers.push_back(shortcut.options.value(QStringLiteral("preferred_trigger")).toString());
            record.descriptions.push_back(shortcut.options.value(QStringLiteral("description")).toString());
            if (!dropOurs)
                bound.push_back({shortcut.id,
                                 {{QStringLiteral("trigger_description"),
                                   shortcut.options.value(QStringLiteral("preferred_trigger"))}}});
        }
        response = bindResponse;
    }
    QVariantMap results;
    if (response == 0)
        results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
    respondLater(request, response, results);
    return QDBusObjectPath(request);
}

void FakePortalSession::Close()
{
    std::lock_guard guard(service_.lock);
    service_.record.closed.push_back(message().path());
}

FakePortal::FakePortal(const QString& address)
{
    // Calls to a registered object are delivered on the object's thread.
    service_ = new FakePortalService(address);
    service_->moveToThread(&thread_);
    thread_.start();
}

FakePortal::~FakePortal()
{
    QThread* here = QThread::currentThread();
    onThread(service_, [this, here] { service_->moveToThread(here); });
    thread_.quit();
    thread_.wait();
    delete service_;
}

bool FakePortal::appear()
{
    bool claimed = false;
    onThread(service_, [this, &claimed] { claimed = service_->connection.registerService(portalName); });
    return claimed;
}

void FakePortal::disappear()
{
    onThread(service_, [this] { service_->connection.unregisterService(portalName); });
}

void FakePortal::answerBinding(uint response, bool dropOurs)
{
    std::lock_guard guard(service_->lock);
    service_->bindResponse = response;
    service_->dropOurs = dropOurs;
}

void FakePortal::failBinding(bool fail)
{
    std::lock_guard guard(service_->lock);
    service_->failBinding = fail;
}

void FakePortal::press(bool down, const QString& id, const QString& session)
{
    const QString target = session.isEmpty() ? record().lastSession : session;
    onThread(service_, [this, down, id, target] {
        QDBusMessage signal =
            QDBusMessage::createSignal(portalPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                                       down ? QStringLiteral("Activated") : QStringLiteral("Deactivated"));
        signal << QVariant::fromValue(QDBusObjectPath(target)) << id << qulonglong(0) << QVariantMap();
        service_->connection.send(signal);
    });
}

PortalRecord FakePortal::record() const
{
    std::lock_guard guard(service_->lock);
    return service_->record;
}

}  // namespace parlaro::test
