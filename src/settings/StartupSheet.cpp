#include "settings/StartupSheet.h"

#include "model/AppModel.h"
#include "settings/ErrorAlert.h"
#include "settings/InstallDriverView.h"
#include "settings/MicCheckView.h"
#include "settings/WizardView.h"
#include "ui/StatusDot.h"
#include "ui/ViewBinding.h"

#include "ui/Palette.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace parlaro::ui {

SheetDialog::SheetDialog(QWidget* parent, bool inWindow)
    // A sheet of its window: a title and a close button, nothing to minimise
    // or maximise on its own.
    : QDialog(inWindow && parent ? parent->window() : parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      inWindow_(inWindow && parent)
{
    setObjectName(QStringLiteral("startupSheet"));
    if (inWindow_) {
        setWindowFlags(Qt::Widget);
        // A hairline around it, as the desktop's frame would be.
        setContentsMargins(1, 1, 1, 1);
        setAutoFillBackground(true);
        QPalette edge = palette();
        edge.setColor(QPalette::Window, Palette::hairline());
        setPalette(edge);
    }
    setWindowModality(Qt::WindowModal);
    setModal(true);
    // Presses and releases go to the sheet's controls, not to the sheet.
    QCoreApplication::instance()->installEventFilter(this);
}

bool SheetDialog::drawnInWindow()
{
    return QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
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
    // Drawn inside the window, the sheet holds the window's shortcuts off
    // while the keyboard is on it, as a window of its own would: Esc ends
    // the sheet rather than a playback behind it.
    if (inWindow_ && event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    bool handled = QDialog::event(event);
    // The width is fixed; the height follows the content, wrapped texts
    // included.
    if (event->type() == QEvent::LayoutRequest)
        fitHeight();
    return handled;
}

void SheetDialog::showEvent(QShowEvent* event)
{
    // The content's window may have been made after this dialog (it was
    // opened early, or its parent moved into the window later): without
    // being told, the desktop takes the sheet for a window of its own and
    // places it anywhere (on Wayland nothing else can place it).
    if (QWidget* main = owner()) {
        if (watched_ != main) {
            if (watched_)
                watched_->removeEventFilter(this);
            watched_ = main;
            main->installEventFilter(this);
        }
        if (!inWindow_) {
            main->winId();
            winId();
            if (windowHandle()->transientParent() != main->windowHandle())
                windowHandle()->setTransientParent(main->windowHandle());
        }
    }
    QDialog::showEvent(event);
    held_ = false;
    place();
}

bool SheetDialog::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        // A release counts wherever it lands: a list the press opened may
        // take it.
        const bool onSheet = widget && (inWindow_ ? widget == this || isAncestorOf(widget) : widget->window() == this);
        if (widget && (onSheet || type == QEvent::MouseButtonRelease)) {
            held_ = type == QEvent::MouseButtonPress;
            // After the control has had its release, so the click is its own.
            if (!held_ && pending_)
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        pending_ = false;
                        fitHeight();
                        place();
                    },
                    Qt::QueuedConnection);
        }
        return QDialog::eventFilter(watched, event);
    }
    // The window moved or changed its size: the sheet goes with it.
    if (watched == watched_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        place();
    return QDialog::eventFilter(watched, event);
}

void SheetDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    place();
}

QWidget* SheetDialog::owner() const
{
    QWidget* parent = parentWidget();
    return parent ? parent->window() : nullptr;
}

void SheetDialog::place()
{
    QWidget* main = owner();
    if (!main || !isVisible())
        return;
    // Moved between a press and its release, the sheet would take the
    // button from under the pointer and the click would be lost.
    if (held_) {
        pending_ = true;
        return;
    }
    // Centred on the window, and inside it as far as it fits: a sheet
    // taller than the window starts at its top.
    if (inWindow_) {
        const QRect area = above(main->rect(), QPoint(0, 0));
        QPoint at = area.center() - QRect(QPoint(0, 0), size()).center();
        at.setX(std::max(0, std::min(at.x(), area.width() - width())));
        at.setY(std::max(0, std::min(at.y(), area.height() - height())));
        if (pos() != at)
            move(at);
        raise();
        return;
    }
    const QRect area = above(main->geometry(), main->geometry().topLeft());
    const QRect sheet(QPoint(0, 0), size());
    QPoint at = area.center() - sheet.center();
    at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - width())));
    at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - height())));
    // A window moves by its frame; `at` is where its inside goes.
    const QPoint frame = geometry().topLeft() - pos();
    if (geometry().topLeft() != at)
        move(at - frame);
}

void SheetDialog::keepInSight(QWidget* part)
{
    if (inSight_ == part)
        return;
    inSight_ = part;
    place();
}

QRect SheetDialog::above(QRect area, QPoint origin) const
{
    QWidget* main = owner();
    if (!inSight_ || !main || inSight_->window() != main || !inSight_->isVisible())
        return area;
    const int top = origin.y() + inSight_->mapTo(main, QPoint(0, 0)).y();
    if (top - area.top() >= height())
        area.setBottom(top - 1);
    return area;
}

bool SheetDialog::focusNextPrevChild(bool next)
{
    // A sheet going away hands the keyboard on to the window.
    if (!inWindow_ || isHidden())
        return QDialog::focusNextPrevChild(next);
    // Tab goes round the sheet's own controls, never out to the window
    // behind it.
    QWidget* from = focusWidget() ? focusWidget() : this;
    QWidget* step = from;
    do {
        step = next ? step->nextInFocusChain() : step->previousInFocusChain();
        if (step != this && isAncestorOf(step) && step->isVisibleTo(this) && step->isEnabled()
            && (step->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            step->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    } while (step != from);
    return true;
}

void SheetDialog::fitHeight()
{
    if (!layout())
        return;
    if (held_) {
        pending_ = true;
        return;
    }
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
    // A screen reader names the sheet by the title its page shows.
    const QString title = install ? InstallDriverView::title(*model_)
        : micCheck                ? MicCheckView::title()
                                  : WizardView::title();
    if (dialog_->windowTitle() != title)
        dialog_->setWindowTitle(title);
    if (!dialog_->isVisible())
        openOverWindow();
}

void StartupSheet::openOverWindow()
{
    // Every page opens the same way. Where the desktop places windows
    // itself and the program cannot move them (Wayland), it centres a sheet
    // on its window only if that window is on screen when the sheet first
    // shows: a sheet asked for before the window shows waits for it.
    QWidget* owner = dialog_->parentWidget() ? dialog_->parentWidget()->window() : nullptr;
    if (owner && !owner->isVisible()) {
        if (awaited_ != owner) {
            if (awaited_)
                awaited_->removeEventFilter(this);
            awaited_ = owner;
            owner->installEventFilter(this);
        }
        return;
    }
    dialog_->open();
}

bool StartupSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == awaited_ && event->type() == QEvent::Show) {
        awaited_->removeEventFilter(this);
        awaited_ = nullptr;
        // Once the window's own show has run its course.
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
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
    dialog_->setFixedWidth(page == Page::wizard ? wizardWidth : narrowWidth);
    content_->show();
    // The keyboard starts on the page's first control, where a screen
    // reader starts reading too.
    dialog_->focusFirstControl();
}

void SheetDialog::focusFirstControl()
{
    for (QWidget* next = nextInFocusChain(); next && next != this; next = next->nextInFocusChain()) {
        if (isAncestorOf(next) && next->isVisibleTo(this) && next->isEnabled()
            && (next->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    setFocus();
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
