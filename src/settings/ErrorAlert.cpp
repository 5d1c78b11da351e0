#include "settings/ErrorAlert.h"

#include "model/AppModel.h"
#include "settings/CloseQuietly.h"
#include "speech/Localization.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace parlaro::ui {

ErrorAlert::ErrorAlert(std::shared_ptr<AppModel> model, QWidget* host, std::function<bool()> active)
    : QObject(host), model_(std::move(model)), host_(host), active_(std::move(active))
{
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

ErrorAlert::~ErrorAlert()
{
    binding_.reset();
    settings::closeQuietly(box_, this);
}

void ErrorAlert::refresh()
{
    // Both are read every time, so a change of either brings a refresh.
    const auto& message = model_->errorMessage();
    bool active = active_();
    const bool holding = model_->isHoldingToTalk.get();
    if (!active || !message || !host_) {
        settings::closeQuietly(box_, this);
        return;
    }
    // A host not on screen yet (a window starting, a sheet waiting for its
    // window) would come up over an alert shown now. A window put away in
    // the tray is not waited for: the alert is all the user would see.
    QWidget* owner = host_->isWindow() && host_->parentWidget() ? host_->parentWidget()->window() : host_->window();
    const bool ownerPutAway = !owner->isVisible() && owner->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (!box_ && !host_->isVisible() && !ownerPutAway) {
        if (!awaitingHost_) {
            awaitingHost_ = true;
            host_->installEventFilter(this);
        }
        return;
    }
    QString text = q(*message);
    // Word joiners only steer where a path breaks: a screen reader hears
    // the words without them.
    auto speak = [](QMessageBox* box, QString text) {
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            updates::setAccessibleName(label, text.remove(QChar(0x2060)));
    };
    if (box_) {
        if (box_->text() != text)
            box_->setText(text);
        speak(box_, text);
        if (focusOwed_ && !holding)
            takeFocus();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, q(localized("提示")), text, QMessageBox::NoButton, host_);
    box->setObjectName(QStringLiteral("errorAlert"));
    box->setTextFormat(Qt::PlainText);
    speak(box, text);
    auto* ok = box->addButton(q(localized("好")), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("errorAlert.ok"));
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box_ = box;
    connect(box, &QDialog::finished, this, [this] { finished(); });
    // Never modal, and never taking the focus in the middle of a hold,
    // whose release (by mouse or key) must still reach the window; it takes
    // the keyboard once the hold is over.
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_ShowWithoutActivating, holding);
    box->show();
    focusOwed_ = true;
    if (!holding)
        takeFocus();
}

void ErrorAlert::takeFocus()
{
    focusOwed_ = false;
    // Over whatever came up since, with Enter, Space and Escape acting on it.
    box_->raise();
    box_->activateWindow();
    if (auto* button = box_->defaultButton())
        button->setFocus(Qt::ActiveWindowFocusReason);
}

bool ErrorAlert::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == host_ && event->type() == QEvent::Show && awaitingHost_) {
        awaitingHost_ = false;
        host_->removeEventFilter(this);
        // Once the host's own show, and its taking the keyboard, are done.
        QMetaObject::invokeMethod(
            this, [this] { binding_->refreshNow(); }, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void ErrorAlert::finished()
{
    if (box_)
        box_->deleteLater();
    box_ = nullptr;
    model_->dismissError();
}

}  // namespace parlaro::ui
