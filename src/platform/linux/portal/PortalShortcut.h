#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace parlaro::sys {

// One entry of the shortcut portal's shortcut lists, a(sa{sv}): an id and
// its options ("description" and "preferred_trigger" going out,
// "trigger_description" coming back).
struct PortalShortcut {
    QString id;
    QVariantMap options;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// Makes the list type known to D-Bus marshalling; safe to call again.
void registerPortalShortcutTypes();

}  // namespace parlaro::sys

Q_DECLARE_METATYPE(parlaro::sys::PortalShortcut)
