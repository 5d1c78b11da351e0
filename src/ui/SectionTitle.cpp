#include "ui/SectionTitle.h"

#include "ui/Look.h"
#include "ui/Palette.h"

namespace parlaro::ui {

namespace {

constexpr double latinSpacing = 1.5;

// Scripts whose letters join their neighbours: spacing would pull a word
// apart into its letters' isolated pieces.
bool hasJoiningScript(const QString& text)
{
    for (const QChar c : text) {
        switch (c.script()) {
        case QChar::Script_Arabic:
        case QChar::Script_Syriac:
        case QChar::Script_Nko:
        case QChar::Script_Mongolian:
        case QChar::Script_Mandaic:
        case QChar::Script_Devanagari:
        case QChar::Script_Bengali:
            return true;
        default:
            break;
        }
    }
    return false;
}

}  // namespace

SectionTitle::SectionTitle(const QString& text, QWidget* parent) : QLabel(parent)
{
    auto font = Look::font(11, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, latinSpacing);
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
    const double spacing = hasJoiningScript(upper) ? 0.0 : latinSpacing;
    if (font().letterSpacing() != spacing) {
        QFont spaced = font();
        spaced.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        setFont(spaced);
    }
}

}  // namespace parlaro::ui
