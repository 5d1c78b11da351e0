#include "WholeTexts.h"

#include "ui/LanguagePicker.h"
#include "ui/SymbolView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextDocument>

namespace parlaro::test {

std::vector<std::string> cutTexts(QWidget& root)
{
    std::vector<std::string> found;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || qobject_cast<ui::SymbolView*>(widget))
            continue;
        const auto fault = [&](const QString& text, const std::string& how) {
            found.push_back(widget->metaObject()->className() + std::string(" ") + widget->objectName().toStdString()
                            + " \"" + text.toStdString() + "\" " + how);
        };
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QString text = label->text();
            if (text.isEmpty() || Qt::mightBeRichText(text))
                continue;
            const QRect room =
                label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
            if (label->wordWrap()) {
                if (label->heightForWidth(label->width()) > label->height())
                    fault(text, "wraps past its height");
                continue;
            }
            const QRect used = label->fontMetrics().boundingRect(QRect(0, 0, 100000, 100000), 0, text);
            if (used.width() > room.width())
                fault(text, "is wider than its label");
        } else if (auto* picker = qobject_cast<ui::LanguagePicker*>(widget)) {
            if (picker->fontMetrics().horizontalAdvance(picker->shownText()) > picker->textRect().width())
                fault(picker->shownText(), "is wider than its picker");
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            option.frame = combo->hasFrame();
            option.currentText = combo->currentText();
            option.subControls = QStyle::SC_All;
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            if (combo->fontMetrics().horizontalAdvance(combo->currentText()) > field.width())
                fault(combo->currentText(), "is wider than its picker");
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            if (!button->text().isEmpty() && button->width() < button->sizeHint().width())
                fault(button->text(), "is wider than its button");
        }
    }
    return found;
}

}  // namespace parlaro::test
