#include "settings/TranscriptView.h"

#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/Screenful.h"
#include "ui/Text.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

namespace parlaro::settings {

using namespace ui;

namespace {

// Between a header and its texts, and between two sentences.
constexpr int lineGap = 2;
constexpr int blockGap = 8;
// Rows laid out per turn of the event loop.
constexpr int batchRows = 200;
// Room left for kerning when a line is measured by its characters alone.
constexpr int edgeSlack = 4;

int wrappedHeight(const QFontMetrics& metrics, int width, const QString& text)
{
    return metrics.boundingRect(QRect(0, 0, width, INT_MAX / 2), Qt::TextWordWrap, text).height();
}

}  // namespace

TranscriptModel::TranscriptModel(Entries entries, LocaleContext dates, QObject* parent)
    : QAbstractListModel(parent), entries_(std::move(entries)),
      dates_(DateFormats::forInterfaceLanguage(std::move(dates)))
{
}

int TranscriptModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(entries_->size());
}

QString TranscriptModel::header(int row) const
{
    const ConversationEntry& entry = entries_->at(static_cast<std::size_t>(row));
    const bool me = entry.side == ConversationEntry::Side::me;
    return q(localized(me ? "我" : "对方") + "  "
             + DateFormats::styled(entry.time, DateFormats::Style::none, DateFormats::Style::mediumStyle, dates_));
}

QString TranscriptModel::shown(int row, const std::string& text) const
{
    const auto found = screenfuls_.find(row);
    return screenfulsOf(text, found == screenfuls_.end() ? 1 : found->second);
}

bool TranscriptModel::isCut(int row) const
{
    return original(row).size() < wholeOriginal(row).size() || translated(row).size() < wholeTranslated(row).size();
}

QString TranscriptModel::original(int row) const
{
    return shown(row, entries_->at(static_cast<std::size_t>(row)).original);
}

QString TranscriptModel::translated(int row) const
{
    const ConversationEntry& entry = entries_->at(static_cast<std::size_t>(row));
    return entry.translated == entry.original ? QString() : shown(row, entry.translated);
}

QString TranscriptModel::wholeOriginal(int row) const
{
    return q(entries_->at(static_cast<std::size_t>(row)).original);
}

QString TranscriptModel::wholeTranslated(int row) const
{
    const ConversationEntry& entry = entries_->at(static_cast<std::size_t>(row));
    return entry.translated == entry.original ? QString() : q(entry.translated);
}

bool TranscriptModel::showMore(int row)
{
    if (row < 0 || row >= rowCount() || !isCut(row))
        return false;
    auto& screenfuls = screenfuls_.try_emplace(row, 1).first->second;
    ++screenfuls;
    emit dataChanged(index(row), index(row));
    return true;
}

QVariant TranscriptModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case headerRole:
        return header(index.row());
    case Qt::DisplayRole:
    case originalRole:
        return original(index.row());
    case translatedRole:
        return translated(index.row());
    case Qt::AccessibleTextRole: {
        // What the row shows, read in the order it is painted: who spoke
        // and when, what was said, and its translation.
        QString spoken = header(index.row()) + QLatin1Char('\n') + original(index.row());
        if (const QString translation = translated(index.row()); !translation.isEmpty())
            spoken += QLatin1Char('\n') + translation;
        return spoken;
    }
    case meRole:
        return (*entries_)[static_cast<std::size_t>(index.row())].side == ConversationEntry::Side::me;
    default:
        return {};
    }
}

TranscriptDelegate::TranscriptDelegate(QListView& view)
    : QStyledItemDelegate(&view), view_(view), headerFont_(Look::font(10, QFont::DemiBold)), textFont_(Look::font(12)),
      headerMetrics_(headerFont_), textMetrics_(textFont_),
      lineHeight_(wrappedHeight(textMetrics_, INT_MAX / 2, QStringLiteral("Ag")))
{
}

int TranscriptDelegate::textHeight(int width, const QString& text) const
{
    // Most sentences fit on one line, which the sum of their characters'
    // advances tells without shaping the text or breaking it into lines;
    // near the edge, and in scripts whose letters change shape, the text is
    // laid out.
    if (const std::optional<int> advance = plainAdvance(text); advance && *advance + edgeSlack <= width)
        return lineHeight_;
    return wrappedHeight(textMetrics_, width, text);
}

std::optional<int> TranscriptDelegate::plainAdvance(const QString& text) const
{
    if (text.isEmpty())
        return std::nullopt;
    int total = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        const bool plain = (unit >= 0x20 && unit < 0x0300) || (unit >= 0x3000 && unit < 0x9FFF)
            || (unit >= 0xFF00 && unit < 0xFFEF) || unit == 0x2014 || unit == 0x2026;
        if (!plain)
            return std::nullopt;
        auto found = advances_.find(unit);
        if (found == advances_.end())
            found = advances_.emplace(unit, textMetrics_.horizontalAdvance(c)).first;
        total += found->second;
    }
    return total;
}

