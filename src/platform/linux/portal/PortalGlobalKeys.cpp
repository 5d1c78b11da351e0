#include "platform/linux/portal/PortalGlobalKeys.h"

#include "platform/linux/portal/PortalShortcut.h"
#include "platform/linux/portal/PortalTrigger.h"
#include "platform/linux/xkb/XkbKeymap.h"
#include "runtime/Runtime.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <algorithm>

namespace parlaro::sys {
namespace {

constexpr const char* requestInterface = "org.freedesktop.portal.Request";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";

QString sessionHandle(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

}  // namespace

std::unique_ptr<PortalGlobalKeys> PortalGlobalKeys::connect(const QDBusConnection& bus, int timeoutMs)
{
    if (!bus.isConnected())
        return nullptr;
    // The portal exports the interface only when one of the desktop's
    // backends implements it, so its version answers both questions.
    QDBusMessage get =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(objectPath),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(interface) << QStringLiteral("version");
    QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return nullptr;
    return std::make_unique<PortalGlobalKeys>(bus, XkbKeymap::fromDefaults());
}

PortalGlobalKeys::PortalGlobalKeys(const QDBusConnection& bus, std::unique_ptr<XkbKeymap> keymap)
    : bus_(bus), keymap_(std::move(keymap)), self_(std::make_shared<PortalGlobalKeys*>(this))
{
    registerPortalShortcutTypes();
    const QString portal = QString::fromLatin1(service);
    // Responses arrive on a path per request; one match takes them all and
    // onResponse keeps the awaited one.
    bus_.connect(portal, QString(), QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    bus_.connect(portal, QString::fromLatin1(objectPath), QString::fromLatin1(interface), QStringLiteral("Activated"),
                 this, SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus_.connect(portal, QString::fromLatin1(objectPath), QString::fromLatin1(interface), QStringLiteral("Deactivated"),
                 this, SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    watcher_ = new QDBusServiceWatcher(
        portal, bus_, QDBusServiceWatcher::WatchForUnregistration | QDBusServiceWatcher::WatchForRegistration, this);
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &PortalGlobalKeys::onServiceGone);
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, &PortalGlobalKeys::onServiceBack);
}

PortalGlobalKeys::~PortalGlobalKeys()
{
    *self_ = nullptr;
    closeSession();
}

void PortalGlobalKeys::setHandlers(Handlers handlers)
{
    handlers_ = std::move(handlers);
}

bool PortalGlobalKeys::registerCombination(std::uint32_t keyCode, std::uint32_t modifiers)
{
    closeSession();
    wanted_.reset();
    if (!available_) {
        obstacle_ = Obstacle::serviceGone;
        return false;
    }
    obstacle_ = Obstacle::none;
    auto trigger = portalTrigger(keyCode, modifiers, *keymap_);
    if (!trigger)
        return false;
    if (refused_ == trigger) {
        obstacle_ = Obstacle::bindingRefused;
        return false;
    }
    wanted_ = trigger;
    createSession();
    return true;
}

void PortalGlobalKeys::unregisterCombination()
{
    closeSession();
    wanted_.reset();
}

bool PortalGlobalKeys::listenAccess() const
{
    return available_;
}

bool PortalGlobalKeys::startModifierWatch()
{
    obstacle_ = available_ ? Obstacle::loneModifierUnsupported : Obstacle::serviceGone;
    return false;
}

std::optional<std::string> PortalGlobalKeys::keyCharacter(std::uint32_t keyCode) const
{
    return keymap_->character(keyCode);
}

QString PortalGlobalKeys::requestPath(const QString& token) const
{
    QString sender = bus_.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
}

QString PortalGlobalKeys::nextToken()
{
    return QStringLiteral("parlaro") + QString::number(++tokens_);
}

void PortalGlobalKeys::createSession()
{
    const QString token = nextToken();
    const QString sessionToken = nextToken();
    // Awaited before the call goes out: the Response may come before the
    // call's own reply.
    pending_ = requestPath(token);
    step_ = Step::creating;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(interface), QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), sessionToken}};
    sendRequest(call);
}

void PortalGlobalKeys::bind()
{
    const QString token = nextToken();
    pending_ = requestPath(token);
    step_ = Step::binding;
    const PortalShortcuts shortcuts{{QString::fromLatin1(shortcutId),
                                     {{QStringLiteral("description"), QStringLiteral("Parlaro: hold to talk")},
                                      {QStringLiteral("preferred_trigger"), QString::fromStdString(*wanted_)}}}};
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(interface), QStringLiteral("BindShortcuts"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString(),
                       QVariantMap{{QStringLiteral("handle_token"), token}}});
    sendRequest(call);
}

