#include "ui/Accessibility.h"

#include "ui/HoldButton.h"
#include "ui/LanguagePicker.h"
#include "ui/LevelMeterBar.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

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

// A combo box is named by what it picks; Qt names it by its current item
// here, which says nothing of what the box is for.
class ComboElement : public QAccessibleWidget {
public:
    explicit ComboElement(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("currentIndexChanged(int)"));
    }

    QString text(QAccessible::Text kind) const override
    {
        auto* box = static_cast<QComboBox*>(widget());
        if (kind == QAccessible::Value || (kind == QAccessible::Name && box->accessibleName().isEmpty())) {
            if (auto* picker = qobject_cast<LanguagePicker*>(box))
                return picker->shownText();
            return box->currentText();
        }
        return QAccessibleWidget::text(kind);
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

}  // namespace parlaro::ui::Accessibility
