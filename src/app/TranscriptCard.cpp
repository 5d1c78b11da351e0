#include "app/TranscriptCard.h"

#include "app/CardTag.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

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
        column->addWidget(text);
    }
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
    updates::setText(original_, q(entry.original));
    updates::setText(translated_, q(entry.translated));
}

}  // namespace parlaro::app
