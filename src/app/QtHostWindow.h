#pragma once

#include "platform/HostWindow.h"

#include <memory>

class QWidget;

namespace parlaro::app {

// The translation host's window as a Qt tool window. While hidden it is not
// mapped at all, so it cannot be seen, clicked or focused under any window
// system; revealed, it is an ordinary small dialog in front, centred, so a
// download prompt has something to stand over, and hiding it again gives
// the keyboard back to the window that had it. It is marked so the search
// for the main window always skips it.
// (No Qt header here: engine headers that include this one use Qt's
// keywords as names.)
class QtHostWindow final : public HostWindow {
public:
    // The window's widget belongs to its maker; this handle outlives it
    // safely and then does nothing.
    explicit QtHostWindow(QWidget* widget);
    ~QtHostWindow() override;

    void showHidden(bool inFront) override;
    void showRevealed() override;
    bool isRevealed() const override;

    // None once the maker has deleted it.
    QWidget* widget() const;

    // The dynamic property that marks the host's window.
    static constexpr const char* marker = "parlaroTranslationHost";
    static bool isHostWindow(const QWidget* widget);

private:
    struct Tracked;
    std::unique_ptr<Tracked> widget_;
    bool revealed_ = false;
};

// Makes the host's windows and owns their widgets: they are deleted with
// the factory, which must go before the QApplication does, while the host
// that asked for them may live until the process ends.
class QtHostWindows final : public HostWindowFactory {
public:
    QtHostWindows();
    ~QtHostWindows() override;
    QtHostWindows(const QtHostWindows&) = delete;
    QtHostWindows& operator=(const QtHostWindows&) = delete;

    std::shared_ptr<HostWindow> makeHostWindow(HostWindowContent content) override;

private:
    struct Made;
    std::unique_ptr<Made> made_;
};

}  // namespace parlaro::app