int TranscriptDelegate::textWidth() const
{
    // The scroll bar's room is kept whether it shows or not, so its coming
    // and going never lays the rows out again.
    const int bar = view_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &view_);
    return std::max(1, view_.contentsRect().width() - bar);
}

bool TranscriptDelegate::allMeasured() const
{
    const auto rows = static_cast<std::size_t>(view_.model() ? view_.model()->rowCount() : 0);
    return measuredWidth_ == textWidth() && measured_ >= rows;
}

void TranscriptDelegate::forget(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= heights_.size() || heights_[static_cast<std::size_t>(row)] < 0)
        return;
    heights_[static_cast<std::size_t>(row)] = -1;
    --measured_;
}

QSize TranscriptDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const int width = textWidth();
    const auto rows = static_cast<std::size_t>(view_.model()->rowCount());
    if (width != measuredWidth_ || heights_.size() != rows) {
        heights_.assign(rows, -1);
        measuredWidth_ = width;
        measured_ = 0;
    }
    int& height = heights_[static_cast<std::size_t>(index.row())];
    if (height < 0) {
        height =
            headerMetrics_.height() + lineGap + textHeight(width, index.data(TranscriptModel::originalRole).toString());
        const QString translated = index.data(TranscriptModel::translatedRole).toString();
        if (!translated.isEmpty())
            height += lineGap + textHeight(width, translated);
        if (static_cast<std::size_t>(index.row()) + 1 < rows)
            height += blockGap;
        ++measured_;
    }
    return {width, height};
}

void TranscriptDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    QRect area = option.rect;
    // Whatever a text measures, it never covers the rows around it.
    painter->setClipRect(area);
    if (option.state & QStyle::State_Selected)
        painter->fillRect(area, Palette::withOpacity(Palette::violet(), 0.15));
    const int align = static_cast<int>(QStyle::visualAlignment(option.direction, Qt::AlignLeading | Qt::AlignTop));
    painter->setFont(headerFont_);
    painter->setPen(index.data(TranscriptModel::meRole).toBool() ? Palette::violet() : Palette::brick());
    painter->drawText(QRect(area.left(), area.top(), area.width(), headerMetrics_.height()), align | Qt::TextSingleLine,
                      index.data(TranscriptModel::headerRole).toString());
    int top = area.top() + headerMetrics_.height() + lineGap;
    painter->setFont(textFont_);
    const auto draw = [&](const QString& value, const QColor& colour) {
        const int height = textHeight(area.width(), value);
        painter->setPen(colour);
        // A sentence runs in its own direction, whatever the interface's:
        // an English question under an Arabic interface ends with its "?".
        painter->setLayoutDirection(value.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        painter->drawText(QRect(area.left(), top, area.width(), height), align | Qt::TextWordWrap, value);
        top += height + lineGap;
    };
    draw(index.data(TranscriptModel::originalRole).toString(), Look::primaryText());
    const QString translated = index.data(TranscriptModel::translatedRole).toString();
    if (!translated.isEmpty())
        draw(translated, Look::secondaryText());
    painter->restore();
}

TranscriptView::TranscriptView(TranscriptModel::Entries entries, LocaleContext dates, QWidget* parent)
    : QListView(parent), model_(std::move(entries), std::move(dates), this), delegate_(*this)
{
    setObjectName(QStringLiteral("history.transcript.list"));
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(20);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::Batched);
    setBatchSize(batchRows);
    setUniformItemSizes(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setItemDelegate(&delegate_);
    setModel(&model_);
    setProperty("complete", false);
    // A double click or Enter on a cut sentence shows its next screenful.
    connect(this, &QAbstractItemView::activated, this, &TranscriptView::showMore);
}

void TranscriptView::showMore(const QModelIndex& index)
{
    if (!model_.showMore(index.row()))
        return;
    delegate_.forget(index.row());
    scheduleDelayedItemsLayout();
}

QSize TranscriptView::sizeHint() const
{
    return {QListView::sizeHint().width(), std::min(contentsSize().height(), maxHeight)};
}

QSize TranscriptView::minimumSizeHint() const
{
    return {0, sizeHint().height()};
}

void TranscriptView::updateGeometries()
{
    QListView::updateGeometries();
    // Grows with each batch until it scrolls.
    const int height = std::min(contentsSize().height(), maxHeight);
    if (height != shownHeight_) {
        shownHeight_ = height;
        updateGeometry();
    }
    noteCompletion();
}

void TranscriptView::timerEvent(QTimerEvent* event)
{
    QListView::timerEvent(event);
    noteCompletion();
}

void TranscriptView::noteCompletion()
{
    if (!toldComplete_ && delegate_.allMeasured()) {
        toldComplete_ = true;
        setProperty("complete", true);
        emit completed();
    }
}

void TranscriptView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    QListView::keyPressEvent(event);
}

void TranscriptView::copySelection()
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : rows) {
        lines << model_.header(index.row()) << model_.wholeOriginal(index.row());
        if (const QString translated = model_.wholeTranslated(index.row()); !translated.isEmpty())
            lines << translated;
    }
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

}  // namespace parlaro::settings
