#include "ui/Look.h"

#include "speech/InterfaceLanguage.h"
#include "ui/Accessibility.h"
#include "ui/FocusRing.h"
#include "ui/Palette.h"
#include "ui/ReturnKey.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPalette>
#include <QStyleFactory>
#include <QWidget>

#include <algorithm>
#include <stdexcept>

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

// The family the desktop gave the application before we set ours.
QString& desktopFamily()
{
    static QString family;
    return family;
}

bool chineseInterface()
{
    // The style is applied before any platform is there to name a language;
    // the application applies it again once one is.
    try {
        return InterfaceLanguage::current().starts_with("zh");
    } catch (const std::logic_error&) {
        return false;
    }
}

// The order under the other kind of interface language.
QStringList otherOrder(const QStringList& order)
{
    return QStringList(order.rbegin(), order.rend());
}

}  // namespace

QStringList families()
{
    QString desktop = desktopFamily();
    if (desktop.isEmpty())
        desktop = QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
    const QString cjk = QString::fromLatin1(cjkFamily);
    if (desktop.isEmpty() || desktop == cjk)
        return {cjk};
    return chineseInterface() ? QStringList{cjk, desktop} : QStringList{desktop, cjk};
}

void followInterfaceLanguage()
{
    const QStringList wanted = families();
    if (wanted.size() < 2)
        return;
    const QStringList before = otherOrder(wanted);
    QFont application = QApplication::font();
    if (application.families() == before) {
        application.setFamilies(wanted);
        QApplication::setFont(application);
    }
    // Widgets given a font of their own keep it through the application
    // font's change, so each is turned round where it carries our order.
    for (QWidget* widget : QApplication::allWidgets()) {
        QFont font = widget->font();
        if (!widget->testAttribute(Qt::WA_SetFont) || font.families() != before)
            continue;
        font.setFamilies(wanted);
        widget->setFont(font);
    }
}

void apply(QApplication& app)
{
    applyStyle(app);
    app.setLayoutDirection(layoutDirection());
}

void applyStyle(QApplication& app)
{
    // The family the name resolves to: without a desktop theme Qt names
    // fontconfig's alias "Sans Serif", which is no family of the font
    // database, so a list led by it would fall through to the CJK family.
    if (desktopFamily().isEmpty())
        desktopFamily() = QFontInfo(app.font()).family();
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(lightPalette());
    app.setFont(font(13));
    Accessibility::install();
    FocusRing::install();
    ReturnKey::install();
}

QFont font(double pixelSize, QFont::Weight weight)
{
    QFont font;
    font.setFamilies(families());
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

QFont monospacedFont(const QString& text, double pixelSize)
{
    const bool joins = std::any_of(text.begin(), text.end(), [](QChar c) {
        const QChar::JoiningType joining = c.joiningType();
        return joining == QChar::Joining_Dual || joining == QChar::Joining_Right || joining == QChar::Joining_Left;
    });
    return joins ? font(pixelSize) : monospacedFont(pixelSize);
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
