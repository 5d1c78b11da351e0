#pragma once

#include <QFont>
#include <QStringList>
#include <Qt>

class QApplication;

namespace parlaro::ui {

// The one look of the program: Fusion and a fixed light palette whatever the
// desktop's colour scheme. Text is drawn in the desktop's interface font (the
// application font Qt starts with, from fontconfig and the platform theme),
// with a CJK family behind it for the characters it lacks. Under a Chinese
// interface the CJK family leads, so quotes, ellipses and colons take their
// Chinese forms there and their Latin forms everywhere else. Sizes are
// logical pixels.
namespace Look {

inline constexpr const char* cjkFamily = "WenQuanYi Micro Hei";

// The families every font of ours asks for, in order, under the current
// interface language.
QStringList families();
// Gives the application font and every widget font of ours the order of the
// current interface language (after a change of the interface language).
void followInterfaceLanguage();

// Style, palette, font and the interface language's direction.
void apply(QApplication& app);
// Style, palette and font only (before any platform is installed), with
// the focus ring, Enter on buttons and what screen readers are told of our
// controls. The
// first call takes the application's font as the desktop's.
void applyStyle(QApplication& app);

// The interface font at a size in logical pixels.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
// A monospaced font at a size in logical pixels: the desktop's own where
// it resolves to a fixed-pitch face, else a fixed-pitch family installed.
QFont monospacedFont(double pixelSize, QFont::Weight weight = QFont::Normal);
// The monospaced font for `text`, unless its letters join (Arabic): fixed
// cells pull such a word apart ("ها دئ"), so it takes the interface font.
QFont monospacedFont(const QString& text, double pixelSize);

// The secondary text colour of the palette.
QColor secondaryText();
QColor primaryText();

// The interface language's writing direction.
Qt::LayoutDirection layoutDirection();

}  // namespace Look
}  // namespace parlaro::ui
