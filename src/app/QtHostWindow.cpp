#include "app/QtHostWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <vector>

namespace parlaro::app {

namespace {

// A titled frame without close, minimise or maximise buttons, kept out of
// the task bar and window cycling.
constexpr Qt::WindowFlags frameFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

}  // namespace

struct QtHostWindow::Tracked {
    QPointer<QWidget> widget;
    // The window that was active when this one was revealed, to give the
    // keyboard back to when it hides again.
    QPointer<QWidget> previouslyActive;
};

struct QtHostWindows::Made {
    std::vector<QPointer<QWidget>> widgets;
};

QtHostWindow::QtHostWindow(QWidget* widget) : widget_(std::make_unique<Tracked>(Tracked{widget}))
{
}

QtHostWindow::~QtHostWindow() = default;

QWidget* QtHostWindow::widget() const
{
    return widget_->widget;
}

void QtHostWindow::showHidden(bool /*inFront*/)
{
    // Hidden means not mapped at all. What the host keeps alive lives in
    // the engine, not in this widget, and a mapped window cannot be made
    // invisible everywhere: without a compositor zero opacity is a black
    // box, on Wayland it is ignored, the window takes clicks, and raising
    // or lowering it does nothing.
    revealed_ = false;
    QWidget* widget = widget_->widget;
    if (!widget)
        return;
    // The window system may not have told us yet that this one got the
    // keyboard; unless the user has since gone to yet another window of
    // ours, the one that had it before gets it back. Asked before the unmap:
    // afterwards an X server without a window manager has already moved the
    // focus at a later time and would ignore the request.
    QWidget* before = widget_->previouslyActive;
    QWidget* active = QApplication::activeWindow();
    if (before && before->isVisible() && (!active || active == widget || active == before))
        before->activateWindow();
    widget_->previouslyActive = nullptr;
    widget->hide();
}

void QtHostWindow::showRevealed()
{
    QWidget* widget = widget_->widget;
    if (!widget) {
        revealed_ = true;
        return;
    }
    if (!revealed_) {
        QWidget* active = QApplication::activeWindow();
        widget_->previouslyActive = active != widget ? active : nullptr;
    }
    revealed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = widget->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        widget->move(frame.topLeft());
    }
    widget->show();
    widget->raise();
    widget->activateWindow();
}

bool QtHostWindow::isRevealed() const
{
    return revealed_ && widget_->widget;
}

bool QtHostWindow::isHostWindow(const QWidget* widget)
{
    return widget && widget->property(marker).toBool();
}

QtHostWindows::QtHostWindows() : made_(std::make_unique<Made>())
{
}

QtHostWindows::~QtHostWindows()
{
    for (const QPointer<QWidget>& widget : made_->widgets)
        delete widget.data();
}

std::shared_ptr<HostWindow> QtHostWindows::makeHostWindow(HostWindowContent content)
{
    auto* widget = new QWidget(nullptr, frameFlags);
    widget->setObjectName(QStringLiteral("translationHost"));
    widget->setProperty(QtHostWindow::marker, true);
    widget->setWindowTitle(QString::fromStdString(content.title));
    widget->setFixedSize(static_cast<int>(content.width), static_cast<int>(content.height));
    auto* layout = new QVBoxLayout(widget);
    auto* progress = new QProgressBar(widget);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    auto* prompt = new QLabel(QString::fromStdString(content.prompt), widget);
    prompt->setWordWrap(true);
    prompt->setAlignment(Qt::AlignCenter);
    layout->addStretch();
    layout->addWidget(progress);
    layout->addWidget(prompt);
    layout->addStretch();
    made_->widgets.emplace_back(widget);
    return std::make_shared<QtHostWindow>(widget);
}

}  // namespace parlaro::app
