#include "ui/GroupNotice.h"

#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"
#include "ui/WidgetUpdates.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace parlaro::ui {

GroupNotice::GroupNotice(const QString& text, const QColor& color, std::optional<Action> action, QWidget* parent)
    : QWidget(parent)
{
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(12, 9, 12, 9);
    layout_->setSpacing(8);
    symbol_ = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), color, 11, this);
    symbol_->setContentsMargins(0, 1, 0, 0);
    layout_->addWidget(symbol_, 0, Qt::AlignTop);
    text_ = wrappingLabel(Look::font(11), this);
    text_->setObjectName(QStringLiteral("notice.text"));
    layout_->addWidget(text_, 1, Qt::AlignTop);
    layout_->addSpacing(4);
    setNotice(text, color, std::move(action));
}

void GroupNotice::setNotice(const QString& text, const QColor& color, std::optional<Action> action)
{
    if (color_ != color) {
        color_ = color;
        symbol_->setColor(color);
        update();
    }
    updates::setTextColor(text_, color);
    updates::setText(text_, text);
    if (!action) {
        delete button_;
        button_ = nullptr;
        run_ = nullptr;
        return;
    }
    run_ = std::move(action->run);
    if (!button_) {
        button_ = new PillButton(action->title, this);
        button_->setObjectName(QStringLiteral("notice.action"));
        button_->setActive(true);
        // Calls whatever action is current, so a later setNotice needs no rewiring.
        connect(button_, &QPushButton::clicked, this, [this] {
            if (run_) {
                auto run = run_;
                run();
            }
        });
        layout_->addWidget(button_, 0, Qt::AlignTop);
    }
    updates::setText(button_, action->title);
    if (button_->tint() != color)
        button_->setTint(color);
}

QString GroupNotice::text() const
{
    return text_->text();
}

void GroupNotice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::withOpacity(color_, 0.06));
}

}  // namespace parlaro::ui
