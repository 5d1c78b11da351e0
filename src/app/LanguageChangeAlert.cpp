#include "app/LanguageChangeAlert.h"

#include "model/AppModel.h"
#include "settings/CloseQuietly.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"

#include <QMessageBox>
#include <QPushButton>

namespace parlaro::app {

using ui::q;

LanguageChangeAlert::LanguageChangeAlert(std::shared_ptr<AppModel> model, QWidget* host)
    : QObject(host), model_(std::move(model)), host_(host)
{
    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

LanguageChangeAlert::~LanguageChangeAlert()
{
    binding_.reset();
    settings::closeQuietly(box_, this);
}

QString LanguageChangeAlert::message(const AppModel& model)
{
    const auto& pending = model.pendingLanguageChange();
    if (!pending)
        return {};
    return q(localized("切换到 我说%@ → 对方说%@，需要下载：\n%@\n\n现在下载吗？不下载就保持原来的语言。",
                       pending->my.displayName(), pending->their.displayName(),
                       InterfaceLanguage::list(pending->needs)));
}

void LanguageChangeAlert::refresh()
{
    const bool wanted = model_->pendingLanguageChange().has_value() && !model_->showWizard();
    // Read every time, so a change of interface language re-renders it.
    const QString title = q(localized("需要下载"));
    const QString text = message(*model_);
    const QString cancelText = q(localized("取消"));
    const QString downloadText = q(localized("下载"));
    if (!wanted || !host_) {
        settings::closeQuietly(box_, this);
        return;
    }
    if (box_) {
        if (box_->windowTitle() != title)
            box_->setWindowTitle(title);
        if (box_->text() != title)
            box_->setText(title);
        if (box_->informativeText() != text)
            box_->setInformativeText(text);
        if (cancel_ && cancel_->text() != cancelText)
            cancel_->setText(cancelText);
        if (download_ && download_->text() != downloadText)
            download_->setText(downloadText);
        return;
    }
    // Many desktops draw no title on a dialog attached to its window: the
    // heading is repeated in the body, above the question.
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, title, QMessageBox::NoButton, host_);
    box->setObjectName(QStringLiteral("languageChangeAlert"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(text);
    auto* cancel = box->addButton(cancelText, QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("languageChangeAlert.cancel"));
    auto* download = box->addButton(downloadText, QMessageBox::AcceptRole);
    download->setObjectName(QStringLiteral("languageChangeAlert.download"));
    box->setDefaultButton(download);
    box->setEscapeButton(cancel);
    box_ = box;
    cancel_ = cancel;
    download_ = download;
    connect(box, &QDialog::finished, this, [this] { finished(); });
    box->open();
}

void LanguageChangeAlert::finished()
{
    if (!box_)
        return;
    QMessageBox* box = box_;
    const bool download = box->clickedButton() && box->clickedButton() == download_.data();
    box_ = nullptr;
    box->deleteLater();
    // Both operations clear the pending change; a second answer to the same
    // alert can never arrive.
    if (download)
        model_->chooseLanguage();
    else if (model_->pendingLanguageChange())
        model_->keepLanguages();
}

}  // namespace parlaro::app