void PortalGlobalKeys::sendRequest(const QDBusMessage& call)
{
    const QString expected = pending_;
    auto* watch = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watch, &QDBusPendingCallWatcher::finished, this, [this, expected](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (pending_ != expected)
            return;
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            // The portal would not even take the request: for the user that
            // is a refusal too, and asking again at once would only fail
            // again. Leaving the bus is told apart by the watcher.
            giveUp(Obstacle::bindingRefused);
            return;
        }
        // Portals before the handle_token convention answer on a path of
        // their own choosing.
        pending_ = reply.value().path();
    });
}

void PortalGlobalKeys::closeSession()
{
    pending_.clear();
    if (!session_.isEmpty() && available_) {
        bus_.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(service), session_,
                                                      QString::fromLatin1(sessionInterface), QStringLiteral("Close")));
    }
    session_.clear();
    step_ = Step::idle;
    pressed_ = false;
}

void PortalGlobalKeys::giveUp(Obstacle why)
{
    closeSession();
    if (why == Obstacle::bindingRefused)
        refused_ = wanted_;
    wanted_.reset();
    obstacle_ = why;
    post([](const Handlers& handlers) {
        if (handlers.accessChanged)
            handlers.accessChanged();
    });
}

void PortalGlobalKeys::post(std::function<void(const Handlers&)> job)
{
    std::weak_ptr<PortalGlobalKeys*> weak = self_;
    rt::mainExecutor().post([weak, job = std::move(job)] {
        if (auto self = weak.lock(); self && *self)
            job((*self)->handlers_);
    });
}

void PortalGlobalKeys::onResponse(uint response, const QVariantMap& results, const QDBusMessage& message)
{
    if (pending_.isEmpty() || message.path() != pending_) {
        // A session made for a registration given up meanwhile is closed,
        // so the desktop does not keep it.
        const QString stray = sessionHandle(results.value(QStringLiteral("session_handle")));
        if (response == 0 && !stray.isEmpty() && stray != session_ && available_)
            bus_.asyncCall(QDBusMessage::createMethodCall(
                QString::fromLatin1(service), stray, QString::fromLatin1(sessionInterface), QStringLiteral("Close")));
        return;
    }
    pending_.clear();
    // 1: the user cancelled; 2: the interaction ended some other way. Both
    // leave the shortcut unbound, and asking again would bring the same
    // dialog back at every activation.
    if (response != 0) {
        giveUp(Obstacle::bindingRefused);
        return;
    }
    if (step_ == Step::creating) {
        session_ = sessionHandle(results.value(QStringLiteral("session_handle")));
        if (session_.isEmpty()) {
            giveUp(Obstacle::bindingRefused);
            return;
        }
        bind();
    } else if (step_ == Step::binding) {
        // The user may bind some of the shortcuts asked for; ours must be
        // among them when the portal lists what it bound.
        if (results.contains(QStringLiteral("shortcuts"))) {
            const auto bound = qdbus_cast<PortalShortcuts>(results.value(QStringLiteral("shortcuts")));
            if (std::none_of(bound.begin(), bound.end(),
                             [](const PortalShortcut& s) { return s.id == QLatin1String(shortcutId); })) {
                giveUp(Obstacle::bindingRefused);
                return;
            }
        }
        step_ = Step::bound;
    }
}

void PortalGlobalKeys::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
{
    if (step_ != Step::bound || session.path() != session_ || id != QLatin1String(shortcutId) || pressed_)
        return;
    pressed_ = true;
    post([](const Handlers& handlers) {
        if (handlers.hotKey)
            handlers.hotKey(true);
    });
}

void PortalGlobalKeys::onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
{
    if (session.path() != session_ || id != QLatin1String(shortcutId) || !pressed_)
        return;
    pressed_ = false;
    post([](const Handlers& handlers) {
        if (handlers.hotKey)
            handlers.hotKey(false);
    });
}

void PortalGlobalKeys::onServiceGone()
{
    if (!available_)
        return;
    available_ = false;
    // Its sessions went with it; a press it began will never be released.
    pending_.clear();
    session_.clear();
    step_ = Step::idle;
    pressed_ = false;
    wanted_.reset();
    obstacle_ = Obstacle::serviceGone;
    post([](const Handlers& handlers) {
        if (handlers.accessChanged)
            handlers.accessChanged();
    });
}

void PortalGlobalKeys::onServiceBack()
{
    if (available_)
        return;
    available_ = true;
    obstacle_ = Obstacle::none;
    post([](const Handlers& handlers) {
        if (handlers.accessChanged)
            handlers.accessChanged();
    });
}

}  // namespace parlaro::sys
