#include "ui/GroupedList.h"

#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

namespace {

// Draws the white rounded panel of a group with its hairline.
class GroupPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(box, 10, 10);
        painter.fillPath(path, Palette::white());
        painter.setPen(QPen(Palette::hairline(), 1));
        painter.drawPath(path);
    }
};

QLabel* wrappingLabel(const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    return label;
}

void setSecondary(QLabel* label)
{
    updates::setTextColor(label, Look::secondaryText());
}

} // namespace

SidebarGroup::SidebarGroup(const QString& title, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("group.title"));
    title_->setFont(Look::font(11, QFont::DemiBold));
    title_->setTextFormat(Qt::PlainText);
    title_->setContentsMargins(4, 0, 0, 0);
    setSecondary(title_);
    layout->addWidget(title_);
    panel_ = new GroupPanel(this);
    panel_->setObjectName(QStringLiteral("group.panel"));
    content_ = new QVBoxLayout(panel_);
    content_->setContentsMargins(0, 0, 0, 0);
    content_->setSpacing(0);
    layout->addWidget(panel_);
}

void SidebarGroup::setTitle(const QString& title)
{
    updates::setText(title_, title);
}

QString SidebarGroup::title() const
{
    return title_->text();
}

SidebarRow::SidebarRow(const QString& label, std::optional<QString> detail, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    label_ = wrappingLabel(Look::font(12), this);
    label_->setObjectName(QStringLiteral("row.label"));
    detail_ = wrappingLabel(Look::font(10.5), this);
    detail_->setObjectName(QStringLiteral("row.detail"));
    setSecondary(detail_);
    texts->addWidget(label_);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);
    row->addSpacing(6);
    trailing_ = new QHBoxLayout;
    trailing_->setContentsMargins(0, 0, 0, 0);
    trailing_->setSpacing(6);
    row->addLayout(trailing_);
    setLabel(label);
    setDetail(detail);
}

void SidebarRow::setLabel(const QString& label)
{
    updates::setText(label_, label);
}

void SidebarRow::setDetail(const std::optional<QString>& detail)
{
    updates::setVisible(detail_, detail.has_value());
    updates::setText(detail_, detail.value_or(QString()));
}

void SidebarRow::addTrailing(QWidget* widget)
{
    trailing_->addWidget(widget, 0, Qt::AlignVCenter);
}

RowDivider::RowDivider(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RowDivider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // The indent sits on the side where reading starts.
    QRect line = rect();
    if (layoutDirection() == Qt::RightToLeft)
        line.setRight(line.right() - 12);
    else
        line.setLeft(line.left() + 12);
    painter.fillRect(line, Palette::hairline());
}

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

namespace {

struct StateLook {
    QString text;
    QColor color;
    bool ready = false;
};

StateLook stateLook(const ModuleState& state)
{
    struct Visitor {
        StateLook operator()(const ModuleState::NeedsDownload& s) const
        {
            return {q(localized("需下载 %@", s.text)), Palette::amber()};
        }
        StateLook operator()(const ModuleState::NeedsPermission& s) const
        {
            return {q(localized("缺权限 %@", s.text)), Palette::amber()};
        }
        StateLook operator()(const ModuleState::Unsupported& s) const { return {q(s.text), Look::secondaryText()}; }
        StateLook operator()(const ModuleState::Failed& s) const
        {
            return {q(s.code + " " + s.message), Palette::alertRed()};
        }
        StateLook operator()(const ModuleState::Ready&) const { return {{}, Palette::violet(), true}; }
    };
    return std::visit(Visitor{}, state.value);
}

} // namespace

ModuleStatusGroup::ModuleStatusGroup(QWidget* parent) : SidebarGroup(q(localized("运行状态")), parent)
{
    setObjectName(QStringLiteral("moduleStatus"));
}

void ModuleStatusGroup::setReports(const std::vector<ModuleReport>& reports)
{
    setTitle(q(localized("运行状态")));
    if (built_ && reports == reports_)
        return;
    built_ = true;
    reports_ = reports;
    while (QLayoutItem* item = contentLayout()->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    bool first = true;
    for (const ModuleReport& report : reports_) {
        if (!first)
            contentLayout()->addWidget(new RowDivider(panel()));
        first = false;
        auto* row = new SidebarRow(q(ModuleIDs::title(report.module)), q(report.adapter), panel());
        row->setObjectName(QStringLiteral("moduleStatus.row"));
        StateLook look = stateLook(report.state);
        if (look.ready) {
            auto* check = new SymbolView(QStringLiteral("checkmark.circle.fill"), look.color, 14, row);
            check->setObjectName(QStringLiteral("moduleStatus.state"));
            row->addTrailing(check);
        } else {
            auto* state = new QLabel(look.text, row);
            state->setObjectName(QStringLiteral("moduleStatus.state"));
            state->setFont(Look::font(10.5));
            state->setTextFormat(Qt::PlainText);
            state->setWordWrap(true);
            state->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
            state->setMaximumWidth(stateWidth);
            // Short states keep one line; long ones wrap within the limit.
            state->setMinimumWidth(std::min(
                stateWidth, static_cast<int>(std::ceil(QFontMetricsF(state->font()).horizontalAdvance(look.text))) + 2));
            updates::setTextColor(state, look.color);
            row->addTrailing(state);
        }
        contentLayout()->addWidget(row);
    }
}

} // namespace parlaro::ui
