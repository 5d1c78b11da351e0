#include "ui/Icons.h"

#include <QDir>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>

static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace parlaro::ui::Icons {

namespace {

QString resourcePath(const QString& name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

void ensureResources()
{
    static const bool done = [] {
        initIconResources();
        return true;
    }();
    (void)done;
}

}  // namespace

QStringList names()
{
    ensureResources();
    QStringList list;
    for (const auto& file :
         QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name))
        list << file.chopped(4);
    return list;
}

bool has(const QString& name)
{
    ensureResources();
    return QFile::exists(resourcePath(name));
}

QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio)
{
    if (!has(name) || size <= 0)
        return {};
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return {};
    const int pixels = static_cast<int>(size * devicePixelRatio + 0.5);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // The drawing's coverage, in the colour asked for; white details in
        // a filled symbol become holes.
        QImage tint(image.size(), QImage::Format_ARGB32_Premultiplied);
        tint.fill(color);
        QImage mask = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < mask.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(mask.scanLine(y));
            for (int x = 0; x < mask.width(); ++x) {
                int darkness = 255 - qGray(line[x]);
                line[x] = qRgba(0, 0, 0, qAlpha(line[x]) * darkness / 255);
            }
        }
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, tint);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, mask);
    }
    auto result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

void tag(QWidget* widget, const QString& name)
{
    if (widget->property("symbol").toString() != name)
        widget->setProperty("symbol", name);
}

}  // namespace parlaro::ui::Icons
