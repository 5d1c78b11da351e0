#include "ui/Accessibility.h"

#include "ui/HoldButton.h"
#include "ui/LanguagePicker.h"
#include "ui/LevelMeterBar.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>

#include <cmath>

namespace parlaro::ui::Accessibility {

namespace {

constexpr const char* roleProperty = "parlaro.accessibleRole";

class HoldButtonElement : public QAccessibleWidget {
public:
    explicit HoldButtonElement(HoldButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (!static_cast<HoldButton*>(widget())->isHoldEnabled())
            state.disabled = true;
        state.pressed = static_cast<HoldButton*>(widget())->isHolding();
        return state;
    }
};

// What a closed combo box shows: its chosen item (a language's name alone),
// or the words it shows when nothing is chosen.
QString shownIn(QComboBox* box)
{
    if (box->currentIndex() < 0)
        return box->placeholderText();
    if (auto* picker = qobject_cast<LanguagePicker*>(box))
        return picker->shownText();
    return box->currentText();
}

// A combo box is named by what it picks; Qt names it by its current item
// here, which says nothing of what the box is for. What it shows is its
// value and its text (a screen reader reads a closed box's choice from its
// text), and its list, open or not, is its child, items named.
class ComboElement : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ComboElement(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        auto* box = static_cast<QComboBox*>(widget());
        if (kind == QAccessible::Value || (kind == QAccessible::Name && box->accessibleName().isEmpty()))
            return shownIn(box);
        return QAccessibleWidget::text(kind);
    }

    int childCount() const override { return 1; }

    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(static_cast<QComboBox*>(widget())->view()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == static_cast<QComboBox*>(widget())->view() ? 0 : -1;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = static_cast<QComboBox*>(widget())->view()->isVisible();
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            static_cast<QComboBox*>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

    // The shown text, read only.
    QString text(int start, int end) const override { return shown().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(shown().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QString shown() const { return shownIn(static_cast<QComboBox*>(widget())); }
};

class LevelElement : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelElement(LevelMeterBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return QStringLiteral("%1%").arg(percent());
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return percent(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    int percent() const
    {
        const double level = static_cast<LevelMeterBar*>(widget())->level();
        return static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * 100.0));
    }
};

class RoledButtonElement : public QAccessibleWidget {
public:
    RoledButtonElement(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role)
    {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    QString text(QAccessible::Text kind) const override
    {
        auto* button = static_cast<QAbstractButton*>(widget());
        if (kind == QAccessible::Name && button->accessibleName().isEmpty())
            return button->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        auto* button = static_cast<QAbstractButton*>(widget());
        if (button->isCheckable() && role() == QAccessible::RadioButton) {
            state.checkable = true;
            state.checked = button->isChecked();
        } else if (button->isCheckable()) {
            // A page tab is selected, not checked.
            state.selectable = true;
            state.selected = button->isChecked();
        }
        return state;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString& action) override
    {
        if (action == pressAction())
            static_cast<QAbstractButton*>(widget())->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* elementFor(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    const QVariant role = widget->property(roleProperty);
    if (role.isValid()) {
        const auto wanted = static_cast<QAccessible::Role>(role.toInt());
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            return new RoledButtonElement(button, wanted);
        return new QAccessibleWidget(widget, wanted);
    }
    if (auto* button = qobject_cast<HoldButton*>(widget))
        return new HoldButtonElement(button);
    if (auto* box = qobject_cast<QComboBox*>(widget); box && !box->isEditable())
        return new ComboElement(box);
    if (auto* bar = qobject_cast<LevelMeterBar*>(widget))
        return new LevelElement(bar);
    return nullptr;
}

}  // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(elementFor);
        return true;
    }();
    (void)installed;
}

void setRole(QWidget* widget, QAccessible::Role role)
{
    widget->setProperty(roleProperty, static_cast<int>(role));
}

void announce(QLabel* note, const QString& text)
{
    note->hide();
    note->setText(text);
    note->setAccessibleName(text);
    note->show();
    QAccessibleEvent alert(note, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

}  // namespace parlaro::ui::Accessibility
