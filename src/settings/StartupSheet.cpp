#include "settings/StartupSheet.h"

#include "model/AppModel.h"
#include "settings/ErrorAlert.h"
#include "settings/InstallDriverView.h"
#include "settings/MicCheckView.h"
#include "settings/WizardView.h"
#include "ui/StatusDot.h"
#include "ui/ViewBinding.h"

#include <QEvent>
#include <QVBoxLayout>

namespace parlaro::ui {

SheetDialog::SheetDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("startupSheet"));
    setWindowModality(Qt::WindowModal);
    setModal(true);
}

void SheetDialog::closeQuietly()
{
    closing_ = true;
    done(QDialog::Rejected);
    closing_ = false;
}

void SheetDialog::reject()
{
    if (closing_) {
        QDialog::reject();
        return;
    }
    if (onDismiss)
        onDismiss();
}

bool SheetDialog::event(QEvent* event)
{
    bool handled = QDialog::event(event);
    // The width is fixed; the height follows the content, wrapped texts
    // included.
    if (event->type() == QEvent::LayoutRequest)
        fitHeight();
    return handled;
}

void SheetDialog::setSheetWidth(int width)
{
    if (minimumWidth() == width && maximumWidth() == width)
        return;
    const bool placed = isVisible();
    const int centre = x() + this->width() / 2;
    setFixedWidth(width);
    if (placed)
        move(centre - width / 2, y());
}

void SheetDialog::fitHeight()
{
    if (!layout())
        return;
    int height =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : layout()->totalSizeHint().height();
    if (height > 0 && this->height() != height)
        setFixedHeight(height);
}

StartupSheet::StartupSheet(std::shared_ptr<AppModel> model, QWidget* window)
    : QObject(window), model_(std::move(model)), dialog_(new SheetDialog(window))
{
    auto* outer = new QVBoxLayout(dialog_);
    outer->setContentsMargins(0, 0, 0, 0);
    background_ = new AppBackground(dialog_);
    background_->setObjectName(QStringLiteral("startupSheet.background"));
    auto* inner = new QVBoxLayout(background_);
    inner->setContentsMargins(padding, padding, padding, padding);
    outer->addWidget(background_);
    dialog_->onDismiss = [this] { dismissTopRequest(); };
    alert_ = new ErrorAlert(model_, dialog_, [model = model_] { return model->isShowingSheet(); });
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

StartupSheet::~StartupSheet()
{
    binding_.reset();
    if (dialog_) {
        dialog_->onDismiss = nullptr;
        delete dialog_.data();
    }
}

void StartupSheet::refresh()
{
    if (!dialog_)
        return;
    bool install = model_->showInstallSheet();
    bool micCheck = model_->showMicCheck();
    bool wizard = model_->showWizard();
    if (!install && !micCheck && !wizard) {
        show(Page::none);
        if (dialog_->isVisible())
            dialog_->closeQuietly();
        return;
    }
    show(install ? Page::install : micCheck ? Page::micCheck : Page::wizard);
    if (!dialog_->isVisible())
        dialog_->open();
}

void StartupSheet::show(Page page)
{
    if (page == page_)
        return;
    page_ = page;
    // Each page starts afresh: a microphone check opened again has no
    // candidate of its own until it takes the model's selection.
    delete content_.data();
    content_ = nullptr;
    switch (page) {
    case Page::none:
        return;
    case Page::install:
        content_ = new InstallDriverView(model_, background_);
        break;
    case Page::micCheck:
        content_ = new MicCheckView(model_, background_);
        break;
    case Page::wizard:
        content_ = new WizardView(model_, background_);
        break;
    }
    background_->layout()->addWidget(content_);
    dialog_->setSheetWidth(page == Page::wizard ? wizardWidth : narrowWidth);
    content_->show();
    dialog_->setFocus();
}

void StartupSheet::dismissTopRequest()
{
    if (model_->showInstallSheet())
        model_->closeInstallSheet();
    else if (model_->showMicCheck())
        model_->closeMicCheck();
    else if (model_->showWizard())
        model_->finishOnboarding();
}

}  // namespace parlaro::ui
