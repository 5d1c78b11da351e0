#include "ui/SidebarGroup.h"

#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/WidgetUpdates.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

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

}  // namespace

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
    updates::setTextColor(title_, Look::secondaryText());
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

}  // namespace parlaro::ui
