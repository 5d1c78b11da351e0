#pragma once

#include "platform/linux/portal/PortalShortcut.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantMap>

#include <mutex>
#include <vector>

namespace parlaro::test {

// What the fake saw, for the tests to check.
struct PortalRecord {
    int sessionsCreated = 0;
    std::vector<QString> triggers;
    std::vector<QString> descriptions;
    std::vector<QString> closed;
    QString lastSession;
};

class FakePortalService;

// The desktop's shortcut portal as the tests drive it: it claims the
// portal's name on the private bus from a thread and connection of its own,
// so the client's one blocking question is answered while the test waits.
class FakePortal {
public:
    explicit FakePortal(const QString& address);
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    // Claims or gives up the portal's name, as a portal starting or ending.
    bool appear();
    void disappear();
    // How the user answers the binding dialog: 0 allows, 1 cancels, 2 ends
    // it otherwise. With `dropOurs` an allowed binding lists no shortcut.
    void answerBinding(uint response, bool dropOurs = false);
    // Makes BindShortcuts fail with a D-Bus error instead of answering.
    void failBinding(bool fail);
    // Presses or releases `id` in the last session made, or in `session`.
    void press(bool down, const QString& id = QStringLiteral("hold-to-talk"), const QString& session = {});
    PortalRecord record() const;

private:
    QThread thread_;
    FakePortalService* service_ = nullptr;
};

// Runs on the fake's thread.
class FakePortalService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit FakePortalService(const QString& address);
    ~FakePortalService() override;

    uint version() const { return 1; }

    QDBusConnection connection;
    mutable std::mutex lock;
    PortalRecord record;
    uint bindResponse = 0;
    bool dropOurs = false;
    bool failBinding = false;

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap& options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<parlaro::sys::PortalShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options);

private:
    QString requestPath(const QString& token) const;
    void respondLater(const QString& path, uint response, const QVariantMap& results);
};

// One session's Close, recorded.
class FakePortalSession : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    explicit FakePortalSession(FakePortalService& service) : QObject(&service), service_(service) {}

public Q_SLOTS:
    void Close();

private:
    FakePortalService& service_;
};

}  // namespace parlaro::test
