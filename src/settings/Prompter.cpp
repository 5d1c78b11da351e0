#include "settings/Prompter.h"

#include "ui/Text.h"

#include <QMessageBox>
#include <QPushButton>

namespace parlaro::settings {

namespace {

class MessageBoxPrompter final : public Prompter {
public:
    void confirm(QWidget* parent, const std::string& title, const std::string& message,
                 const std::string& destructiveButton, std::function<void()> onConfirm) override
    {
        // The question goes in the body as well: many desktops draw no title
        // on a dialog attached to its window, and the user must see what is
        // being deleted.
        auto* box = new QMessageBox(QMessageBox::Warning, ui::q(title), ui::q(title), QMessageBox::NoButton, parent);
        box->setObjectName(QStringLiteral("prompter.confirm"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(ui::q(message));
        QPushButton* destroy = box->addButton(ui::q(destructiveButton), QMessageBox::DestructiveRole);
        // Return, or a press meant for something else, deletes nothing.
        QPushButton* cancel = box->addButton(ui::q(localized("取消")), QMessageBox::RejectRole);
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
        QObject::connect(box, &QMessageBox::buttonClicked, box, [destroy, onConfirm](QAbstractButton* clicked) {
            if (clicked == destroy && onConfirm)
                onConfirm();
        });
        box->open();
    }

    void alert(QWidget* parent, const std::string& message) override
    {
        auto* box = new QMessageBox(QMessageBox::Warning, ui::q(localized("提示")), ui::q(message),
                                    QMessageBox::NoButton, parent);
        box->setObjectName(QStringLiteral("prompter.alert"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        QPushButton* ok = box->addButton(ui::q(localized("好")), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
        // A notice blocks nothing: the window behind it keeps working. It
        // answers what the user just asked for, so it takes the keyboard,
        // or Enter and Escape would reach it only through the window manager.
        box->setWindowModality(Qt::NonModal);
        box->show();
        box->raise();
        box->activateWindow();
        ok->setFocus(Qt::ActiveWindowFocusReason);
    }
};

Prompter* installed = nullptr;

}  // namespace

Prompter& Prompter::shared()
{
    static MessageBoxPrompter boxes;
    return installed ? *installed : boxes;
}

Prompter::Scope::Scope(Prompter& prompter) : previous_(installed)
{
    installed = &prompter;
}

Prompter::Scope::~Scope()
{
    installed = previous_;
}

}  // namespace parlaro::settings
