#include "ui/LanguagePicker.h"

#include "ui/WidgetUpdates.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

namespace parlaro::ui {

LanguagePicker::LanguagePicker(int width, QWidget* parent) : QComboBox(parent), width_(width)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* items = model();
    connect(items, &QAbstractItemModel::rowsInserted, this, &LanguagePicker::itemsChanged);
    connect(items, &QAbstractItemModel::rowsRemoved, this, &LanguagePicker::itemsChanged);
    connect(items, &QAbstractItemModel::modelReset, this, &LanguagePicker::itemsChanged);
    connect(items, &QAbstractItemModel::dataChanged, this, &LanguagePicker::itemsChanged);
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        updateGeometry();
        syncToolTip();
    });
}

QString LanguagePicker::nameOf(const QString& label)
{
    const qsizetype at = label.indexOf(QString::fromUtf8(separator));
    return at < 0 ? label : label.left(at);
}

QRect LanguagePicker::textRect() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
}

void LanguagePicker::setSnug(bool snug)
{
    if (snug_ == snug)
        return;
    snug_ = snug;
    updateGeometry();
}

int LanguagePicker::snugWidth() const
{
    const int text = fontMetrics().horizontalAdvance(shownText());
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text, fontMetrics().height()), this).width();
}

int LanguagePicker::fullWidth() const
{
    return std::max(width_, snugWidth());
}

QSize LanguagePicker::sizeHint() const
{
    // Wide enough for the chosen name, never narrower than the width it was
    // given: a long name is shown whole, while the usual short ones leave the
    // header's room to the badges beside the pickers.
    return {snug_ ? snugWidth() : fullWidth(), QComboBox::sizeHint().height()};
}

QSize LanguagePicker::minimumSizeHint() const
{
    return sizeHint();
}

void LanguagePicker::showPopup()
{
    // The list shows every item whole, readiness included.
    QAbstractItemView* list = view();
    int wanted = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (list->verticalScrollBar())
        wanted += list->verticalScrollBar()->sizeHint().width();
    list->setMinimumWidth(std::max(width(), wanted));
    QComboBox::showPopup();
}

void LanguagePicker::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = nameOf(option.currentText);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void LanguagePicker::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateGeometry();
}

void LanguagePicker::itemsChanged()
{
    updateGeometry();
    syncToolTip();
}

void LanguagePicker::syncToolTip()
{
    // Only a state needs telling: a bare name is already on the picker.
    const QString label = currentText();
    const QString tip = nameOf(label) == label ? QString() : label;
    updates::setToolTip(this, tip);
}

}  // namespace parlaro::ui
