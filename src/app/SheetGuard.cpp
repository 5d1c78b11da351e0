#include "app/SheetGuard.h"

#include "settings/StartupSheet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace parlaro::app {

namespace {

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

}  // namespace

SheetGuard::SheetGuard(QWidget* window) : QObject(window), window_(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

SheetGuard::~SheetGuard()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool SheetGuard::isSheetOf(const QWidget* widget, const QWidget* window)
{
    const auto* drawn = qobject_cast<const ui::SheetDialog*>(widget);
    const bool inWindow = drawn && drawn->isInWindow();
    if (!widget || !window || widget == window || !(widget->isWindow() || inWindow)
        || widget->windowModality() != Qt::WindowModal)
        return false;
    for (const QWidget* owner = widget->parentWidget(); owner; owner = owner->parentWidget())
        if (owner == window)
            return true;
    return false;
}

QWidget* SheetGuard::sheetUp() const
{
    for (auto sheet = sheets_.rbegin(); sheet != sheets_.rend(); ++sheet)
        if (*sheet && (*sheet)->isVisible() && isSheetOf(*sheet, window_))
            return *sheet;
    return nullptr;
}

bool SheetGuard::inWindow(QObject* watched) const
{
    if (watched == window_->windowHandle())
        return true;
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget && widget->window() == window_;
}

bool SheetGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (!window_)
        return false;
    // The show event comes before the window system is asked to show the
    // dialog, when its toolkit window would be registered as modal.
    if (event->type() == QEvent::Show) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (isSheetOf(widget, window_) && (widget->windowHandle() || !widget->isWindow())) {
            if (widget->isWindow())
                widget->windowHandle()->setModality(Qt::NonModal);
            if (std::find(sheets_.begin(), sheets_.end(), widget) == sheets_.end())
                sheets_.emplace_back(widget);
            std::erase_if(sheets_, [](const QPointer<QWidget>& sheet) { return sheet.isNull(); });
        }
        return false;
    }
    QWidget* sheet = sheetUp();
    if (!sheet || !inWindow(watched))
        return false;
    // A sheet drawn inside the window takes its input through the window:
    // what goes to it and its controls passes, the rest of the window is
    // kept from it.
    if (!sheet->isWindow()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget == sheet || sheet->isAncestorOf(widget))
            return false;
    }
    // The window's own activation hands the keyboard on to the sheet, as a
    // click on the window does: the sheet is what asks for an answer.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::MouseButtonPress) {
        QTimer::singleShot(0, sheet, [sheet = QPointer<QWidget>(sheet)] {
            if (sheet && sheet->isVisible()) {
                sheet->raise();
                sheet->activateWindow();
                auto* drawn = qobject_cast<ui::SheetDialog*>(sheet.data());
                if (drawn && drawn->isInWindow() && !drawn->isAncestorOf(QApplication::focusWidget()))
                    drawn->focusFirstControl();
            }
        });
    }
    if (isInput(event->type())) {
        // Claimed, so no shortcut of the window fires either.
        event->accept();
        return true;
    }
    return false;
}

}  // namespace parlaro::app
