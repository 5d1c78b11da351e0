#include "ui/Palette.h"

namespace parlaro::ui::Palette {

const QColor& coral()
{
    static const QColor color(0xFF, 0x68, 0x4F);
    return color;
}
const QColor& violet()
{
    static const QColor color(0x70, 0x40, 0xF4);
    return color;
}
const QColor& violetAlt()
{
    static const QColor color(0x70, 0x40, 0xF4);
    return color;
}
const QColor& brick()
{
    static const QColor color(0xC9, 0x41, 0x2A);
    return color;
}
const QColor& white()
{
    static const QColor color(0xFF, 0xFF, 0xFF);
    return color;
}
const QColor& paleGrey()
{
    static const QColor color(0xF4, 0xF6, 0xF7);
    return color;
}
const QColor& offWhite()
{
    static const QColor color(0xFA, 0xFB, 0xFB);
    return color;
}
const QColor& hairline()
{
    static const QColor color = withOpacity(QColor(0, 0, 0), 0.09);
    return color;
}
const QColor& amber()
{
    static const QColor color(0xC2, 0x74, 0x00);
    return color;
}
const QColor& alertRed()
{
    static const QColor color(0xD6, 0x39, 0x3B);
    return color;
}

QColor textColor(const QColor& tint)
{
    return tint == coral() ? brick() : tint;
}

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

}  // namespace parlaro::ui::Palette
