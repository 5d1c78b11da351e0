#pragma once

#include "platform/GlobalKeys.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace parlaro::sys {

class XkbKeymap;

// The hold shortcut through the desktop's shortcut portal
// (org.freedesktop.portal.GlobalShortcuts): the combination is offered as
// the preferred trigger of one shortcut, the user confirms or changes it in
// the desktop's own dialog, and its presses and releases come back as
// signals. Nothing reads the keyboards, and no key is kept from the focused
// window's view beyond what the desktop does. The portal knows key
// combinations only, so a lone modifier cannot be watched here.
//
// Every bus call is asynchronous except the one question `connect` asks.
// When the portal leaves the bus, or the user declines, the handlers'
// accessChanged tells the shortcut to register anew; when the portal comes
// back, it does so again and a new session is made. Main thread only.
class PortalGlobalKeys : public QObject, public GlobalKeys {
    Q_OBJECT
public:
    static constexpr const char* service = "org.freedesktop.portal.Desktop";
    static constexpr const char* objectPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* interface = "org.freedesktop.portal.GlobalShortcuts";
    // The one shortcut's id in the session.
    static constexpr const char* shortcutId = "hold-to-talk";

    // The portal on `bus` when it offers global shortcuts, else none. Asks
    // the bus once and waits at most `timeoutMs` for the answer.
    static std::unique_ptr<PortalGlobalKeys> connect(const QDBusConnection& bus, int timeoutMs = 2000);

    PortalGlobalKeys(const QDBusConnection& bus, std::unique_ptr<XkbKeymap> keymap);
    ~PortalGlobalKeys() override;

    void setHandlers(Handlers handlers) override;
    // Starts a session and asks the portal to bind; true while that may
    // still succeed. A trigger the user declined in this run is not asked
    // for again, so reactivations do not bring the dialog back.
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override;
    // Closes the session, so the desktop lets go of the shortcut.
    void unregisterCombination() override;
    // True while the portal is on the bus.
    bool listenAccess() const override;
    void requestListenAccess() override {}
    bool startModifierWatch() override;
    void stopModifierWatch() override {}
    void reenableModifierWatch() override {}
    bool startKeyWatch() override { return false; }
    void stopKeyWatch() override {}
    std::optional<std::string> keyCharacter(std::uint32_t keyCode) const override;
    Method method() const override { return Method::shortcutPortal; }
    Obstacle obstacle() const override { return obstacle_; }

    // True once the portal confirmed the binding of the current session.
    bool bound() const { return step_ == Step::bound; }

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                       const QVariantMap& options);
    void onServiceGone();
    void onServiceBack();

private:
    enum class Step { idle, creating, binding, bound };

    QString requestPath(const QString& token) const;
    QString nextToken();
    void createSession();
    void bind();
    void sendRequest(const QDBusMessage& call);
    void closeSession();
    // Ends the registration for `why` and tells the handlers.
    void giveUp(Obstacle why);
    void post(std::function<void(const Handlers&)> job);

    QDBusConnection bus_;
    std::unique_ptr<XkbKeymap> keymap_;
    QDBusServiceWatcher* watcher_ = nullptr;
    Handlers handlers_;
    std::shared_ptr<PortalGlobalKeys*> self_;

    bool available_ = true;
    Step step_ = Step::idle;
    std::optional<std::string> wanted_;
    std::optional<std::string> refused_;
    Obstacle obstacle_ = Obstacle::none;
    QString session_;
    // The request whose Response is awaited; responses on any other path,
    // as from a session given up meanwhile, are dropped.
    QString pending_;
    int tokens_ = 0;
    bool pressed_ = false;
};

}  // namespace parlaro::sys
