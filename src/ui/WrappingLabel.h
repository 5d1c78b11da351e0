#pragma once

#include <QFont>
#include <QLabel>

namespace parlaro::ui {

// A label for a text of the program's own that may run to several lines:
// plain text always, so a name or message holding "<" shows as written.
inline QLabel* wrappingLabel(const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace parlaro::ui
