#include "app/InputFieldStyle.h"

#include "ui/Palette.h"

#include <QWidget>

namespace parlaro::app {

namespace {
QString rgba(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}
}  // namespace

void applyInputFieldStyle(QWidget* field)
{
    const char* type = field->metaObject()->className();
    field->setStyleSheet(QStringLiteral("%1 { background: white; border: 1px solid %2; border-radius: 9px;"
                                        " padding: 7px 10px; }"
                                        "%1:disabled { color: #9a9a9a; }")
                             .arg(QString::fromLatin1(type), rgba(ui::Palette::hairline())));
}

}  // namespace parlaro::app
