#pragma once

#include <QFont>
#include <Qt>

class QApplication;

namespace parlaro::ui {

// The one look of the program, the same on every desktop: Fusion, a fixed
// light palette whatever the desktop's colour scheme, and one fixed font
// family, so that windows and screenshots come out alike everywhere. Sizes
// are logical pixels.
namespace Look {

inline constexpr const char* fontFamily = "WenQuanYi Micro Hei";

// Style, palette, font and the interface language's direction.
void apply(QApplication& app);
// Style, palette and font only (before any platform is installed).
void applyStyle(QApplication& app);

// The system font at a size in logical pixels.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
// A monospaced font at a size in logical pixels: the desktop's own where
// it resolves to a fixed-pitch face, else a fixed-pitch family installed.
QFont monospacedFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// The secondary text colour of the palette.
QColor secondaryText();
QColor primaryText();

// The interface language's writing direction.
Qt::LayoutDirection layoutDirection();

}  // namespace Look
}  // namespace parlaro::ui
