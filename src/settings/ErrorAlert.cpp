#include "settings/ErrorAlert.h"

#include "model/AppModel.h"
#include "settings/CloseQuietly.h"
#include "speech/Localization.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

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
    if (!active || !message || !host_) {
        settings::closeQuietly(box_, this);
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
    // Never modal, and never taking the focus from a hold: a notice may come
    // up in the middle of one, whose release (by mouse or key) must still
    // reach the window. Otherwise it has the keyboard, so Enter, Space and
    // Esc answer it at once, as they would a window manager's own dialog.
    box->setWindowModality(Qt::NonModal);
    const bool holding = model_->isHoldingToTalk.get();
    box->setAttribute(Qt::WA_ShowWithoutActivating, holding);
    box->show();
    if (!holding) {
        box->raise();
        box->activateWindow();
    }
}

void ErrorAlert::finished()
{
    if (box_)
        box_->deleteLater();
    box_ = nullptr;
    model_->dismissError();
}

}  // namespace parlaro::ui
