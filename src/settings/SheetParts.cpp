#include "settings/SheetParts.h"

#include "ui/Glow.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>

namespace parlaro::ui {

namespace {

// A symbol whose two soft shadows are painted around it, inside the room
// the widget keeps for them.
class GlowingSymbol : public QWidget {
public:
    GlowingSymbol(QWidget* parent, const QString& symbol, const QColor& tint, int size)
        : QWidget(parent), tint_(tint), size_(size)
    {
        auto* layout = new QHBoxLayout(this);
        int m = glowMargin(12);
        layout->setContentsMargins(m / 2, m / 2, m / 2, m / 2);
        auto* view = new SymbolView(symbol, Palette::textColor(tint), size, this);
        view->setObjectName(QStringLiteral("symbol"));
        layout->addWidget(view);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF core(width() / 2.0 - size_ / 2.0, height() / 2.0 - size_ / 2.0, size_, size_);
        paintGlow(painter, core, size_ / 2.0, tint_, 0.5, 12);
    }

private:
    QColor tint_;
    int size_;
};

}  // namespace

QLabel* sheetText(QWidget* parent, const QString& objectName, double pixelSize, const QColor& color, bool semibold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setFont(Look::font(pixelSize, semibold ? QFont::DemiBold : QFont::Normal));
    label->setWordWrap(true);
    // Some lines carry what a device or the system reported; show it as
    // written rather than reading it as markup.
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

PillButton* sheetPill(QWidget* parent, const QString& objectName, bool active, const QColor& tint)
{
    auto* pill = new PillButton(QString(), parent);
    pill->setObjectName(objectName);
    pill->setTint(tint);
    pill->setActive(active);
    pill->setAutoDefault(false);
    return pill;
}

QWidget* sheetSpinner(QWidget* parent, const QString& objectName)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(28, 8);
    return bar;
}

QWidget* glowingSymbol(QWidget* parent, const QString& symbol, const QColor& tint, int size)
{
    return new GlowingSymbol(parent, symbol, tint, size);
}

}  // namespace parlaro::ui
