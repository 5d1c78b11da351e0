#include "settings/PortalFileChooser.h"

#include "speech/Localization.h"
#include "ui/Text.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>
#include <QWidget>

namespace parlaro::settings {

namespace {

constexpr const char* requestInterface = "org.freedesktop.portal.Request";

// One file filter as the portal carries it: a label and its glob patterns
// (kind 0 is a glob, kind 1 a media type).
struct PortalFilter {
    QString label;
    QList<QPair<uint, QString>> patterns;
};

}  // namespace

}  // namespace parlaro::settings

Q_DECLARE_METATYPE(parlaro::settings::PortalFilter)
Q_DECLARE_METATYPE(QList<parlaro::settings::PortalFilter>)

namespace parlaro::settings {

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalFilter& filter)
{
    argument.beginStructure();
    argument << filter.label;
    argument.beginArray(qMetaTypeId<QPair<uint, QString>>());
    for (const auto& [kind, pattern] : filter.patterns) {
        argument.beginStructure();
        argument << kind << pattern;
        argument.endStructure();
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalFilter& filter)
{
    filter = {};
    argument.beginStructure();
    argument >> filter.label;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint kind = 0;
        QString pattern;
        argument.beginStructure();
        argument >> kind >> pattern;
        argument.endStructure();
        filter.patterns.append({kind, pattern});
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<QPair<uint, QString>>();
        qDBusRegisterMetaType<QList<QPair<uint, QString>>>();
        qDBusRegisterMetaType<PortalFilter>();
        qDBusRegisterMetaType<QList<PortalFilter>>();
        return true;
    }();
    (void)registered;
}

// "文本（.txt） (*.txt)" → the label and the pattern in its last parentheses.
PortalFilter portalFilter(const QString& filter)
{
    static const QRegularExpression shape(QStringLiteral("^(.*)\\s+\\(([^()]*)\\)$"));
    const auto match = shape.match(filter);
    if (!match.hasMatch())
        return {filter, {}};
    PortalFilter result{match.captured(1).trimmed(), {}};
    for (const QString& pattern : match.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result.patterns.append({0u, pattern});
    return result;
}

// Where the portal should put its dialog: the parent's X window; Wayland
// would need an exported handle, and no parent is the portal's default.
QString parentWindow(QWidget* parent)
{
    if (!parent || QGuiApplication::platformName() != QStringLiteral("xcb"))
        return {};
    return QStringLiteral("x11:") + QString::number(parent->window()->winId(), 16);
}

// The object path the portal answers on, from our unique bus name and the
// token we chose.
QString expectedHandle(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService();
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
}

}  // namespace

PortalFileChooser::PortalFileChooser(QDBusConnection bus, Fallback fallback)
    : bus_(std::move(bus)), fallback_(std::move(fallback))
{
    registerTypes();
}

PortalFileChooser::~PortalFileChooser()
{
    if (!handle_.isEmpty() && !answered_) {
        // Withdraw a dialog that is still open: its answer would go nowhere.
        bus_.send(QDBusMessage::createMethodCall(QString::fromLatin1(service), handle_,
                                                 QString::fromLatin1(requestInterface), QStringLiteral("Close")));
    }
    stopListening();
}

bool PortalFileChooser::available(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString name = QString::fromLatin1(service);
    if (bus.interface()->isServiceRegistered(name).value())
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(name);
}

void PortalFileChooser::open(QWidget* parent, const QString& fileName, const QStringList& filters,
                             const QString& filterLabel)
{
    parent_ = parent;
    fileName_ = fileName;
    filters_ = filters;
    filterLabel_ = filterLabel;

    static int requests = 0;
    const QString token = QStringLiteral("parlaro%1").arg(++requests);
    // Listen before asking, so an answer that comes at once is not missed.
    listen(expectedHandle(bus_, token));

    QList<PortalFilter> portalFilters;
    for (const QString& filter : filters)
        portalFilters.append(portalFilter(filter));
    QByteArray folder = QFile::encodeName(ExportPanel::startFolder());
    folder.append('\0');
    QVariantMap options{
        {QStringLiteral("handle_token"), token},
        {QStringLiteral("modal"), true},
        {QStringLiteral("current_name"), fileName},
        {QStringLiteral("current_folder"), folder},
        {QStringLiteral("filters"), QVariant::fromValue(portalFilters)},
    };
    if (!portalFilters.isEmpty())
        options.insert(QStringLiteral("current_filter"), QVariant::fromValue(portalFilters.front()));

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                                       QString::fromLatin1(interface), QStringLiteral("SaveFile"));
    call << parentWindow(parent) << ui::q(localized("导出")) << options;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QDBusObjectPath> reply = *finished;
        if (reply.isError()) {
            stopListening();
            openFallback();
            return;
        }
        // Older portals answer on a path of their own choosing.
        const QString handle = reply.value().path();
        if (handle != handle_ && !answered_)
            listen(handle);
    });
}

QString PortalFileChooser::fileName() const
{
    if (fallbackDialog_)
        return fallbackDialog_->fileName();
    return {};  // the portal's name field cannot be read while it is open
}

void PortalFileChooser::setFileName(const QString& name)
{
    if (fallbackDialog_)
        fallbackDialog_->setFileName(name);
}

void PortalFileChooser::listen(const QString& handle)
{
    stopListening();
    handle_ = handle;
    bus_.connect(QString(), handle_, QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                 SLOT(response(uint, QVariantMap)));
}

void PortalFileChooser::stopListening()
{
    if (handle_.isEmpty())
        return;
    bus_.disconnect(QString(), handle_, QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                    SLOT(response(uint, QVariantMap)));
}

void PortalFileChooser::response(uint code, const QVariantMap& results)
{
    if (answered_)
        return;
    answered_ = true;
    stopListening();
    std::optional<QString> chosen;
    const QStringList uris = results.value(QStringLiteral("uris")).toStringList();
    if (code == 0 && !uris.isEmpty()) {
        const QUrl url(uris.front());
        if (url.isLocalFile())
            chosen = url.toLocalFile();
    }
    if (chosen && onFilterChanged) {
        const QVariant filter = results.value(QStringLiteral("current_filter"));
        if (filter.canConvert<QDBusArgument>()) {
            PortalFilter picked;
            filter.value<QDBusArgument>() >> picked;
            for (int i = 0; i < filters_.size(); ++i)
                if (portalFilter(filters_[i]).label == picked.label)
                    onFilterChanged(i);
        }
    }
    if (auto finished = onFinished)
        finished(chosen);
}

void PortalFileChooser::openFallback()
{
    if (!fallback_) {
        if (auto finished = onFinished)
            finished(std::nullopt);
        return;
    }
    fallbackDialog_ = fallback_();
    fallbackDialog_->onFilterChanged = [this](int index) {
        if (onFilterChanged)
            onFilterChanged(index);
    };
    fallbackDialog_->onFinished = [this](std::optional<QString> chosen) {
        if (auto finished = onFinished)
            finished(chosen);
    };
    fallbackDialog_->open(parent_, fileName_, filters_, filterLabel_);
}

}  // namespace parlaro::settings
