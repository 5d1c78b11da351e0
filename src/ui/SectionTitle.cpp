#include "ui/SectionTitle.h"

#include "ui/Look.h"
#include "ui/Palette.h"

namespace parlaro::ui {

SectionTitle::SectionTitle(const QString& text, QWidget* parent) : QLabel(parent)
{
    auto font = Look::font(11, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Palette::withOpacity(Palette::violet(), 0.75));
    setPalette(palette);
    setTitle(text);
}

void SectionTitle::setTitle(const QString& text)
{
    auto upper = text.toUpper();
    if (this->text() != upper)
        setText(upper);
}

}  // namespace parlaro::ui
