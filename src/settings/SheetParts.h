#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace parlaro::ui {

class PillButton;

// Pieces the sheet's views and the settings pages share: a wrapping text in
// a size and colour, a capsule button and a small busy indicator.
QLabel* sheetText(QWidget* parent, const QString& objectName, double pixelSize, const QColor& color,
                  bool semibold = false);
// Inactive pills never take Return: only the button marked default does.
PillButton* sheetPill(QWidget* parent, const QString& objectName, bool active, const QColor& tint);
QWidget* sheetSpinner(QWidget* parent, const QString& objectName);
// A header symbol with its soft glow.
QWidget* glowingSymbol(QWidget* parent, const QString& symbol, const QColor& tint, int size);

}  // namespace parlaro::ui
