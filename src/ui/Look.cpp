#include "ui/Look.h"

#include "speech/InterfaceLanguage.h"
#include "ui/Palette.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPalette>
#include <QStyleFactory>

namespace parlaro::ui::Look {

namespace {

QPalette lightPalette()
{
    QPalette palette;
    const QColor text(0x1D, 0x1D, 0x1F);
    const QColor secondary(0x1D, 0x1D, 0x1F, 0x8C);
    palette.setColor(QPalette::Window, Palette::white());
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, Palette::white());
    palette.setColor(QPalette::AlternateBase, Palette::paleGrey());
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, secondary);
    palette.setColor(QPalette::Button, Palette::white());
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Palette::white());
    palette.setColor(QPalette::Highlight, Palette::violet());
    palette.setColor(QPalette::HighlightedText, Palette::white());
    palette.setColor(QPalette::Link, Palette::violet());
    palette.setColor(QPalette::ToolTipBase, Palette::white());
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Light, Palette::white());
    palette.setColor(QPalette::Midlight, Palette::paleGrey());
    palette.setColor(QPalette::Mid, QColor(0xC8, 0xC8, 0xCC));
    palette.setColor(QPalette::Dark, QColor(0x9A, 0x9A, 0xA0));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0, 0x40));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, secondary);
    return palette;
}

}  // namespace

void apply(QApplication& app)
{
    applyStyle(app);
    app.setLayoutDirection(layoutDirection());
}

void applyStyle(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(lightPalette());
    app.setFont(font(13));
}

QFont font(double pixelSize, QFont::Weight weight)
{
    QFont font(QString::fromLatin1(fontFamily));
    font.setPixelSize(static_cast<int>(pixelSize + 0.5));
    font.setWeight(weight);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont monospacedFont(double pixelSize, QFont::Weight weight)
{
    const auto styled = [](const QString& family) {
        QFont font(family);
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        return font;
    };
    // The desktop's "monospace" may resolve to a face that is not fixed
    // pitch (some font packages claim the alias without saying they are
    // monospaced), so the face is checked; then the usual monospaced
    // families, then any installed one, in a fixed order. Walking every
    // installed family is slow and the labels asking for this font are made
    // often, so the family is chosen once for the life of the program.
    static const QString family = [&] {
        const QString system = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        QStringList candidates{system};
        for (const char* known :
             {"DejaVu Sans Mono", "Noto Mono", "Liberation Mono", "Noto Sans Mono", "Nimbus Mono PS"})
            candidates << QString::fromLatin1(known);
        for (const QString& installed : QFontDatabase::families(QFontDatabase::Latin))
            if (QFontDatabase::isFixedPitch(installed) && !QFontDatabase::isPrivateFamily(installed))
                candidates << installed;
        for (const QString& candidate : candidates) {
            const QFontInfo resolved(styled(candidate));
            if (resolved.fixedPitch() && QFontDatabase::isFixedPitch(resolved.family()))
                return candidate;
        }
        return system;
    }();
    QFont font = styled(family);
    font.setPixelSize(static_cast<int>(pixelSize + 0.5));
    font.setWeight(weight);
    return font;
}

QColor primaryText()
{
    return lightPalette().color(QPalette::WindowText);
}

QColor secondaryText()
{
    return lightPalette().color(QPalette::PlaceholderText);
}

Qt::LayoutDirection layoutDirection()
{
    return InterfaceLanguage::layoutDirection() == LayoutDirection::rightToLeft ? Qt::RightToLeft : Qt::LeftToRight;
}

}  // namespace parlaro::ui::Look
