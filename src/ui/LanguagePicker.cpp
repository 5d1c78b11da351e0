#include "ui/LanguagePicker.h"

#include "ui/WidgetUpdates.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
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
        picking_.reset();
        updateGeometry();
        syncToolTip();
    });
}

bool LanguagePicker::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* list = view();
    QModelIndex picked;
    // The list takes a pick's key on its first offer, as a shortcut's.
    const bool keyOffered = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched == list && keyOffered && list->isVisible()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select)
            picked = list->currentIndex();
    } else if (watched == list->viewport() && event->type() == QEvent::MouseButtonRelease) {
        picked = list->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    }
    if (picked.isValid() && (picked.flags() & Qt::ItemIsEnabled)) {
        // Until the pick has landed (or been refused), whatever else the
        // closing list changes describes the language picked.
        picking_ = picked.data(Qt::DisplayRole).toString();
        describe(*picking_);
        QMetaObject::invokeMethod(
            this,
            [this] {
                picking_.reset();
                syncToolTip();
            },
            Qt::QueuedConnection);
    }
    return QComboBox::eventFilter(watched, event);
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
    // Ahead of the list's own handling, which closes it on a pick: the
    // filter installed last is asked first.
    for (QObject* watched : {static_cast<QObject*>(list), static_cast<QObject*>(list->viewport())}) {
        watched->removeEventFilter(this);
        watched->installEventFilter(this);
    }
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
    describe(picking_.value_or(currentText()));
}

void LanguagePicker::describe(const QString& label)
{
    // Only a state needs telling: a bare name is already on the picker.
    updates::setToolTip(this, nameOf(label) == label ? QString() : label);
}

}  // namespace parlaro::ui
