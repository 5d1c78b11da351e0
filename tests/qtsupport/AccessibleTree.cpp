#include "AccessibleTree.h"

#include <QAccessible>
#include <QMetaEnum>
#include <QSet>
#include <QWidget>

namespace parlaro::test {

namespace {

QString roleName(QAccessible::Role role)
{
    const char* key = QMetaEnum::fromType<QAccessible::Role>().valueToKey(role);
    return key ? QString::fromLatin1(key) : QString::number(static_cast<int>(role), 16);
}

QString describe(QAccessibleInterface* element)
{
    QString line = roleName(element->role());
    if (QObject* object = element->object()) {
        line += QLatin1Char(' ') + object->objectName();
        line += QLatin1Char(' ') + QString::fromLatin1(object->metaObject()->className());
    }
    return line;
}

void walk(QAccessibleInterface* element, QSet<QAccessibleInterface*>& seen, QStringList& unnamed)
{
    if (!element || !element->isValid() || seen.contains(element))
        return;
    seen.insert(element);
    const QAccessible::State state = element->state();
    if (state.invisible)
        return;
    const QString name = element->text(QAccessible::Name);
    if (state.focusable && name.trimmed().isEmpty())
        unnamed << describe(element);
    // Named by its value (a combo box's current item) rather than by what
    // it is, or not by the name it was given.
    else if (auto* widget = qobject_cast<QWidget*>(element->object()); state.focusable && widget
             && ((!widget->accessibleName().isEmpty() && name != widget->accessibleName())
                 || (element->role() == QAccessible::ComboBox && name == element->text(QAccessible::Value))))
        unnamed << describe(element) + QStringLiteral(" reads \"") + name + QLatin1Char('"');
    for (int i = 0; i < element->childCount(); ++i)
        walk(element->child(i), seen, unnamed);
}

}  // namespace

std::string unnamedFocusables(QWidget& root)
{
    QSet<QAccessibleInterface*> seen;
    QStringList unnamed;
    // Through the widget tree as well: a child a parent's interface does
    // not list (a window of its own, a popup) is still reachable.
    walk(QAccessible::queryAccessibleInterface(&root), seen, unnamed);
    for (QWidget* widget : root.findChildren<QWidget*>())
        if (widget->isVisible())
            walk(QAccessible::queryAccessibleInterface(widget), seen, unnamed);
    return unnamed.join(QLatin1Char('\n')).toStdString();
}

QString accessibleSummary(QWidget* widget)
{
    QAccessibleInterface* element = QAccessible::queryAccessibleInterface(widget);
    if (!element)
        return {};
    QString line = roleName(element->role()) + QStringLiteral(": ") + element->text(QAccessible::Name);
    const QString value = element->text(QAccessible::Value);
    if (!value.isEmpty())
        line += QStringLiteral(" [") + value + QLatin1Char(']');
    return line;
}

QString pickerReading(QWidget* picker)
{
    QAccessibleInterface* element = QAccessible::queryAccessibleInterface(picker);
    QAccessibleTextInterface* text = element ? element->textInterface() : nullptr;
    const QString shown = text ? text->text(0, text->characterCount()) : QStringLiteral("(no text)");
    QAccessibleInterface* list = element && element->childCount() == 1 ? element->child(0) : nullptr;
    if (!list || list->role() != QAccessible::List || element->indexOfChild(list) != 0)
        return shown + QStringLiteral(" | (no list)");
    QStringList items;
    for (int i = 0; i < list->childCount(); ++i)
        items << list->child(i)->text(QAccessible::Name);
    return shown + QStringLiteral(" | ") + items.join(QStringLiteral("; "));
}

}  // namespace parlaro::test
