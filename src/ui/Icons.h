#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QWidget;

namespace parlaro::ui {

// Our own monochrome symbols, named as the views name them ("mic.fill",
// "gearshape", ...), drawn from SVG and tinted; no desktop theme icons, so
// they look the same everywhere.
namespace Icons {

QStringList names();
bool has(const QString& name);

// The symbol `size` logical pixels square in `color` (the device pixel
// ratio of the screen it goes to); an empty pixmap for an unknown name.
QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);

// Marks a widget as showing the symbol (the "symbol" property), for tests
// and for accessibility tools that look for it.
void tag(QWidget* widget, const QString& name);

}  // namespace Icons
}  // namespace parlaro::ui
