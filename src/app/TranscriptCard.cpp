#include "app/TranscriptCard.h"

#include "app/CardTag.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/Screenful.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace parlaro::app {

using namespace ui;

TranscriptCard::TranscriptCard(QWidget* parent) : Card(Palette::coral(), 14, 0.07, parent)
{
    setObjectName(QStringLiteral("conversation.card"));
    auto [column, header] = makeCardColumn(*this);
    tag_ = new CardTag(true, this);
    tag_->setObjectName(QStringLiteral("card.tag"));
    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("card.time"));
    time_->setFont(Look::font(10));
    updates::setTextColor(time_, Look::secondaryText());
    header->addWidget(tag_);
    header->addStretch(1);
    header->addWidget(time_);
    column->addLayout(header);
    original_ = new QLabel(this);
    original_->setObjectName(QStringLiteral("card.original"));
    original_->setFont(Look::font(13));
    translated_ = new QLabel(this);
    translated_->setObjectName(QStringLiteral("card.translated"));
    translated_->setFont(Look::font(22, QFont::Medium));
    updates::setTextColor(original_, Look::secondaryText());
    for (QLabel* text : {original_, translated_}) {
        text->setWordWrap(true);
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        text->installEventFilter(this);
        column->addWidget(text);
    }
}

bool TranscriptCard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick && (watched == original_ || watched == translated_)) {
        const auto cut = [](const std::string& text, const QLabel* label) {
            return label->text() != QString::fromStdString(text);
        };
        if (cut(originalText_, original_) || cut(translatedText_, translated_)) {
            ++screenfuls_;
            showTexts();
        }
    }
    return Card::eventFilter(watched, event);
}

void TranscriptCard::showTexts()
{
    updates::setText(original_, screenfulsOf(originalText_, screenfuls_));
    updates::setText(translated_, screenfulsOf(translatedText_, screenfuls_));
}

void TranscriptCard::show(const ConversationEntry& entry, const QString& sideTag, const LocaleContext& locale)
{
    bool them = entry.side == ConversationEntry::Side::them;
    QColor tint = them ? Palette::coral() : Palette::violet();
    setTint(tint);
    tag_->setTint(tint);
    updates::setText(tag_, sideTag);
    const bool sameTime = shownTime_ && shownTime_->time == entry.time && shownTime_->locale.locale == locale.locale
        && shownTime_->locale.timeZone == locale.timeZone;
    if (!sameTime) {
        updates::setText(
            time_,
            q(DateFormats::styled(entry.time, DateFormats::Style::none, DateFormats::Style::mediumStyle, locale)));
        shownTime_ = ShownTime{entry.time, locale};
    }
    // Every caption refresh shows every card again: only a changed text is
    // converted.
    if (entry.original != originalText_ || entry.translated != translatedText_) {
        originalText_ = entry.original;
        translatedText_ = entry.translated;
        showTexts();
    }
}

}  // namespace parlaro::app
