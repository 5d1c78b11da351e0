#include "app/QtHostWindow.h"

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

void setFlags(QWidget& widget, Qt::WindowFlags flags)
{
    // Changing flags unmaps a shown window; map it again as it was.
    const bool wasVisible = widget.isVisible();
    if (widget.windowFlags() != flags)
        widget.setWindowFlags(flags);
    if (wasVisible && !widget.isVisible())
        widget.show();
}

}  // namespace

struct QtHostWindow::Tracked {
    QPointer<QWidget> widget;
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

void QtHostWindow::showHidden(bool inFront)
{
    revealed_ = false;
    QWidget* widget = widget_->widget;
    if (!widget)
        return;
    setFlags(*widget, frameFlags | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    widget->setAttribute(Qt::WA_ShowWithoutActivating, true);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    widget->setWindowOpacity(0.0);
    widget->show();
    if (inFront)
        widget->raise();
    else
        widget->lower();
}

void QtHostWindow::showRevealed()
{
    revealed_ = true;
    QWidget* widget = widget_->widget;
    if (!widget)
        return;
    // Before the flags: a widget that ignores the mouse is made a window
    // that passes input through.
    widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
    widget->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setFlags(*widget, frameFlags);
    widget->setWindowOpacity(1.0);
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
    auto* widget = new QWidget(nullptr, frameFlags | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
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
