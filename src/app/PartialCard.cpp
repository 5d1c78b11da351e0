#include "app/PartialCard.h"

#include "app/CardTag.h"
#include "ui/Look.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace parlaro::app {

using namespace ui;

PartialCard::PartialCard(const QColor& tint, QWidget* parent) : Card(tint, 14, 0.03, parent)
{
    auto [column, header] = makeCardColumn(*this);
    header->setSpacing(6);
    tag_ = new CardTag(false, this);
    tag_->setObjectName(QStringLiteral("card.tag"));
    tag_->setTint(tint);
    speaking_ = new QLabel(this);
    speaking_->setFont(Look::font(10));
    updates::setTextColor(speaking_, Look::secondaryText());
    header->addWidget(tag_);
    header->addWidget(speaking_);
    header->addStretch(1);
    column->addLayout(header);
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("card.text"));
    QFont font = Look::font(17);
    font.setItalic(true);
    text_->setFont(font);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    updates::setTextColor(text_, Look::secondaryText());
    column->addWidget(text_);
    auto* fade = new QGraphicsOpacityEffect(this);
    fade->setOpacity(opacity);
    setGraphicsEffect(fade);
}

void PartialCard::show(const QString& tag, const QString& text)
{
    updates::setText(tag_, tag);
    updates::setText(speaking_, q(localized("正在说…")));
    updates::setText(text_, text);
}

QString PartialCard::tagText() const
{
    return tag_->text();
}

}  // namespace parlaro::app
