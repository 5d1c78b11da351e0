#include "app/AppIcon.h"

// Outside any namespace, as the resource's initialiser requires.
static void initDesktopResources()
{
    Q_INIT_RESOURCE(desktop);
}

namespace parlaro::app {

QIcon applicationIcon()
{
    // The resource lives in a static library; nothing else pulls it in.
    initDesktopResources();
    const QString name = QString::fromLatin1(desktopId);
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/desktop/") + name + QStringLiteral(".svg")));
}

QIcon trayIcon(const QIcon& drawn)
{
    return QIcon::fromTheme(QString::fromLatin1(desktopId) + QStringLiteral("-symbolic"), drawn);
}

}  // namespace parlaro::app
